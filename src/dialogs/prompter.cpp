#include "dialogs/prompter.h"

#include "dialogs/batchprogress.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

class MessageBoxPrompter : public Prompter
{
public:
    QMessageBox::StandardButton Ask(QWidget *parent, const QString &caption, const QString &text,
                                    QMessageBox::StandardButtons buttons, QMessageBox::Icon icon) override
    {
        const BatchProgress::QuestionScope question;
        QMessageBox box(icon, caption.isEmpty() ? QApplication::applicationName() : caption, text, buttons, parent);
        const int chosen = box.exec();
        return box.clickedButton() ? QMessageBox::StandardButton(chosen) : QMessageBox::NoButton;
    }

    int Choose(QWidget *parent, const QString &caption, const QString &text, const QString &detail,
               const QStringList &buttons) override
    {
        const BatchProgress::QuestionScope question;
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

void TellFailures(QWidget *parent, const QString &heading, const QStringList &failures)
{
    constexpr int kFailuresListed = 15;
    if (failures.isEmpty())
        return;
    QStringList shown = failures.mid(0, kFailuresListed);
    if (failures.size() > kFailuresListed)
        shown.append(QCoreApplication::translate("Prompter", "... and %1 more").arg(failures.size() - kFailuresListed));
    Prompter::Current().Tell(parent, heading + QStringLiteral("\n\n") + shown.join(QLatin1Char('\n')), QMessageBox::Warning);
}

void TellStopped(QWidget *parent, int done, int total, const QString &what)
{
    const QLocale locale;
    const QString text =
        done == 0 ? QCoreApplication::translate("Prompter", "Stopped: no file was %1.").arg(what)
                  : QCoreApplication::translate("Prompter", "Stopped: %1 of %2 files were %3; Edit > Undo takes them back.")
                        .arg(locale.toString(done), locale.toString(total), what);
    Prompter::Current().Tell(parent, text, QMessageBox::Information);
}

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
