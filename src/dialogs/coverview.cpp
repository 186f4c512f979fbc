#include "dialogs/coverview.h"

#include "dialogs/prompter.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>

namespace {

// The one local file a drag carries, or empty.
QString DraggedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().front().isLocalFile())
        return QString();
    return data->urls().front().toLocalFile();
}

} // namespace

CCoverView::CCoverView(QWidget *parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(128, 128);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setAccessibleName(tr("Cover"));
    setAcceptDrops(true);
    Redraw();
}

void CCoverView::SetPicture(const Picture &picture)
{
    m_picture = picture;
    m_image = picture.IsEmpty() ? QImage() : QImage::fromData(picture.data);
    Redraw();
}

void CCoverView::Redraw()
{
    if (m_picture.IsEmpty()) {
        setPixmap(QPixmap());
        setText(tr("No cover"));
        setToolTip(QString());
        return;
    }
    if (m_image.isNull()) {
        setPixmap(QPixmap());
        setText(tr("Cover cannot\nbe shown"));
    } else {
        const QSize box = contentsRect().size();
        setPixmap(QPixmap::fromImage(m_image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    setToolTip(tr("%1, %2 KiB%3")
                   .arg(m_picture.mime)
                   .arg((m_picture.data.size() + 1023) / 1024)
                   .arg(m_image.isNull() ? QString() : tr(", %1 × %2").arg(m_image.width()).arg(m_image.height())));
}

void CCoverView::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    if (!m_image.isNull())
        Redraw();
}

void CCoverView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DraggedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CCoverView::dropEvent(QDropEvent *event)
{
    const QString path = DraggedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    Q_EMIT fileDropped(path);
}

bool TakeCoverFile(QWidget *parent, const QString &path, Picture &picture)
{
    QString error;
    if (LoadPicture(path, picture, error))
        return true;
    Prompter::Current().Tell(parent, error, QMessageBox::Warning);
    return false;
}

bool ChooseCoverFile(QWidget *parent, Picture &picture, const QString &startFolder)
{
    QFileDialog dialog(parent, QCoreApplication::translate("CCoverView", "Set Cover"));
    if (!startFolder.isEmpty() && QFileInfo(startFolder).isDir())
        dialog.setDirectory(startFolder);   // where a song's cover image usually lies
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QCoreApplication::translate("CCoverView", "Images (*.jpg *.jpeg *.png *.JPG *.JPEG *.PNG)"),
                           QCoreApplication::translate("CCoverView", "All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    return TakeCoverFile(parent, dialog.selectedFiles().front(), picture);
}
