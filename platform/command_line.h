#pragma once

#include <QString>
#include <QStringList>

namespace tarvic {

// A command line taken apart the way Windows programs take theirs apart, so a
// command line written for Windows (an autorun.inf entry, a player setting) means
// the same here.
struct CommandLine
{
    QString program;          // the program word, its quotes removed
    QStringList arguments;    // the further words, quotes and escapes applied
    QString rest;             // the raw text after the program word, leading blanks removed
};

// Blanks are spaces and tabs; leading blanks are skipped.
//
// The program word ends at the next blank, or, when it begins with a double quote,
// at the closing quote; backslashes in it are plain characters.
//
// The other words follow the C runtime: double quotes group blanks into a word and
// are dropped; 2n backslashes before a quote give n backslashes and the quote
// groups; 2n+1 give n backslashes and a literal quote; other backslashes are
// plain; inside quotes a doubled quote is one literal quote and the grouping goes
// on; a quote left open runs to the end; "" alone is an empty word.
CommandLine parseCommandLine(const QString &commandLine);

} // namespace tarvic
