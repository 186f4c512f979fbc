#include "cli/clioptions.h"

#include <algorithm>

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
    // A tag may hold control characters (a terminal's escape codes among them): none reaches the terminal raw.
    auto special = [](QChar c) {
        return c == QLatin1Char('\\') || c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
    };
    // Most fields hold nothing to escape: hand them back without copying.
    const auto *chars = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && chars[i] >= 0x20 && chars[i] < 0x7f && chars[i] != u'\\')
        ++i;
    if (i == size || std::none_of(text.begin() + i, text.end(), special))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!special(c))
            out += c;
        else if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return out;
}
