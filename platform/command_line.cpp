#include "platform/command_line.h"

namespace tarvic {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

CommandLine parseCommandLine(const QString &commandLine)
{
    CommandLine result;
    const qsizetype n = commandLine.size();
    qsizetype i = 0;
    while (i < n && isBlank(commandLine.at(i)))
        ++i;

    if (i < n && commandLine.at(i) == QLatin1Char('"')) {
        const qsizetype close = commandLine.indexOf(QLatin1Char('"'), i + 1);
        const qsizetype end = close < 0 ? n : close;
        result.program = commandLine.mid(i + 1, end - i - 1);
        i = close < 0 ? n : close + 1;
    } else {
        const qsizetype start = i;
        while (i < n && !isBlank(commandLine.at(i)))
            ++i;
        result.program = commandLine.mid(start, i - start);
    }

    while (i < n && isBlank(commandLine.at(i)))
        ++i;
    result.rest = commandLine.mid(i);

    QString word;
    bool inWord = false;    // a word has begun, even if it is still empty ("")
    bool inQuotes = false;
    while (i < n) {
        const QChar c = commandLine.at(i);
        if (isBlank(c) && !inQuotes) {
            if (inWord)
                result.arguments << word;
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\\')) {
            qsizetype backslashes = 0;
            while (i < n && commandLine.at(i) == QLatin1Char('\\')) {
                ++backslashes;
                ++i;
            }
            if (i < n && commandLine.at(i) == QLatin1Char('"')) {
                word += QString(backslashes / 2, QLatin1Char('\\'));
                if (backslashes % 2 == 1) {
                    word += QLatin1Char('"');
                    ++i;
                }
                // With an even count the quote is handled as a quote below.
            } else {
                word += QString(backslashes, QLatin1Char('\\'));
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            if (inQuotes && i + 1 < n && commandLine.at(i + 1) == QLatin1Char('"')) {
                word += QLatin1Char('"');
                i += 2;
            } else {
                inQuotes = !inQuotes;
                ++i;
            }
            continue;
        }
        word += c;
        ++i;
    }
    if (inWord)
        result.arguments << word;
    return result;
}

} // namespace tarvic
