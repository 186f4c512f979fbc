#pragma once

#include <QLineEdit>

// A line edit whose limit stops typing past it, while a longer text put in by the program (a 150-character title
// read from a file) is shown in full and can still be shortened. setMaxLength would cut such a text.
class LimitedLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    LimitedLineEdit(int limit, QWidget *parent = nullptr);
    int Limit() const { return m_limit; }

private:
    int m_limit;
};

// The message for a text over its limit, as a dialog shows it when it takes the values.
QString OverLimitMessage(int limit);
