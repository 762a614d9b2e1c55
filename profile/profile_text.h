#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tarvic {

// The text of a profile file (a disc's autorun.inf, the user's Halvane.ini), read
// and changed the way Windows reads and writes such files.
//
// Reading. A file with a UTF-16 byte-order mark is UTF-16; otherwise each line on
// its own is UTF-8 where its bytes are valid UTF-8 and Windows-1252 where they are
// not, after an optional UTF-8 mark. Lines end in LF, CR LF or CR; a NUL ends the
// text of its line, and other control codes are ordinary characters. Section and
// key names match without regard to case; blanks (space, tab, vertical tab, form
// feed, Ctrl-Z) around names and values do not count; one pair of matching double
// or single quotes around a value is dropped; a line is a comment only when it
// starts with ";"; backslashes and every other character are taken literally. A
// header ends at its first "]", or at the line's end without one. Only the first
// section of a name is searched, and the first entry of a key in it wins.
//
// Writing changes only the line of the entry written: it is added after the last
// entry of its section when missing, and the section at the end of the file when
// missing. Every other byte stays as it was: comments, other sections, lines that
// are no entry, the case of names, the encoding (UTF-8 with or without its mark,
// UTF-16 with one) and the line ends.
class ProfileText
{
public:
    // `bytes` are the file from its first byte. When they stop short of the file's
    // end, `next` holds the bytes that follow (one code unit is enough): unless they
    // start a line end, the last line was cut off and does not count.
    explicit ProfileText(QByteArray bytes = {}, QByteArrayView next = {});

    // The file as it now stands.
    const QByteArray &bytes() const { return m_bytes; }

    // False for UTF-16 text that is no valid UTF-16 (an odd byte at the end, a lone
    // surrogate); reading mends such text, so rewriting it would change it.
    bool wellFormed() const;

    // The value of the entry, whole; nothing when there is none.
    std::optional<QString> value(const QString &section, const QString &key) const;

    // Why the value cannot be written so that it reads back as it is (a line break,
    // a NUL, a lone surrogate); nothing when it can.
    static std::optional<QString> unwritable(const QString &value);

    // Sets the entry so that value() gives back exactly `value`: blanks at its ends
    // and quotes around it are kept by one more pair of double quotes. False, and
    // nothing changed, for a value that cannot be written (see unwritable()) or an
    // empty key.
    bool setValue(const QString &section, const QString &key, const QString &value);

private:
    enum class Encoding { Bytes, Utf16LE, Utf16BE };
    struct Line;
    struct Place;

    template <typename View>
    Place find(View text, const QString &section, const QString &key, bool toSectionEnd) const;
    Place find(const QString &section, const QString &key, bool toSectionEnd) const;
    template <typename View>
    QString decode(View text, qsizetype from, qsizetype to) const;
    QString lineEnd() const;
    QByteArray encode(const QString &text) const;
    // Replaces code units [from, to) of the text after the mark.
    void replace(qsizetype from, qsizetype to, const QString &text);
    void load(QByteArrayView next);

    QByteArray m_bytes;
    Encoding m_encoding = Encoding::Bytes;
    qsizetype m_mark = 0;        // bytes of the byte-order mark
    qsizetype m_units = 0;       // code units that count (a line cut off by the end of the read does not)
    QString m_utf16;             // the UTF-16 text after the mark, as it stands (lone surrogates kept)
};

} // namespace tarvic
