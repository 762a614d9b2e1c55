// The command-line splitter. Any list of words, quoted and joined the way Windows
// programs build a command line for another, splits back into the same words;
// and the words split from any text, quoted and joined again, split into the same
// words once more.
#include "platform/command_line.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

using namespace tarvic;

namespace {

// The quoting that the C runtime's rules undo: quotes only where a word needs
// them, backslashes doubled before a quote and before the closing quote.
QString quoted(const QString &word)
{
    if (!word.isEmpty() && !word.contains(QLatin1Char(' ')) && !word.contains(QLatin1Char('\t')) &&
        !word.contains(QLatin1Char('"')))
        return word;
    QString out(1, QLatin1Char('"'));
    qsizetype backslashes = 0;
    for (QChar c : word) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        out += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\'));
        out += c;
        backslashes = 0;
    }
    out += QString(2 * backslashes, QLatin1Char('\\'));
    out += QLatin1Char('"');
    return out;
}

QString joined(const QStringList &words)
{
    QStringList parts;
    for (const QString &w : words)
        parts << quoted(w);
    return parts.join(QLatin1Char(' '));
}

QString text(FuzzedDataProvider &in, size_t max)
{
    return QString::fromUtf8(in.ConsumeRandomLengthString(max));
}

[[noreturn]] void fail(const char *what, const QString &line)
{
    std::fprintf(stderr, "%s: [%s]\n", what, qPrintable(line));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        // The program word ends at its closing quote and keeps its backslashes, so
        // it may hold anything but a quote.
        QString program = text(in, 64);
        program.remove(QLatin1Char('"'));
        QStringList arguments;
        while (in.remaining_bytes() > 0)
            arguments << text(in, 64);
        const QString args = joined(arguments);
        const QString line = QLatin1Char('"') + program + QLatin1Char('"') + (args.isEmpty() ? QString() : u' ' + args);
        const CommandLine split = parseCommandLine(line);
        if (split.program != program)
            fail("program word changed", line);
        if (split.arguments != arguments)
            fail("arguments changed", line);
        if (split.rest != args)
            fail("rest is not the arguments as written", line);
        return 0;
    }

    const QString line = text(in, 4096);
    const CommandLine first = parseCommandLine(line);
    const CommandLine again = parseCommandLine(QStringLiteral("p ") + joined(first.arguments));
    if (again.arguments != first.arguments)
        fail("arguments quoted again split differently", line);
    if (!first.program.contains(QLatin1Char('"')) &&
        parseCommandLine(QLatin1Char('"') + first.program + QLatin1Char('"')).program != first.program)
        fail("program word quoted again changed", line);
    return 0;
}
