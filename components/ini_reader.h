#pragma once

#include <QByteArray>
#include <QString>

namespace tarvic {

// The text returned when a profile file has no such entry.
inline const QString IniNotFound = QStringLiteral("[NOT FOUND]");

// Reads one value of a profile file the way Windows reads autorun.inf. `file` is a
// native path; the reader never throws and reads at most a bounded prefix.
//
// Section and key names match without regard to case; blanks, tabs, CR and Ctrl-Z
// around names and values do not count; one pair of matching quotes around a value
// is dropped; a line is a comment only when it starts with ";". Only the first
// section of the name is searched and the first entry of the key in it wins; a
// header without "]" names a section up to the line's end. Lines end in LF, CR LF
// or CR. A file with a UTF-16 byte-order mark is UTF-16; otherwise each line on its
// own is UTF-8 where its bytes are valid UTF-8 and Windows-1252 where they are not.
// Only the first MiB is read, and a line it cuts off does not count; a file that
// turns out binary (many C0 control codes) is read no further. An entry whose value
// holds a NUL has no usable value ("[NOT FOUND]"). Values are cut at 65,535
// characters. Anything but a readable regular file gives "[NOT FOUND]".
QString readIniValue(const QString &section, const QString &key, const QByteArray &file);

// The same lookup over a file's contents in memory; `piece` > 0 hands the bytes
// over in pieces of that size, as reading a file does, and never changes the answer.
QString readIniValueFromBytes(const QString &section, const QString &key, const QByteArray &bytes,
                              qsizetype piece = 0);

} // namespace tarvic
