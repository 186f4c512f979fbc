#pragma once

#include <QHeaderView>
#include <QPixmap>

// The track list's header: shows our own up or down arrow on the column last sorted, and reports the end of a
// divider drag so the column widths can be saved then (not on every pixel of the drag).
class SortHeaderCtrl : public QHeaderView
{
    Q_OBJECT
public:
    explicit SortHeaderCtrl(QWidget *parent = nullptr);

    void SetSortImage(int column, bool ascending);
    void RemoveSortImage(int column);
    void RemoveAllSortImages();
    // The arrow shown on a column: 1 up, -1 down, 0 none.
    int SortImage(int column) const;

Q_SIGNALS:
    void DividerDragEnded();

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPixmap m_up;
    QPixmap m_down;
    QHash<int, int> m_images;
    bool m_resizedDuringPress = false;
};
