#include "app/appsettings.h"
#include "res/resources.h"
#include "tags/genretable.h"
#include "tracklist/rightview.h"
#include "tracklist/tracklistmodel.h"
#include "tree/scanstate.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>

namespace {

// The window that hosts the track list until the full frame with its folder tree takes over: it lists the
// folders named on the command line (Ctrl held: see "Subfolders" in the menu).
class HostWindow : public QMainWindow
{
public:
    HostWindow(AppSettings &settings, ScanState &state) : m_settings(settings), m_state(state)
    {
        setWindowTitle(QStringLiteral("Tunegrove"));
        m_view = new CRightView(settings, state, this);
        setCentralWidget(m_view);

        QMenu *list = menuBar()->addMenu(tr("&List"));
        QAction *scanAll = list->addAction(tr("Scan &All"), m_view, &CRightView::RunComputerScan);
        QAction *stop = list->addAction(tr("&Stop Scan\tCtrl+S"), m_view, &CRightView::StopWalk);
        stop->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
        QAction *esc = new QAction(this);
        esc->setShortcut(QKeySequence(Qt::Key_Escape));
        connect(esc, &QAction::triggered, this, [this] {
            if (m_state.scanning.load())
                m_view->StopWalk();
            else
                m_view->clearSelection();
        });
        addAction(esc);
        QAction *subfolders = list->addAction(tr("Sub&folders"));
        subfolders->setCheckable(true);
        connect(subfolders, &QAction::toggled, this, [this](bool on) { m_state.subfolderMode.store(on ? 1 : 0); });
        QAction *addList = list->addAction(tr("Add &List Mode"));
        addList->setCheckable(true);
        connect(addList, &QAction::toggled, this, [this](bool on) { m_state.addListMode.store(on ? 1 : 0); });
        list->addSeparator();
        list->addAction(tr("E&xit"), this, &QWidget::close);

        m_count = new QLabel(this);
        m_progress = new QProgressBar(this);
        m_progress->setRange(0, 99);
        m_progress->setMaximumWidth(160);
        m_progress->setTextVisible(false);
        statusBar()->addPermanentWidget(m_count);
        statusBar()->addPermanentWidget(m_progress);

        // The status bar and the commands read the shared flags, as they change.
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, scanAll, stop] {
            m_count->setText(tr("Mp3: %1").arg(m_view->RowCounter()));
            const int tick = m_state.progressTick.load();
            m_progress->setVisible(tick >= 0);
            m_progress->setValue(std::max(tick, 0));
            scanAll->setEnabled(!m_state.scanning.load());
            stop->setEnabled(m_state.scanning.load());
        });
        poll->start(100);
    }

    CRightView *View() const { return m_view; }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        // A running walk is stopped and waited for: its thread must not outlive the window.
        m_view->StopAndWait();
        m_view->SaveColumnLayout();
        QSettings store;
        store.setFallbacksEnabled(false);
        m_settings.SetTreePath(m_view->CurrentFolder());
        m_settings.Save(store);
        event->accept();
    }

private:
    AppSettings &m_settings;
    ScanState &m_state;
    CRightView *m_view;
    QLabel *m_count;
    QProgressBar *m_progress;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrine"));
    QApplication::setApplicationName(QStringLiteral("Tunegrove"));
    InitGuiResources();

    QSettings store;
    store.setFallbacksEnabled(false);
    AppSettings &settings = AppSettings::Instance();
    settings.Load(store);
    GenreTable::Build();

    HostWindow window(settings, ScanState::Instance());
    window.setGeometry(settings.x, settings.y, settings.cx, settings.cy);
    window.show();
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && QFileInfo(args.first()).isDir())
        window.View()->ListFolder(QFileInfo(args.first()).absoluteFilePath());
    return app.exec();
}
