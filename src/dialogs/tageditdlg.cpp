#include "dialogs/tageditdlg.h"

#include "dialogs/coverview.h"
#include "dialogs/genrebox.h"
#include "dialogs/limitedit.h"
#include "dialogs/prompter.h"
#include "tags/otheraudio.h"
#include "library/tracklistmodel.h"
#include "tracklist/rightview.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CTagEditDlg::CTagEditDlg(CRightView &view, int row, QWidget *parent)
    : QDialog(parent), m_view(view), m_row(row), m_track(new LimitedLineEdit(2, this)),
      m_artist(new LimitedLineEdit(100, this)), m_title(new LimitedLineEdit(100, this)),
      m_album(new LimitedLineEdit(100, this)), m_year(new LimitedLineEdit(4, this)),
      m_comment(new LimitedLineEdit(100, this)), m_genre(new QComboBox(this)), m_path(new QLineEdit(this)),
      m_size(new QLineEdit(this)), m_prev(new QPushButton(tr("<< Prev"), this)),
      m_next(new QPushButton(tr("Next >>"), this)), m_reset(new QPushButton(tr("Reset"), this)),
      m_clear(new QPushButton(tr("Clear All"), this)), m_cover(new CCoverView(this)),
      m_setCover(new QPushButton(tr("Set Cover..."), this)), m_removeCover(new QPushButton(tr("Remove Cover"), this))
{
    setWindowTitle(tr("Tag  Information"));
    FillGenreBox(m_genre, true);
    m_path->setReadOnly(true);
    m_size->setReadOnly(true);
    m_track->setMaximumWidth(m_track->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 16);
    m_year->setMaximumWidth(m_year->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    m_size->setMaximumWidth(m_size->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);

    auto *group = new QGroupBox(tr("Tag Info"), this);
    auto *grid = new QGridLayout(group);
    auto label = [this](const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    grid->addWidget(label(tr("Track #"), m_track), 0, 0);
    auto *firstRow = new QHBoxLayout;
    firstRow->addWidget(m_track);
    firstRow->addSpacing(12);
    firstRow->addWidget(label(tr("Year"), m_year));
    firstRow->addWidget(m_year);
    firstRow->addSpacing(12);
    firstRow->addWidget(label(tr("Genre"), m_genre));
    firstRow->addWidget(m_genre, 1);
    grid->addLayout(firstRow, 0, 1);
    grid->addWidget(label(tr("Artist"), m_artist), 1, 0);
    grid->addWidget(m_artist, 1, 1);
    grid->addWidget(label(tr("Title"), m_title), 2, 0);
    grid->addWidget(m_title, 2, 1);
    grid->addWidget(label(tr("Album"), m_album), 3, 0);
    grid->addWidget(m_album, 3, 1);
    grid->addWidget(label(tr("Comment"), m_comment), 4, 0);
    grid->addWidget(m_comment, 4, 1);
    grid->addWidget(m_path, 5, 0, 1, 2);
    auto *sizeRow = new QHBoxLayout;
    sizeRow->addWidget(m_size);
    sizeRow->addWidget(new QLabel(tr("Kb"), this));
    sizeRow->addStretch(1);
    sizeRow->addWidget(m_prev);
    sizeRow->addWidget(m_next);
    grid->addLayout(sizeRow, 6, 0, 1, 2);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *update = buttons->addButton(tr("Update"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    buttons->addButton(m_reset, QDialogButtonBox::ResetRole);
    buttons->addButton(m_clear, QDialogButtonBox::ActionRole);
    update->setDefault(true);
    m_prev->setAutoDefault(false);
    m_next->setAutoDefault(false);

    // The front cover beside the fields: shown, set from an image file (or one dropped onto it), removed.
    auto *coverColumn = new QVBoxLayout;
    m_cover->setFixedSize(160, 160);
    coverColumn->addWidget(m_cover);
    coverColumn->addWidget(m_setCover);
    coverColumn->addWidget(m_removeCover);
    coverColumn->addStretch(1);
    m_setCover->setAutoDefault(false);
    m_removeCover->setAutoDefault(false);
    auto *top = new QHBoxLayout;
    top->addWidget(group, 1);
    top->addLayout(coverColumn);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    resize(700, sizeHint().height());

    connect(update, &QPushButton::clicked, this, &CTagEditDlg::Update);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_reset, &QPushButton::clicked, this, &CTagEditDlg::Reset);
    connect(m_clear, &QPushButton::clicked, this, &CTagEditDlg::ClearAll);
    connect(m_prev, &QPushButton::clicked, this, &CTagEditDlg::Prev);
    connect(m_next, &QPushButton::clicked, this, &CTagEditDlg::Next);
    connect(m_setCover, &QPushButton::clicked, this, &CTagEditDlg::ChooseCover);
    connect(m_removeCover, &QPushButton::clicked, this, &CTagEditDlg::RemoveCover);
    connect(m_cover, &CCoverView::fileDropped, this, &CTagEditDlg::SetCoverFromFile);
    // Only the user's edits count as a change; filling the controls does not.
    for (QLineEdit *edit : {static_cast<QLineEdit *>(m_track), static_cast<QLineEdit *>(m_artist),
                            static_cast<QLineEdit *>(m_title), static_cast<QLineEdit *>(m_album),
                            static_cast<QLineEdit *>(m_year), static_cast<QLineEdit *>(m_comment), m_genre->lineEdit()})
        connect(edit, &QLineEdit::textEdited, this, [this] { m_changed = true; });
    connect(m_genre, qOverload<int>(&QComboBox::activated), this, [this] { m_changed = true; });

    LoadRow();
    m_prev->setEnabled(m_row > 0);
    m_next->setEnabled(m_row < m_view.Model()->rowCount() - 1);
}

QLineEdit *CTagEditDlg::TrackEdit() const { return m_track; }
QLineEdit *CTagEditDlg::ArtistEdit() const { return m_artist; }
QLineEdit *CTagEditDlg::TitleEdit() const { return m_title; }
QLineEdit *CTagEditDlg::AlbumEdit() const { return m_album; }
QLineEdit *CTagEditDlg::YearEdit() const { return m_year; }
QLineEdit *CTagEditDlg::CommentEdit() const { return m_comment; }

void CTagEditDlg::LoadRow()
{
    const QString path = m_view.RowFullPath(m_row);
    const bool readable = m_record.Open(path);
    // A file that cannot be read (gone, no access) is shown empty and read-only, so nothing is ever written to
    // it or to its row; the user is told why.
    SetEditable(readable && IsTaggableExtension(m_view.Model()->Row(m_row)[Column::Ext]));
    // The picture is read here, never while listing.
    m_coverEditable = m_editable;
    m_loadedCover = Picture();
    if (m_coverEditable)
        TagFile::ReadFrontCover(path, m_loadedCover);
    ShowRecord();
    m_path->setText(path);
    if (!readable)
        Prompter::Current().Tell(isVisible() ? this : parentWidget(), m_record.ReadError(), QMessageBox::Warning);
}

void CTagEditDlg::ShowRecord()
{
    m_album->setText(m_record.album);
    m_artist->setText(m_record.artist);
    m_comment->setText(m_record.comment);
    m_title->setText(m_record.title);
    m_year->setText(m_record.year);
    m_size->setText(m_record.sizeText);
    m_track->setText(m_record.track);
    SelectGenre(m_genre, m_record.genre);
    if (m_record.genre < 0 && !m_record.GenreName().isEmpty())
        m_genre->setEditText(m_record.GenreName());   // a genre the table lacks, as the file spells it
    ShowCover(m_loadedCover, false);
    m_changed = false;
}

void CTagEditDlg::ShowCover(const Picture &picture, bool changed)
{
    m_cover->SetPicture(picture);
    m_coverChanged = changed;
    if (changed)
        m_changed = true;
    m_cover->SetDropEnabled(m_coverEditable);
    m_setCover->setEnabled(m_coverEditable);
    m_removeCover->setEnabled(m_coverEditable && !picture.IsEmpty());
}

bool CTagEditDlg::SetCoverFromFile(const QString &path)
{
    if (!m_coverEditable)
        return false;
    Picture picture;
    if (!TakeCoverFile(this, path, picture))
        return false;
    ShowCover(picture, true);
    return true;
}

void CTagEditDlg::ChooseCover()
{
    Picture picture;
    if (m_coverEditable && ChooseCoverFile(this, picture, m_view.Model()->Row(m_row)[Column::Path]))
        ShowCover(picture, true);
}

void CTagEditDlg::RemoveCover()
{
    if (m_coverEditable && !m_cover->ShownPicture().IsEmpty())
        ShowCover(Picture(), true);
}

void CTagEditDlg::SetEditable(bool editable)
{
    m_editable = editable;
    for (QLineEdit *edit : {static_cast<QLineEdit *>(m_track), static_cast<QLineEdit *>(m_artist),
                            static_cast<QLineEdit *>(m_title), static_cast<QLineEdit *>(m_album),
                            static_cast<QLineEdit *>(m_year), static_cast<QLineEdit *>(m_comment)})
        edit->setReadOnly(!editable);
    m_genre->setEnabled(editable);
    m_reset->setEnabled(editable);
    m_clear->setEnabled(editable);
}

bool CTagEditDlg::TakeValues()
{
    // Texts the user did not change are taken whatever their length (a track "3/12" read from a file).
    const std::pair<LimitedLineEdit *, QString> fields[] = {
        {m_album, m_record.album}, {m_artist, m_record.artist}, {m_comment, m_record.comment},
        {m_title, m_record.title}, {m_year, m_record.year},     {m_track, m_record.track}};
    for (const auto &[edit, loaded] : fields) {
        if (edit->text() != loaded && edit->text().size() > edit->Limit()) {
            Prompter::Current().Tell(this, OverLimitMessage(edit->Limit()), QMessageBox::Warning);
            edit->setFocus();
            return false;
        }
    }
    return true;
}

void CTagEditDlg::WriteBack()
{
    if (!m_editable)
        return;
    m_record.album = m_album->text();
    m_record.artist = m_artist->text();
    m_record.comment = m_comment->text();
    m_record.title = m_title->text();
    m_record.year = m_year->text();
    m_record.SetTrack(m_track->text());
    // A name of the table is that genre; any other text is the genre's text (an ID3v2 TCON text, a FLAC, Ogg or
    // MP4 genre). An emptied box clears a genre the table lacks too.
    if (m_genre->currentText().trimmed().isEmpty())
        m_record.ClearGenre();
    else
        m_record.SetGenreText(m_genre->currentText());
    if (m_coverChanged && m_cover->ShownPicture().IsEmpty())
        m_record.RemoveFrontCover();
    else if (m_coverChanged)
        m_record.SetFrontCover(m_cover->ShownPicture());
    QString error;
    if (!m_record.Write(&error)) {
        Prompter::Current().Tell(this, error, QMessageBox::Warning);
        m_record.Open(m_record.path);   // the row shows what the file really holds
    }
    if (m_coverEditable)
        TagFile::ReadFrontCover(m_record.path, m_loadedCover);
    m_coverChanged = false;
    m_view.FillTagCells(m_row, &m_record);
}

void CTagEditDlg::Update()
{
    if (!TakeValues())
        return;
    if (m_changed)
        WriteBack();
    accept();
}

void CTagEditDlg::Step(int delta)
{
    const int last = m_view.Model()->rowCount() - 1;
    // A changed text over its limit is reported and the dialog stays on its row, as Update does: it is never
    // written, and the user's other edits are not thrown away.
    if (m_changed && m_editable && !TakeValues())
        return;
    if (m_changed && m_editable &&
        Prompter::Current().Ask(this, QString(), tr("Current tag was changed. Update?"),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning) == QMessageBox::Yes)
        WriteBack();
    m_row = std::clamp(m_row + delta, 0, std::max(0, last));
    m_prev->setEnabled(m_row > 0);
    m_next->setEnabled(m_row < last);
    LoadRow();
}

void CTagEditDlg::Prev() { Step(-1); }

void CTagEditDlg::Next() { Step(+1); }

void CTagEditDlg::Reset()
{
    ShowRecord();
}

void CTagEditDlg::ClearAll()
{
    if (!m_editable)
        return;
    for (QLineEdit *edit : {static_cast<QLineEdit *>(m_track), static_cast<QLineEdit *>(m_artist),
                            static_cast<QLineEdit *>(m_title), static_cast<QLineEdit *>(m_album),
                            static_cast<QLineEdit *>(m_year), static_cast<QLineEdit *>(m_comment)})
        edit->clear();
    m_genre->setCurrentIndex(0);
    RemoveCover();
    m_changed = true;
}
