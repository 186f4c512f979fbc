#include "dialogs/gropeeditdlg.h"

#include "dialogs/coverview.h"
#include "dialogs/genrebox.h"
#include "dialogs/limitedit.h"
#include "dialogs/prompter.h"
#include "library/trackrecord.h"
#include "tags/tagfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CGropeEditDlg::CGropeEditDlg(QWidget *parent)
    : QDialog(parent), m_genre(new QComboBox(this)), m_coverBox(new QCheckBox(this)),
      m_chooseCover(new QPushButton(tr("Choose..."), this)), m_cover(new CCoverView(this))
{
    setWindowTitle(tr("Grope Edit"));
    FillGenreBox(m_genre, false);
    struct Row
    {
        Field field;
        const char *label;
        int limit;
    };
    const Row rows[] = {{Artist, "Artist", 100}, {Title, "Title", 100}, {Album, "Album", 100}, {Year, "Year", 4},
                        {Track, "Track", 4},     {Genre, "Genre", 0},    {Comment, "Comment", 100}};
    auto *group = new QGroupBox(tr("Edit Tags"), this);
    auto *grid = new QGridLayout(group);
    for (const Row &row : rows) {
        const auto i = std::size_t(row.field);
        if (row.field == Genre) {
            m_controls[i] = m_genre;
        } else {
            m_edits[i] = new LimitedLineEdit(row.limit, this);
            m_controls[i] = m_edits[i];
        }
        m_boxes[i] = new QCheckBox(this);
        m_boxes[i]->setAccessibleName(tr(row.label));
        auto *label = new QLabel(tr(row.label), this);
        label->setBuddy(m_controls[i]);
        grid->addWidget(label, int(i), 0);
        grid->addWidget(m_controls[i], int(i), 1);
        grid->addWidget(m_boxes[i], int(i), 2);
        m_controls[i]->setEnabled(false);
        connect(m_boxes[i], &QCheckBox::clicked, this, [this, field = row.field](bool on) { OnTicked(field, on); });
        if (m_edits[i])
            connect(m_edits[i], &QLineEdit::textEdited, this, [this, field = row.field] { OnEdited(field); });
    }
    // The cover: a picture chosen once for every file.
    const int coverRow = int(FieldCount);
    auto *coverLabel = new QLabel(tr("Cover"), this);
    coverLabel->setBuddy(m_chooseCover);
    m_coverBox->setAccessibleName(tr("Cover"));
    m_cover->setFixedSize(96, 96);
    auto *coverControls = new QHBoxLayout;
    coverControls->addWidget(m_cover);
    coverControls->addWidget(m_chooseCover, 0, Qt::AlignTop);
    coverControls->addStretch(1);
    grid->addWidget(coverLabel, coverRow, 0, Qt::AlignTop);
    grid->addLayout(coverControls, coverRow, 1);
    grid->addWidget(m_coverBox, coverRow, 2, Qt::AlignTop);
    m_chooseCover->setAutoDefault(false);
    connect(m_chooseCover, &QPushButton::clicked, this, [this] {
        Picture picture;
        if (ChooseCoverFile(this, picture, m_coverFolder))
            TakeCover(picture);
    });
    connect(m_cover, &CCoverView::fileDropped, this, &CGropeEditDlg::SetCoverFromFile);
    connect(m_coverBox, &QCheckBox::clicked, this, [this](bool on) {
        if (on)
            m_reset->setEnabled(true);
    });
    grid->setColumnStretch(1, 1);
    connect(m_genre->lineEdit(), &QLineEdit::textEdited, this, [this] { OnEdited(Genre); });
    connect(m_genre, qOverload<int>(&QComboBox::activated), this, [this] { OnEdited(Genre); });

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_reset = buttons->addButton(tr("Reset"), QDialogButtonBox::ResetRole);
    m_reset->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGropeEditDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_reset, &QPushButton::clicked, this, &CGropeEditDlg::Reset);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    resize(420, sizeHint().height());
}

bool CGropeEditDlg::IsTicked(Field field) const { return m_boxes[std::size_t(field)]->isChecked(); }

void CGropeEditDlg::SetTicked(Field field, bool ticked)
{
    m_boxes[std::size_t(field)]->setChecked(ticked);
    OnTicked(field, ticked);
}

QString CGropeEditDlg::Text(Field field) const
{
    const LimitedLineEdit *edit = m_edits[std::size_t(field)];
    return edit ? edit->text() : QString();
}

bool CGropeEditDlg::IsCoverTicked() const { return m_coverBox->isChecked(); }

bool CGropeEditDlg::SetCoverFromFile(const QString &path)
{
    Picture picture;
    if (!TakeCoverFile(this, path, picture))
        return false;
    TakeCover(picture);
    return true;
}

void CGropeEditDlg::TakeCover(const Picture &picture)
{
    // Choosing a picture ticks the box, as typing into a field does.
    m_coverPicture = picture;
    m_cover->SetPicture(picture);
    m_coverBox->setChecked(true);
    m_reset->setEnabled(true);
}

void CGropeEditDlg::OnTicked(Field field, bool ticked)
{
    // Disabling a field keeps its text and its box's mark; Reset stays enabled once something was ticked.
    m_controls[std::size_t(field)]->setEnabled(ticked);
    if (ticked)
        m_reset->setEnabled(true);
}

void CGropeEditDlg::OnEdited(Field field)
{
    if (IsTicked(field))
        return;
    m_boxes[std::size_t(field)]->setChecked(true);
    m_reset->setEnabled(true);
}

void CGropeEditDlg::Reset()
{
    for (std::size_t i = 0; i < FieldCount; ++i) {
        m_boxes[i]->setChecked(false);
        if (m_edits[i])
            m_edits[i]->clear();
        m_controls[i]->setEnabled(false);
    }
    m_genre->setCurrentIndex(-1);
    m_genre->setEditText(QString());
    m_coverBox->setChecked(false);
    m_coverPicture = Picture();
    m_cover->SetPicture(m_coverPicture);
    m_reset->setEnabled(false);
}

bool CGropeEditDlg::TakeValues()
{
    for (LimitedLineEdit *edit : m_edits) {
        if (edit && edit->text().size() > edit->Limit()) {
            Prompter::Current().Tell(this, OverLimitMessage(edit->Limit()), QMessageBox::Warning);
            edit->setFocus();
            return false;
        }
    }
    return true;
}

void CGropeEditDlg::accept()
{
    // A name of the table is that genre, any other text the genre's text; an empty box clears the genre.
    m_genreChoice = m_genre->currentText().trimmed();
    if (IsCoverTicked() && m_coverPicture.IsEmpty()) {
        Prompter::Current().Tell(this, tr("Choose an image for the cover, or untick it."), QMessageBox::Warning);
        m_chooseCover->setFocus();
        return;
    }
    if (!TakeValues())
        return;
    // What OK took: ApplyTo reads only this, so the files can be written on another thread.
    for (std::size_t i = 0; i < FieldCount; ++i) {
        m_taken.ticked[i] = IsTicked(Field(i));
        m_taken.texts[i] = Text(Field(i));
    }
    m_taken.cover = IsCoverTicked() && !m_coverPicture.IsEmpty();
    QDialog::accept();
}

void CGropeEditDlg::ApplyTo(TagFile &record) const
{
    auto ticked = [this](Field field) { return m_taken.ticked[std::size_t(field)]; };
    auto text = [this](Field field) { return m_taken.texts[std::size_t(field)]; };
    if (ticked(Artist)) record.artist = text(Artist);
    if (ticked(Title)) record.title = text(Title);
    if (ticked(Album)) record.album = text(Album);
    if (ticked(Year)) record.year = text(Year);
    if (ticked(Comment)) record.comment = text(Comment);
    if (ticked(Track)) record.SetTrack(text(Track));
    if (ticked(Genre)) {
        if (m_genreChoice.isEmpty())
            record.ClearGenre();
        else
            record.SetGenreText(m_genreChoice);
    }
    if (m_taken.cover)
        record.SetFrontCover(m_coverPicture);
}
