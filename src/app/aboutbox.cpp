#include "app/aboutbox.h"

#include "res/artwork.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

CAboutBox::CAboutBox(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("About Tunegrove"));
    auto *name = new QLabel(QStringLiteral("Tunegrove"), this);
    QFont big = name->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    name->setFont(big);
    auto *rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    auto *text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setReadOnly(true);
    text->setPlainText(tr("Tunegrove %1\n\nKeeps a collection of MP3 and other media files in order: lists folders "
                          "with their ID3 tags, edits tags, renames files from their tags, writes reports and plays "
                          "files through your player.\n\nTags are read and written with TagLib. The program is built "
                          "with Qt.")
                           .arg(QStringLiteral(TUNEGROVE_VERSION)));
    text->setMinimumHeight(110);
    auto *ok = new QPushButton(tr("OK"), this);
    ok->setDefault(true);
    auto *homepage = new QPushButton(tr("Homepage"), this);
    homepage->setObjectName(QStringLiteral("homepage"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(homepage, &QPushButton::clicked, this, &CAboutBox::HomepageRequested);

    auto *top = new QHBoxLayout;
    top->addSpacing(64);   // the picture is painted in this space
    top->addWidget(name, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(homepage);
    buttons->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(16);
    layout->addWidget(rule);
    layout->addWidget(text);
    layout->addLayout(buttons);
    setMinimumWidth(380);
}

void CAboutBox::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.drawPixmap(20, 16, artwork::AboutPicture());
}
