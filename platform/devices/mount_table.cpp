#include "platform/devices/mount_table.h"

namespace tarvic {

namespace {

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QList<QByteArrayView> fieldsOf(QByteArrayView line)
{
    QList<QByteArrayView> fields;
    qsizetype i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const qsizetype start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            fields << line.sliced(start, i - start);
    }
    return fields;
}

template<typename Fn>
void forEachLine(QByteArrayView text, Fn fn)
{
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        fn(line);
        start = end + 1;
    }
}

std::optional<unsigned> number(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + unsigned(c - '0');
    }
    return value;
}

} // namespace

QByteArray decodeOctalEscapes(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xff) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

QList<MountInfoEntry> parseMountInfo(QByteArrayView text)
{
    QList<MountInfoEntry> table;
    forEachLine(text, [&table](QByteArrayView line) {
        // id parent major:minor root mount-point options [optional fields...] - type source super-options
        const QList<QByteArrayView> f = fieldsOf(line);
        if (f.size() < 10)
            return;
        qsizetype separator = -1;
        for (qsizetype i = 6; i < f.size(); ++i) {
            if (f[i] == "-") {
                separator = i;
                break;
            }
        }
        if (separator < 0 || separator + 2 >= f.size())
            return;
        const qsizetype colon = f[2].indexOf(':');
        if (colon < 0)
            return;
        const auto major = number(f[2].first(colon));
        const auto minor = number(f[2].sliced(colon + 1));
        if (!major || !minor)
            return;
        MountInfoEntry e;
        e.major = *major;
        e.minor = *minor;
        e.root = decodeOctalEscapes(f[3]);
        e.mountPoint = decodeOctalEscapes(f[4]);
        e.fsType = decodeOctalEscapes(f[separator + 1]);
        e.source = decodeOctalEscapes(f[separator + 2]);
        if (!e.mountPoint.startsWith('/'))
            return;
        table << e;
    });
    return table;
}

QList<FstabEntry> parseFstab(QByteArrayView text)
{
    QList<FstabEntry> table;
    forEachLine(text, [&table](QByteArrayView line) {
        const QList<QByteArrayView> f = fieldsOf(line);
        if (f.isEmpty() || f[0].startsWith('#') || f.size() < 3)
            return;
        FstabEntry e;
        e.source = decodeOctalEscapes(f[0]);
        e.file = decodeOctalEscapes(f[1]);
        e.type = decodeOctalEscapes(f[2]);
        // fstab(5) lets the options field be left out: "defaults".
        const QByteArray options = f.size() > 3 ? decodeOctalEscapes(f[3]) : QByteArray("defaults");
        for (const QByteArray &o : options.split(','))
            if (!o.isEmpty())
                e.options << o;
        table << e;
    });
    return table;
}

std::optional<QByteArray> mountPointOf(const QList<MountInfoEntry> &table, unsigned major, unsigned minor)
{
    const MountInfoEntry *found = nullptr;
    for (const MountInfoEntry &e : table) {
        if (e.major != major || e.minor != minor)
            continue;
        if (e.root == "/")
            return e.mountPoint;
        if (!found)
            found = &e;
    }
    if (found)
        return found->mountPoint;
    return std::nullopt;
}

std::optional<MountInfoEntry> mountOn(const QList<MountInfoEntry> &table, QByteArrayView folder)
{
    for (auto it = table.crbegin(); it != table.crend(); ++it)
        if (it->mountPoint == folder)
            return it->root == "/" ? std::optional(*it) : std::nullopt;
    return std::nullopt;
}

} // namespace tarvic
