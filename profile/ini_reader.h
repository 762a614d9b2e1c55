#pragma once

#include <QByteArray>
#include <QString>

namespace tarvic {

// The text returned when a profile file has no such entry.
inline const QString IniNotFound = QStringLiteral("[NOT FOUND]");

// Reads one value of a profile file the way Windows reads autorun.inf (the rules of
// ProfileText: names without regard to case, blanks trimmed, one pair of quotes
// dropped, ";" comments at a line's start, the first section and the first entry
// win, UTF-16 by its mark, else UTF-8 or Windows-1252 line by line, a NUL ends its
// line's text). `file` is a native path; the reader never throws. Only the first
// MiB is read, and a line it cuts off does not count. Values are cut at 65,535
// characters. Anything but a readable regular file gives "[NOT FOUND]"; a FIFO,
// device or socket is never opened.
QString readIniValue(const QString &section, const QString &key, const QByteArray &file);

// The same lookup over a file's contents in memory.
QString readIniValueFromBytes(const QString &section, const QString &key, const QByteArray &bytes);

} // namespace tarvic
