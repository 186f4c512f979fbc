#pragma once

#include "tags/tagfile.h"

#include <QDialog>

class CCoverView;
class CRightView;
class LimitedLineEdit;
class QComboBox;
class QLineEdit;
class QPushButton;

// "Tag  Information": the tag of one row of the list, edited, written back, cleared or reset, with "<< Prev" and
// "Next >>" stepping through every row of the list in display order. Rows that are not MP3 files are shown
// read-only: nothing is ever written into them.
class CTagEditDlg : public QDialog
{
    Q_OBJECT
public:
    CTagEditDlg(CRightView &view, int row, QWidget *parent = nullptr);

    int Row() const { return m_row; }
    bool IsChanged() const { return m_changed; }

    // The buttons, for the keyboard and for tests.
    void Update();
    void Prev();
    void Next();
    void Reset();
    void ClearAll();
    // The front cover: taken from an image file (refused with a message when it is no JPEG or PNG image),
    // asked for with a file dialog, or removed. Written with the other fields by Update.
    bool SetCoverFromFile(const QString &path);
    void ChooseCover();
    void RemoveCover();

    QLineEdit *TrackEdit() const;
    QLineEdit *ArtistEdit() const;
    QLineEdit *TitleEdit() const;
    QLineEdit *AlbumEdit() const;
    QLineEdit *YearEdit() const;
    QLineEdit *CommentEdit() const;
    QComboBox *GenreBox() const { return m_genre; }
    QPushButton *PrevButton() const { return m_prev; }
    QPushButton *NextButton() const { return m_next; }
    CCoverView *CoverView() const { return m_cover; }
    QPushButton *SetCoverButton() const { return m_setCover; }
    QPushButton *RemoveCoverButton() const { return m_removeCover; }

private:
    void LoadRow();
    void ShowRecord();
    // Reads the controls back; false (after the message) at the first changed text that is over its limit.
    bool TakeValues();
    void WriteBack();
    void Step(int delta);
    void SetEditable(bool editable);
    void ShowCover(const Picture &picture, bool changed);

    CRightView &m_view;
    int m_row;
    TagFile m_record;
    bool m_changed = false;
    bool m_editable = true;   // the row is an MP3 file
    bool m_coverEditable = false;
    Picture m_loadedCover;    // the file's front cover when the row was loaded
    bool m_coverChanged = false;

    LimitedLineEdit *m_track;
    LimitedLineEdit *m_artist;
    LimitedLineEdit *m_title;
    LimitedLineEdit *m_album;
    LimitedLineEdit *m_year;
    LimitedLineEdit *m_comment;
    QComboBox *m_genre;
    QLineEdit *m_path;
    QLineEdit *m_size;
    QPushButton *m_prev;
    QPushButton *m_next;
    QPushButton *m_reset;
    QPushButton *m_clear;
    CCoverView *m_cover;
    QPushButton *m_setCover;
    QPushButton *m_removeCover;
};
