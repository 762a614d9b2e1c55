#include "platform/drive_map.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvic {

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A link's target; a relative one is taken from the map folder, as the kernel would.
std::optional<QByteArray> entryTarget(const QByteArray &folder, const QByteArray &name)
{
    const QByteArray path = folder + '/' + name;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return std::nullopt;
    if (!S_ISLNK(st.st_mode))
        return S_ISDIR(st.st_mode) ? std::optional(path) : std::nullopt;
    QByteArray buf(4096, '\0');
    const ssize_t n = ::readlink(path.constData(), buf.data(), size_t(buf.size()));
    if (n <= 0 || n >= buf.size())
        return std::nullopt;
    buf.truncate(int(n));
    if (!buf.startsWith('/'))
        buf = folder + '/' + buf;
    return buf;
}

bool hasLetter(const QList<DriveEntry> &entries, QChar letter)
{
    return std::any_of(entries.cbegin(), entries.cend(), [letter](const DriveEntry &e) { return e.letter == letter; });
}

} // namespace

DriveMap::DriveMap(QString folder, DeviceLister opticalDrives)
    : m_folder(std::move(folder)), m_opticalDrives(std::move(opticalDrives))
{
}

std::optional<QChar> DriveMap::letterOf(const QString &designator)
{
    if (designator.size() < 2 || designator.size() > 3 || designator.at(1) != QLatin1Char(':'))
        return std::nullopt;
    const QChar c = designator.at(0);
    if (c.unicode() > 0x7f || !isAsciiLetter(char(c.unicode())))
        return std::nullopt;
    if (designator.size() == 3 && designator.at(2) != QLatin1Char('\\') && designator.at(2) != QLatin1Char('/'))
        return std::nullopt;
    return c.toUpper();
}

QList<DriveEntry> DriveMap::mappedEntries() const
{
    const QByteArray folder = QFile::encodeName(m_folder);
    QList<QByteArray> names;
    QList<QChar> watched;
    if (std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.constData()), ::closedir); dir) {
        while (const dirent *d = ::readdir(dir.get())) {
            const QByteArray name(d->d_name);
            if (name.size() == 8 && isAsciiLetter(name[0]) && name.mid(1).toLower() == "::watch")
                watched << QChar(QLatin1Char(name[0])).toUpper();
            const bool folderEntry = name.size() == 2 && name[1] == ':';
            const bool deviceEntry = name.size() == 3 && name[1] == ':' && name[2] == ':';
            if ((folderEntry || deviceEntry) && isAsciiLetter(name[0]))
                names << name;
        }
    }
    // Lower case first, as Wine writes them, so "e:" beats a stray "E:".
    std::sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
        const char la = char(a[0] | 0x20), lb = char(b[0] | 0x20);
        if (la != lb)
            return la < lb;
        if (a.size() != b.size())
            return a.size() > b.size(); // device entry before folder entry
        return a > b;                   // 'e' before 'E'
    });

    QList<DriveEntry> result;
    for (const QByteArray &name : names) {
        const QChar letter = QChar(QLatin1Char(name[0])).toUpper();
        if (hasLetter(result, letter))
            continue;
        const bool device = name.size() == 3;
        DriveEntry e;
        e.letter = letter;
        e.kind = device ? DriveEntry::Device : DriveEntry::Folder;
        e.watchAnyMedium = watched.contains(letter);
        // A dangling folder link still names a drive: one without a disc.
        e.target = entryTarget(folder, name).value_or(QByteArray());
        if (device && e.target.isEmpty())
            continue;
        result << e;
    }
    return result;
}

QList<DriveEntry> DriveMap::withOpticalDrives(QList<DriveEntry> result) const
{
    const bool anyDevice =
        std::any_of(result.cbegin(), result.cend(), [](const DriveEntry &e) { return e.kind == DriveEntry::Device; });
    if (!anyDevice && m_opticalDrives) {
        char next = 'D';
        for (const QByteArray &device : m_opticalDrives()) {
            while (next <= 'Z' && hasLetter(result, QLatin1Char(next)))
                ++next;
            if (next > 'Z')
                break;
            result << DriveEntry{DriveEntry::Device, QLatin1Char(next), device};
        }
    }
    return result;
}

QList<DriveEntry> DriveMap::entries() const
{
    return withOpticalDrives(mappedEntries());
}

DriveEntry DriveMap::find(QChar letter) const
{
    const QChar upper = letter.toUpper();
    const auto in = [upper](const QList<DriveEntry> &list) {
        const auto it = std::find_if(list.cbegin(), list.cend(), [upper](const DriveEntry &e) { return e.letter == upper; });
        return it == list.cend() ? DriveEntry{} : *it;
    };
    // The machine's drives are looked for only when the map itself has no answer.
    const QList<DriveEntry> mapped = mappedEntries();
    const DriveEntry e = in(mapped);
    return e.kind != DriveEntry::None ? e : in(withOpticalDrives(mapped));
}

} // namespace tarvic
