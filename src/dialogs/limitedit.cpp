#include "dialogs/limitedit.h"

#include <QCoreApplication>
#include <QValidator>

namespace {

// Refuses an edit that makes the text longer than the limit and longer than it was. The line edit already holds
// the proposed text when it asks, so the length before the edit is kept from its last change.
class LimitValidator : public QValidator
{
public:
    LimitValidator(QLineEdit *edit, int limit) : QValidator(edit), m_limit(limit), m_accepted(edit->text().size())
    {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) { m_accepted = text.size(); });
    }

    State validate(QString &input, int &) const override
    {
        return input.size() > m_limit && input.size() > m_accepted ? Invalid : Acceptable;
    }

private:
    int m_limit;
    qsizetype m_accepted;
};

} // namespace

LimitedLineEdit::LimitedLineEdit(int limit, QWidget *parent) : QLineEdit(parent), m_limit(limit)
{
    setValidator(new LimitValidator(this, limit));
}

QString OverLimitMessage(int limit)
{
    return QCoreApplication::translate("LimitedLineEdit", "Please enter no more than %1 characters.").arg(limit);
}
