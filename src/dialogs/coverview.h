#pragma once

#include "tags/picture.h"

#include <QLabel>

// A front cover shown scaled to the box, keeping its aspect ratio, or "No cover". An image file dropped onto it
// is offered through fileDropped; what the file holds is judged by whoever takes it.
class CCoverView : public QLabel
{
    Q_OBJECT
public:
    explicit CCoverView(QWidget *parent = nullptr);

    void SetPicture(const Picture &picture);
    const Picture &ShownPicture() const { return m_picture; }
    // Whether the picture could be drawn (a damaged image in a tag shows as a text instead).
    bool IsDrawn() const { return !m_image.isNull(); }
    void SetDropEnabled(bool enabled) { setAcceptDrops(enabled); }

Q_SIGNALS:
    void fileDropped(const QString &path);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void Redraw();

    Picture m_picture;
    QImage m_image;
};

// Reads an image file for a cover; a file that is no JPEG or PNG image, or too big, is refused with a message.
bool TakeCoverFile(QWidget *parent, const QString &path, Picture &picture);
// Asks for an image file ("Set Cover..."), starting in `startFolder` (the song's), and reads it. False when
// cancelled or refused.
bool ChooseCoverFile(QWidget *parent, Picture &picture, const QString &startFolder = QString());
