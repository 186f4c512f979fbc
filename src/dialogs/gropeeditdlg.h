#pragma once

#include "tags/picture.h"

#include <QDialog>
#include <QString>

#include <array>

class CCoverView;
class LimitedLineEdit;
class QCheckBox;
class QComboBox;
class QPushButton;
class QWidget;
class TagFile;

// "Grope Edit": fields to set to one value in every selected MP3 file, each with a check box; only ticked fields
// are written. Typing into a field ticks its box.
class CGropeEditDlg : public QDialog
{
    Q_OBJECT
public:
    // The fields in the order the dialog shows them.
    enum Field { Artist, Title, Album, Year, Track, Genre, Comment, FieldCount };

    explicit CGropeEditDlg(QWidget *parent = nullptr);
    // Where the cover's file dialog starts: the folder of the first file edited.
    void SetCoverFolder(const QString &folder) { m_coverFolder = folder; }

    bool IsTicked(Field field) const;
    void SetTicked(Field field, bool ticked);
    QString Text(Field field) const;   // empty for Genre
    // The genre text taken on OK (a name of the table, any other text, or empty to clear).
    QString GenreChoice() const { return m_genreChoice; }
    // The front cover for every selected file: ticked with an image chosen (from a file dialog, a file
    // dropped onto the picture, or SetCoverFromFile).
    bool IsCoverTicked() const;
    bool SetCoverFromFile(const QString &path);
    const Picture &CoverPicture() const { return m_coverPicture; }
    QCheckBox *CoverBox() const { return m_coverBox; }
    QPushButton *ChooseCoverButton() const { return m_chooseCover; }
    // Sets the fields ticked when OK was pressed on a record: text fields directly, the track through SetTrack,
    // the genre choice, the cover. Reads no widget, so it may run on another thread.
    void ApplyTo(TagFile &record) const;

    void Reset();
    QWidget *FieldControl(Field field) const { return m_controls[std::size_t(field)]; }
    QComboBox *GenreBox() const { return m_genre; }
    QPushButton *ResetButton() const { return m_reset; }

    void accept() override;

private:
    void OnTicked(Field field, bool ticked);
    void OnEdited(Field field);
    bool TakeValues();
    void TakeCover(const Picture &picture);

    std::array<QCheckBox *, FieldCount> m_boxes{};
    std::array<QWidget *, FieldCount> m_controls{};
    std::array<LimitedLineEdit *, FieldCount> m_edits{};   // null for Genre
    QComboBox *m_genre;
    QPushButton *m_reset;
    QString m_genreChoice;
    struct Taken
    {
        std::array<bool, FieldCount> ticked{};
        std::array<QString, FieldCount> texts;
        bool cover = false;
    } m_taken;   // what OK took
    QCheckBox *m_coverBox;
    QPushButton *m_chooseCover;
    CCoverView *m_cover;
    Picture m_coverPicture;
    QString m_coverFolder;
};
