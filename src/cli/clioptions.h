#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The command line of tunegrove-cli split into the command, its options and its operands.
struct CliArguments
{
    QString command;
    QMap<QString, QString> values;   // options that take a value, by name without dashes
    QStringList switches;            // options without a value
    QStringList operands;
    QString error;                   // set when the line is not valid

    bool Has(const QString &name) const { return values.contains(name) || switches.contains(name); }
};

// Parses `args` (without the program name). `valued` lists the options that take a value, `flags` those that do
// not; "--name=value" and "--name value" are both accepted, "--" ends the options.
CliArguments ParseCli(const QStringList &args, const QStringList &valued, const QStringList &flags);

// A field for one tab-separated output line: tab, newline and backslash written as \t, \n and \\, every other
// control character (C0, DEL and C1) as \xHH.
QString EscapeField(const QString &text);
