#include "dialogs/prompter.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

class MessageBoxPrompter : public Prompter
{
public:
    QMessageBox::StandardButton Ask(QWidget *parent, const QString &caption, const QString &text,
                                    QMessageBox::StandardButtons buttons, QMessageBox::Icon icon) override
    {
        QMessageBox box(icon, caption.isEmpty() ? QApplication::applicationName() : caption, text, buttons, parent);
        const int chosen = box.exec();
        return box.clickedButton() ? QMessageBox::StandardButton(chosen) : QMessageBox::NoButton;
    }

    int Choose(QWidget *parent, const QString &caption, const QString &text, const QString &detail,
               const QStringList &buttons) override
    {
        QDialog dialog(parent);
        dialog.setWindowTitle(caption);
        auto *layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(text, &dialog));
        auto *path = new QLineEdit(detail, &dialog);
        path->setReadOnly(true);
        path->setMinimumWidth(path->fontMetrics().averageCharWidth() * 60);
        layout->addWidget(path);
        auto *row = new QHBoxLayout;
        row->addStretch(1);
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            auto *button = new QPushButton(buttons[i], &dialog);
            button->setDefault(i == 0);
            QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, i] { dialog.done(int(i) + 1); });
            row->addWidget(button);
        }
        layout->addLayout(row);
        return dialog.exec() - 1;   // closed without a button: 0 - 1
    }
};

Prompter *g_current = nullptr;

} // namespace

void Prompter::Tell(QWidget *parent, const QString &text, QMessageBox::Icon icon)
{
    Ask(parent, QString(), text, QMessageBox::Ok, icon);
}

Prompter &Prompter::Current()
{
    static MessageBoxPrompter boxes;
    return g_current ? *g_current : boxes;
}

void Prompter::SetCurrent(Prompter *prompter) { g_current = prompter; }
