#include "dialogs/optionsdlg.h"

#include "dialogs/prompter.h"
#include "platform/associations.h"
#include "platform/desktop.h"
#include "settings/appsettings.h"
#include "tracklist/rightview.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

COptions1::COptions1(const AppSettings &settings, QWidget *parent) : QWidget(parent)
{
    auto box = [this](const QString &text, int value) {
        auto *check = new QCheckBox(text, this);
        check->setChecked(value != 0);
        return check;
    };
    grid = box(tr("Grid Lines"), settings.grid);
    cdrom = box(tr("Scan CD-ROMs"), settings.cdrom);
    removable = box(tr("Scan Removable Discs"), settings.removable);
    tray = box(tr("System Tray Icon"), settings.sysTrayIco == 1);
    trash = box(tr("Move deleted and replaced files to the trash"), settings.useTrash);
    // With All Multimedia the single boxes show cleared.
    const bool allExt = settings.allExt != 0;
    all = box(tr("All Multimedia"), allExt);
    mp3 = box(tr("mp3"), !allExt && settings.mp3Ext);
    wav = box(tr("wav"), !allExt && settings.wavExt);
    mid = box(tr("mid"), !allExt && settings.midExt);
    avi = box(tr("avi"), !allExt && settings.aviExt);
    mpg = box(tr("mpg"), !allExt && settings.mpgExt);
    other = box(tr("Other audio (FLAC, Ogg, Opus, M4A)"), settings.otherAudio);

    auto *view = new QGroupBox(tr("View Options"), this);
    auto *viewLayout = new QVBoxLayout(view);
    viewLayout->addWidget(grid);
    viewLayout->addWidget(tray);
    auto *scan = new QGroupBox(tr("Scan"), this);
    auto *scanLayout = new QVBoxLayout(scan);
    scanLayout->addWidget(cdrom);
    scanLayout->addWidget(removable);
    auto *extensions = new QGroupBox(tr("File Extensions"), this);
    auto *extLayout = new QGridLayout(extensions);
    extLayout->addWidget(mp3, 0, 0);
    extLayout->addWidget(wav, 0, 1);
    extLayout->addWidget(mid, 0, 2);
    extLayout->addWidget(avi, 1, 0);
    extLayout->addWidget(mpg, 1, 1);
    extLayout->addWidget(all, 2, 0, 1, 3);
    extLayout->addWidget(other, 3, 0, 1, 3);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(view);
    layout->addWidget(scan);
    layout->addWidget(extensions);
    layout->addWidget(trash);
    layout->addStretch(1);
    connect(all, &QCheckBox::clicked, this, &COptions1::FollowAllMultimedia);
    FollowAllMultimedia();
}

void COptions1::FollowAllMultimedia()
{
    for (QCheckBox *single : {mp3, wav, mid, avi, mpg})
        single->setEnabled(!all->isChecked());
}

QString DefaultPlayer(AppSettings &settings)
{
    if (settings.pathToPlayer.isEmpty())
        settings.pathToPlayer = platform::ProgramForFile(QStringLiteral("mp3.mp3"));
    return settings.pathToPlayer;
}

COptions2::COptions2(AppSettings &settings, QWidget *parent)
    : QWidget(parent), useDefault(new QCheckBox(platform::DefaultPlayerCaption(), this)), path(new QLineEdit(this))
{
    useDefault->setChecked(settings.useDefaultPlayer != 0);
    path->setText(useDefault->isChecked() ? DefaultPlayer(settings) : settings.pathToPlayer);
    path->setEnabled(!useDefault->isChecked());
    auto *browse = new QPushButton(tr("Browse..."), this);
    auto *group = new QGroupBox(tr("Select the path to Mp3 player"), this);
    auto *grid = new QGridLayout(group);
    grid->addWidget(path, 0, 0);
    grid->addWidget(browse, 0, 1);
    grid->addWidget(useDefault, 1, 0, 1, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch(1);
    connect(useDefault, &QCheckBox::clicked, this, [this] { path->setEnabled(!useDefault->isChecked()); });
    connect(browse, &QPushButton::clicked, this, &COptions2::Browse);
}

void COptions2::Browse()
{
    const QString chosen = QFileDialog::getOpenFileName(this, QString(), QString(), platform::ProgramFilter());
    if (!chosen.isEmpty())
        path->setText(chosen);
}

COptionsCol::COptionsCol(const std::array<ColumnDef, kColumnCount> &columns, QWidget *parent) : QWidget(parent)
{
    auto *group = new QGroupBox(tr("Columns of the List"), this);
    auto *list = new QVBoxLayout(group);
    for (int i = 0; i < kColumnCount; ++i) {
        auto *check = new QCheckBox(columns[std::size_t(i)].name, group);
        check->setChecked(columns[std::size_t(i)].visible != 0);
        check->setEnabled(i != 0);   // the file name is always shown
        list->addWidget(check);
        boxes[std::size_t(i)] = check;
    }
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch(1);
}

COptionsSheet::COptionsSheet(AppSettings &settings, const std::array<ColumnDef, kColumnCount> &columnDefs, QWidget *parent)
    : QDialog(parent), general(new COptions1(settings, this)), player(new COptions2(settings, this)),
      columns(new COptionsCol(columnDefs, this)), tabs(new QTabWidget(this))
{
    setWindowTitle(tr("Options"));
    tabs->addTab(general, tr("General"));
    tabs->addTab(player, tr("Player"));
    tabs->addTab(columns, tr("Columns"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
}

void RunOptions(CRightView &view, AppSettings &settings, QSettings &store, const std::function<void()> &refreshTree,
                const std::function<void()> &trayChanged, QWidget *parent,
                const std::function<bool(COptionsSheet &)> &show)
{
    view.setFocus();
    COptionsSheet sheet(settings, view.Columns(), parent);   // the Columns page copies the flags first
    view.CaptureColumnWidths();
    const bool ok = show ? show(sheet) : sheet.exec() == QDialog::Accepted;
    if (!ok)
        return;

    COptions1 &general = *sheet.general;
    const bool anyExtension = general.all->isChecked() || general.mp3->isChecked() || general.wav->isChecked() ||
                              general.mid->isChecked() || general.avi->isChecked() || general.mpg->isChecked() ||
                              general.other->isChecked();
    if (!anyExtension) {
        Prompter::Current().Ask(parent, QString(),
                                QObject::tr("Options warning: At least one file extension must be set. Mp3 is assumed."),
                                QMessageBox::Ok, QMessageBox::Warning);
        general.mp3->setChecked(true);
    }
    if (int(general.grid->isChecked()) != settings.grid) {
        settings.grid = settings.grid ? 0 : 1;
        view.SetGridLines(settings.grid != 0);
    }
    settings.cdrom = general.cdrom->isChecked();
    settings.useTrash = general.trash->isChecked();
    settings.otherAudio = general.other->isChecked();
    settings.removable = general.removable->isChecked();
    settings.aviExt = general.avi->isChecked();
    settings.allExt = general.all->isChecked();
    settings.midExt = general.mid->isChecked();
    settings.mp3Ext = general.mp3->isChecked();
    settings.mpgExt = general.mpg->isChecked();
    settings.wavExt = general.wav->isChecked();
    view.BuildExtensionSet();
    settings.pathToPlayer = sheet.player->path->text();
    settings.useDefaultPlayer = sheet.player->useDefault->isChecked();
    std::array<bool, kColumnCount> visible{};
    for (int i = 0; i < kColumnCount; ++i)
        visible[std::size_t(i)] = sheet.columns->boxes[std::size_t(i)]->isChecked();
    view.ApplyColumnChoice(visible);
    if (refreshTree)
        refreshTree();
    const int tray = general.tray->isChecked() ? 1 : 0;
    if (tray != (settings.sysTrayIco == 1 ? 1 : 0)) {
        settings.sysTrayIco = tray;
        if (trayChanged)
            trayChanged();
    }
    view.SaveColumnLayout();
    settings.Save(store);
}
