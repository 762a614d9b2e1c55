#include "components/ini_reader.h"

#include <QStringDecoder>
#include <QStringView>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvic {

namespace {

// A real autorun.inf is a few hundred bytes; anything past this is not read.
constexpr qsizetype ReadCap = 1024 * 1024;
// The largest value a profile read hands back on Windows.
constexpr qsizetype ValueCap = 65535;
// Text never holds many C0 control codes; past this many the file is taken for
// binary and the rest of it is not read, so a disc full of junk answers as fast
// as a real one.
constexpr int ControlBudget = 64;
// Enough for any real autorun.inf in one read; later reads are larger.
constexpr qsizetype FirstRead = 4 * 1024;
constexpr qsizetype LaterRead = 64 * 1024;

constexpr char16_t CtrlZ = 0x1A;

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == CtrlZ;
}

bool isLineEnd(char16_t c)
{
    return c == u'\n' || c == u'\r';
}

bool isControl(char16_t c)
{
    return c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r' && c != CtrlZ;
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

// UTF-16 from a disc need not be well formed; a lone surrogate becomes U+FFFD, as
// it would in any other conversion. Nothing when the text has none.
std::optional<QString> mendedSurrogates(QStringView s)
{
    std::optional<QString> out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            ++i;
        } else if (s[i].isSurrogate()) {
            if (!out)
                out = s.toString();
            (*out)[i] = QChar::ReplacementCharacter;
        }
    }
    return out;
}

// Looks one entry up, a line at a time, and knows when the rest of the file can
// no longer change the answer.
class Lookup
{
public:
    Lookup(const QString &section, const QString &key)
        : m_section(trimmed(section).toString()), m_key(trimmed(key).toString())
    {
        // No entry has an empty name.
        m_settled = m_key.isEmpty();
    }

    bool settled() const { return m_settled; }
    QString result() const { return m_value ? *m_value : IniNotFound; }

    void take(QByteArrayView line)
    {
        qsizetype i = 0;
        while (i < line.size() && isBlank(unit(line[i])))
            ++i;
        // Outside the section only headers matter; most lines are never decoded.
        if (i == line.size() || !(m_inSection || line[i] == '['))
            return;
        take(QStringView(decodeLine(line.sliced(i))));
    }

    void take(QStringView line)
    {
        if (const std::optional<QString> mended = mendedSurrogates(line)) {
            take(QStringView(*mended));
            return;
        }
        line = trimmed(line);
        if (line.isEmpty() || line.front() == u';')
            return;
        if (line.front() == u'[') {
            if (m_inSection) {
                // Only the first matching section is searched.
                m_settled = true;
                return;
            }
            QStringView name = line.sliced(1);
            const qsizetype close = name.indexOf(u']');
            // An unterminated header still starts a section: the name runs to the line's end.
            if (close >= 0)
                name = name.first(close);
            m_inSection = trimmed(name).compare(m_section, Qt::CaseInsensitive) == 0;
            return;
        }
        if (!m_inSection)
            return;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0 || trimmed(line.first(eq)).compare(m_key, Qt::CaseInsensitive) != 0)
            return;
        m_settled = true;
        QStringView value = trimmed(line.sliced(eq + 1));
        if (value.size() >= 2 && value.front() == value.back()
            && (value.front() == u'"' || value.front() == u'\''))
            value = value.sliced(1, value.size() - 2);
        // A NUL would end the value early for anything that reads it as a C string;
        // such an entry has no usable value.
        if (value.contains(QChar(u'\0')))
            return;
        if (value.size() > ValueCap)
            value = value.first(value[ValueCap - 1].isHighSurrogate() ? ValueCap - 1 : ValueCap);
        m_value = value.toString();
    }

private:
    QString m_section;
    QString m_key;
    bool m_inSection = false;
    bool m_settled = false;
    std::optional<QString> m_value;
};

// Takes a file's bytes in pieces as they are read, finds its encoding from the
// byte-order mark and hands complete lines to the lookup.
class Reader
{
public:
    Reader(const QString &section, const QString &key) : m_lookup(section, key) {}

    // False once reading more cannot change the answer.
    bool add(QByteArrayView bytes)
    {
        if (m_stopped)
            return false;
        if (m_encoding == Encoding::Utf16)
            m_text.append(m_decoder.decode(bytes));
        else
            m_bytes.append(bytes);
        if (m_encoding == Encoding::Unknown && !detect(false))
            return true;
        if (m_encoding == Encoding::Utf16)
            return scan(QStringView(m_text), false) && dropDone(m_text);
        return scan(QByteArrayView(m_bytes), false) && dropDone(m_bytes);
    }

    // Ends the reading. `next` holds the first bytes after the part that was read
    // (empty at the end of the file): unless they start a new line, the last line
    // was cut off and does not count.
    QString finish(QByteArrayView next)
    {
        if (m_stopped)
            return m_lookup.result();
        if (m_encoding == Encoding::Unknown)
            detect(true);
        bool complete = next.isEmpty();
        if (m_encoding == Encoding::Utf16) {
            if (!complete && next.size() >= 2) {
                const auto c = static_cast<char16_t>(m_bigEndian ? unit(next[0]) << 8 | unit(next[1])
                                                                 : unit(next[1]) << 8 | unit(next[0]));
                complete = isLineEnd(c);
            }
            scan(QStringView(m_text), complete);
        } else {
            complete = complete || isLineEnd(unit(next.front()));
            scan(QByteArrayView(m_bytes), complete);
        }
        return m_lookup.result();
    }

private:
    enum class Encoding { Unknown, Bytes, Utf16 };

    bool detect(bool atEnd)
    {
        const QByteArrayView head(m_bytes);
        if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
            // The mark is dropped here, so a U+FEFF after it stays a character.
            m_bigEndian = head[0] == '\xFE';
            m_decoder = QStringDecoder(m_bigEndian ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE,
                                       QStringDecoder::Flag::ConvertInitialBom);
            m_encoding = Encoding::Utf16;
            m_text = m_decoder.decode(head.sliced(2));
            m_bytes.clear();
            return true;
        }
        if (head.size() < 3 && !atEnd)
            return false;
        m_encoding = Encoding::Bytes;
        if (head.startsWith("\xEF\xBB\xBF"))
            m_lineStart = m_pos = 3;
        return true;
    }

    // Goes on from where the last scan stopped; with `atEnd` the text after the
    // last line end is a line too.
    template <typename View>
    bool scan(View text, bool atEnd)
    {
        while (m_pos < text.size()) {
            const char16_t c = unit(text[m_pos]);
            if (isLineEnd(c)) {
                m_lookup.take(text.sliced(m_lineStart, m_pos - m_lineStart));
                m_lineStart = ++m_pos;
                if (m_lookup.settled())
                    return stop();
                continue;
            }
            // Whatever came before is read; the line holding the excess is cut off.
            if (isControl(c) && ++m_controls > ControlBudget)
                return stop();
            ++m_pos;
        }
        if (atEnd) {
            if (m_lineStart < text.size())
                m_lookup.take(text.sliced(m_lineStart));
            return stop();
        }
        return true;
    }

    // Only the line still open is kept, so that memory follows the longest line.
    template <typename Buffer>
    bool dropDone(Buffer &buffer)
    {
        buffer.remove(0, m_lineStart);
        m_pos -= m_lineStart;
        m_lineStart = 0;
        return true;
    }

    bool stop()
    {
        m_stopped = true;
        m_bytes.clear();
        m_text.clear();
        return false;
    }

    Lookup m_lookup;
    Encoding m_encoding = Encoding::Unknown;
    QByteArray m_bytes;
    QString m_text;
    QStringDecoder m_decoder;
    bool m_bigEndian = false;
    qsizetype m_lineStart = 0;
    qsizetype m_pos = 0;
    int m_controls = 0;
    bool m_stopped = false;
};

qsizetype readSome(int fd, char *into, qsizetype max)
{
    for (;;) {
        const ssize_t n = ::read(fd, into, static_cast<size_t>(max));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

QString readIniValueFromBytes(const QString &section, const QString &key, const QByteArray &bytes, qsizetype piece)
{
    Reader reader(section, key);
    const QByteArrayView all(bytes);
    const QByteArrayView text = all.first(std::min(all.size(), ReadCap));
    if (piece <= 0)
        piece = std::max<qsizetype>(text.size(), 1);
    for (qsizetype at = 0; at < text.size(); at += piece) {
        if (!reader.add(text.sliced(at, std::min(piece, text.size() - at))))
            break;
    }
    return reader.finish(all.sliced(text.size()).first(std::min<qsizetype>(all.size() - text.size(), 2)));
}

QString readIniValue(const QString &section, const QString &key, const QByteArray &file)
{
    if (file.isEmpty() || file.contains('\0'))
        return IniNotFound;
    // Non-blocking, so that a FIFO by that name cannot hold the open; only a
    // regular file is read.
    const Fd fd(::open(file.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return IniNotFound;

    Reader reader(section, key);
    QByteArray buffer(LaterRead, Qt::Uninitialized);
    qsizetype total = 0;
    qsizetype want = FirstRead;
    while (total < ReadCap) {
        const qsizetype n = readSome(fd.get(), buffer.data(), std::min(want, ReadCap - total));
        // A read error ends the file like a cut: what was read still counts.
        if (n < 0)
            return reader.finish("?");
        if (n == 0)
            return reader.finish({});
        total += n;
        if (!reader.add(QByteArrayView(buffer.constData(), n)))
            return reader.finish({});
        want = LaterRead;
    }
    char next[2];
    const qsizetype n = readSome(fd.get(), next, 2);
    return reader.finish(n < 0 ? QByteArrayView("?") : QByteArrayView(next, n));
}

} // namespace tarvic
