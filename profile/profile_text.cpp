#include "profile/profile_text.h"

#include <QStringDecoder>
#include <QStringView>

namespace tarvic {

namespace {

constexpr char16_t CtrlZ = 0x1A;

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r' || c == CtrlZ;
}

bool isLineEnd(char16_t c)
{
    return c == u'\n' || c == u'\r';
}

char16_t unit(char c)
{
    return static_cast<uchar>(c);
}

char16_t unit(QChar c)
{
    return c.unicode();
}

QStringView trimmed(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b].unicode()))
        ++b;
    while (e > b && isBlank(s[e - 1].unicode()))
        --e;
    return s.sliced(b, e - b);
}

// 0x80-0x9F of Windows-1252; the five holes keep their own code points, the way
// Windows' own conversion maps them.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString fromCp1252(QByteArrayView s)
{
    QString out(s.size(), Qt::Uninitialized);
    QChar *o = out.data();
    for (char ch : s) {
        const char16_t c = unit(ch);
        *o++ = QChar(c >= 0x80 && c < 0xA0 ? Cp1252High[c - 0x80] : c);
    }
    return out;
}

// Each 8-bit line on its own: UTF-8 where the bytes are valid UTF-8, else Windows-1252.
QString decodeLine(QByteArrayView line)
{
    // Qt's decoder is strict: overlong forms, surrogates and cut sequences are errors.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(line);
    return utf8.hasError() ? fromCp1252(line) : text;
}

bool hasLoneSurrogate(QStringView s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
            ++i;
        else if (s[i].isSurrogate())
            return true;
    }
    return false;
}

// UTF-16 from a disc need not be well formed; a lone surrogate becomes U+FFFD, as
// it would in any other conversion.
QString mended(QStringView s)
{
    QString out = s.toString();
    if (!hasLoneSurrogate(s))
        return out;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

QStringView unquoted(QStringView value)
{
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == u'"' || value.front() == u'\''))
        return value.sliced(1, value.size() - 2);
    return value;
}

} // namespace

// Where an entry stands, or would go.
struct ProfileText::Place
{
    bool section = false;     // the section is there
    bool entry = false;       // and the entry in it
    QString value;
    QString namePart;         // the entry's line up to its value: blanks, name, "=", blanks
    qsizetype lineFrom = 0;   // the entry's line, without its line end
    qsizetype lineTo = 0;
    qsizetype after = 0;      // a new entry goes here: after the section's last entry and its line end
    bool afterEnded = true;   // that line has a line end
};

ProfileText::ProfileText(QByteArray bytes, QByteArrayView next) : m_bytes(std::move(bytes))
{
    load(next);
}

void ProfileText::load(QByteArrayView next)
{
    const QByteArrayView head(m_bytes);
    m_utf16.clear();
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        // The mark is dropped here, so a U+FEFF after it stays a character.
        m_encoding = head[0] == '\xFF' ? Encoding::Utf16LE : Encoding::Utf16BE;
        m_mark = 2;
        const qsizetype units = (head.size() - 2) / 2;
        m_utf16.resize(units);
        const auto *in = reinterpret_cast<const uchar *>(head.data() + 2);
        for (qsizetype i = 0; i < units; ++i, in += 2)
            m_utf16[i] = QChar(m_encoding == Encoding::Utf16LE ? char16_t(in[1] << 8 | in[0]) : char16_t(in[0] << 8 | in[1]));
        m_units = units;
    } else {
        m_encoding = Encoding::Bytes;
        m_mark = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        m_units = head.size() - m_mark;
    }
    if (next.isEmpty())
        return;
    bool lineEndNext = false;
    if (m_encoding == Encoding::Bytes)
        lineEndNext = isLineEnd(unit(next[0]));
    else if (next.size() >= 2)
        lineEndNext = isLineEnd(m_encoding == Encoding::Utf16LE ? char16_t(unit(next[1]) << 8 | unit(next[0]))
                                                                  : char16_t(unit(next[0]) << 8 | unit(next[1])));
    if (lineEndNext)
        return;
    // The last line runs on past what was read: it does not count.
    const auto lastEnd = [this](auto text) {
        qsizetype i = m_units;
        while (i > 0 && !isLineEnd(unit(text[i - 1])))
            --i;
        return i;
    };
    m_units = m_encoding == Encoding::Bytes ? lastEnd(QByteArrayView(m_bytes).sliced(m_mark)) : lastEnd(QStringView(m_utf16));
}

bool ProfileText::wellFormed() const
{
    if (m_encoding == Encoding::Bytes)
        return true;
    return (m_bytes.size() - m_mark) % 2 == 0 && !hasLoneSurrogate(m_utf16);
}

template <typename View>
QString ProfileText::decode(View text, qsizetype from, qsizetype to) const
{
    if constexpr (std::is_same_v<View, QByteArrayView>)
        return decodeLine(text.sliced(from, to - from));
    else
        return mended(text.sliced(from, to - from));
}

template <typename View>
ProfileText::Place ProfileText::find(View text, const QString &section, const QString &key, bool toSectionEnd) const
{
    Place place;
    const QStringView wantedSection = trimmed(section), wantedKey = trimmed(key);
    bool inSection = false;
    qsizetype pos = 0;
    const qsizetype n = m_units;
    while (pos < n) {
        qsizetype end = pos, textEnd = -1;
        for (; end < n; ++end) {
            const char16_t c = unit(text[end]);
            if (isLineEnd(c))
                break;
            if (c == 0 && textEnd < 0)
                textEnd = end;
        }
        if (textEnd < 0)
            textEnd = end;
        qsizetype next = end;
        if (next < n)
            next += unit(text[next]) == u'\r' && next + 1 < n && unit(text[next + 1]) == u'\n' ? 2 : 1;
        const qsizetype from = pos;
        pos = next;

        qsizetype i = from;
        while (i < textEnd && isBlank(unit(text[i])))
            ++i;
        // Outside the section only headers matter; most lines are never decoded.
        if (i == textEnd || unit(text[i]) == u';' || !(inSection || unit(text[i]) == u'['))
            continue;
        const QString line = decode(text, from, textEnd);
        const QStringView s = trimmed(line);
        if (s.front() == u'[') {
            // Only the first section of the name counts.
            if (inSection)
                break;
            QStringView name = s.sliced(1);
            const qsizetype close = name.indexOf(u']');
            if (close >= 0)
                name = name.first(close);
            if (trimmed(name).compare(wantedSection, Qt::CaseInsensitive) == 0) {
                inSection = place.section = true;
                place.after = next;
                place.afterEnded = next > end;
            }
            continue;
        }
        place.after = next;
        place.afterEnded = next > end;
        if (place.entry || wantedKey.isEmpty())
            continue;
        const qsizetype eq = s.indexOf(u'=');
        if (eq < 0 || trimmed(s.first(eq)).compare(wantedKey, Qt::CaseInsensitive) != 0)
            continue;
        place.entry = true;
        const QStringView value = s.sliced(eq + 1);
        place.value = unquoted(trimmed(value)).toString();
        // The line keeps its blanks, name, "=" and the blanks after it.
        qsizetype valueStart = (s.data() - line.data()) + eq + 1;
        while (valueStart < line.size() && isBlank(line[valueStart].unicode()))
            ++valueStart;
        place.namePart = line.first(valueStart);
        place.lineFrom = from;
        place.lineTo = end;
        if (!toSectionEnd)
            break;
    }
    return place;
}

ProfileText::Place ProfileText::find(const QString &section, const QString &key, bool toSectionEnd) const
{
    if (m_encoding == Encoding::Bytes)
        return find(QByteArrayView(m_bytes).sliced(m_mark), section, key, toSectionEnd);
    return find(QStringView(m_utf16), section, key, toSectionEnd);
}

std::optional<QString> ProfileText::value(const QString &section, const QString &key) const
{
    Place place = find(section, key, false);
    if (!place.entry)
        return std::nullopt;
    return std::move(place.value);
}

std::optional<QString> ProfileText::unwritable(const QString &value)
{
    for (const QChar c : value) {
        if (c == u'\n' || c == u'\r')
            return QStringLiteral("a line break");
        if (c == u'\0')
            return QStringLiteral("a NUL character");
    }
    if (hasLoneSurrogate(value))
        return QStringLiteral("a lone UTF-16 surrogate");
    return std::nullopt;
}

QString ProfileText::lineEnd() const
{
    const auto first = [this](auto text) -> QString {
        for (qsizetype i = 0; i < m_units; ++i) {
            if (unit(text[i]) == u'\n')
                return QStringLiteral("\n");
            if (unit(text[i]) == u'\r')
                return i + 1 < m_units && unit(text[i + 1]) == u'\n' ? QStringLiteral("\r\n") : QStringLiteral("\r");
        }
        return QStringLiteral("\n");
    };
    return m_encoding == Encoding::Bytes ? first(QByteArrayView(m_bytes).sliced(m_mark)) : first(QStringView(m_utf16));
}

QByteArray ProfileText::encode(const QString &text) const
{
    if (m_encoding == Encoding::Bytes)
        return text.toUtf8();
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char *o = out.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const char lo = char(u & 0xFF), hi = char(u >> 8);
        *o++ = m_encoding == Encoding::Utf16LE ? lo : hi;
        *o++ = m_encoding == Encoding::Utf16LE ? hi : lo;
    }
    return out;
}

void ProfileText::replace(qsizetype from, qsizetype to, const QString &text)
{
    const qsizetype width = m_encoding == Encoding::Bytes ? 1 : 2;
    m_bytes.replace(m_mark + from * width, (to - from) * width, encode(text));
    load({});
}

bool ProfileText::setValue(const QString &section, const QString &key, const QString &value)
{
    // A line break would make lines of its own: entries, even sections.
    if (unwritable(value) || trimmed(key).isEmpty())
        return false;
    // Written as it stands, a value with blanks at an end or quotes around it would
    // read back trimmed or unquoted; one more pair of quotes keeps it whole.
    QString written = value;
    if (!value.isEmpty()
        && (isBlank(value.front().unicode()) || isBlank(value.back().unicode()) || unquoted(value).size() != value.size()))
        written = u'"' + value + u'"';

    const Place place = find(section, key, true);
    if (place.entry) {
        replace(place.lineFrom, place.lineTo, place.namePart + written);
        return true;
    }
    const QString end = lineEnd();
    const QString entry = trimmed(key).toString() + u'=' + written + end;
    if (place.section) {
        replace(place.after, place.after, (place.afterEnded ? QString() : end) + entry);
        return true;
    }
    // A new section at the end of the file, a blank line apart from the last one.
    QString add;
    const auto tail = [this](auto text) {
        qsizetype i = m_units;
        if (i == 0 || !isLineEnd(unit(text[i - 1])))
            return std::pair<bool, bool>{false, false};
        i -= unit(text[i - 1]) == u'\n' && i >= 2 && unit(text[i - 2]) == u'\r' ? 2 : 1;
        return std::pair<bool, bool>{true, i == 0 || isLineEnd(unit(text[i - 1]))};
    };
    const auto [ended, blankBefore] = m_encoding == Encoding::Bytes ? tail(QByteArrayView(m_bytes).sliced(m_mark))
                                                                   : tail(QStringView(m_utf16));
    if (m_units > 0) {
        if (!ended)
            add += end;
        if (!blankBefore)
            add += end;
    }
    add += u'[' + trimmed(section).toString() + u']' + end + entry;
    replace(m_units, m_units, add);
    return true;
}

} // namespace tarvic
