#include "dialogs/prompter.h"

#include <QApplication>

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
