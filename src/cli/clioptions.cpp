#include "cli/clioptions.h"

CliArguments ParseCli(const QStringList &args, const QStringList &valued, const QStringList &flags)
{
    CliArguments result;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (optionsEnded || !arg.startsWith(QLatin1String("-")) || arg == QLatin1String("-")) {
            if (result.command.isEmpty())
                result.command = arg;
            else
                result.operands.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        QString value;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        const bool inlineValue = eq >= 0;
        if (inlineValue) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        if (valued.contains(name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    result.error = QStringLiteral("option --%1 needs a value").arg(name);
                    return result;
                }
                value = args[++i];
            }
            result.values.insert(name, value);
        } else if (flags.contains(name) && !inlineValue) {
            result.switches.append(name);
        } else {
            result.error = QStringLiteral("unknown option %1").arg(arg);
            return result;
        }
    }
    return result;
}

QString EscapeField(const QString &text)
{
    // Most fields hold nothing to escape: hand them back without copying.
    bool plain = true;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            plain = false;
            break;
        }
    }
    if (plain)
        return text;
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}
