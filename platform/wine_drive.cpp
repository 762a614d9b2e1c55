#include "platform/wine_drive.h"

#include "platform/config_paths.h"
#include "platform/drive_paths.h"
#include "platform/system_starter.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvic {

namespace {

// A cold Wine takes a second or two; one that must update its prefix first, longer.
constexpr int helperTimeoutMs = 60000;
constexpr qint64 recordLimit = 1 << 16;

struct Made
{
    QChar letter;
    QByteArray root;
    QByteArray prefix;
};

QList<Made> readRecord()
{
    QList<Made> made;
    QFile file(wineDrivesRecord());
    struct stat st {};
    if (::stat(QFile::encodeName(file.fileName()).constData(), &st) != 0 || !S_ISREG(st.st_mode)
        || !file.open(QIODevice::ReadOnly))
        return made;
    // Anyone may have written it: a line that is not ours counts as nothing.
    for (const QByteArray &line : file.read(recordLimit).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3 && fields[0].size() == 1 && fields[0][0] >= 'a' && fields[0][0] <= 'z'
            && fields[1].startsWith('/') && fields[2].startsWith('/'))
            made.append({QLatin1Char(fields[0][0]), fields[1], fields[2]});
    }
    return made;
}

void writeRecord(const QList<Made> &made)
{
    const QString path = wineDrivesRecord();
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).path()))
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const Made &m : made)
        file.write(QByteArray(1, char(m.letter.unicode())) + '\t' + m.root + '\t' + m.prefix + '\n');
    file.commit();
}

QByteArray linkOf(const QByteArray &dosdevices, QChar letter, const char *suffix)
{
    return dosdevices + '/' + char(letter.unicode()) + suffix;
}

bool exists(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

QByteArray readLink(const QByteArray &path)
{
    QByteArray target(4096, '\0');
    const ssize_t got = ::readlink(path.constData(), target.data(), target.size());
    return got > 0 && got < target.size() ? target.left(got) : QByteArray();
}

// Tarvic's while its link still leads where Tarvic pointed it, or is gone: one the
// user has pointed elsewhere since is the user's.
bool madeByTarvic(const QList<Made> &made, const QByteArray &prefix, QChar letter)
{
    const QByteArray link = linkOf(prefix + "/dosdevices", letter, ":");
    const QByteArray target = readLink(link);
    for (const Made &m : made)
        if (m.prefix == prefix && m.letter == letter)
            return target == m.root || !exists(link);
    return false;
}

QByteArray helperFor(const QByteArray &prefix)
{
    struct stat st {};
    // Only a 64-bit prefix has syswow64; a 32-bit one cannot run the 64-bit helper.
    const bool wide = ::stat((prefix + "/drive_c/windows/syswow64").constData(), &st) == 0 && S_ISDIR(st.st_mode);
    const QString name = wide ? QStringLiteral("winedrive-x86_64.exe") : QStringLiteral("winedrive-i686.exe");
    const QString here = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    // Installed beside the program, or where the build puts it.
    for (const QString &folder : {here + QStringLiteral("/../lib/tarvic"), here + QStringLiteral("/winedrive")}) {
        const QByteArray candidate = QFile::encodeName(folder + QLatin1Char('/') + name);
        if (::stat(candidate.constData(), &st) == 0 && S_ISREG(st.st_mode))
            return candidate;
    }
    return {};
}

} // namespace

QByteArray winePrefix()
{
    const QByteArray set = qgetenv("WINEPREFIX");
    if (!set.isEmpty())
        return set.startsWith('/') ? set : QByteArray();   // wine refuses a relative one
    const QString home = homeFolder();
    return home.isEmpty() ? QByteArray() : QFile::encodeName(home) + "/.wine";
}

QString wineDrivesRecord()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state)) {
        const QString home = homeFolder();
        if (home.isEmpty())
            return {};
        state = home + QStringLiteral("/.local/state");
    }
    return QDir::cleanPath(state) + QStringLiteral("/tarvic/wine-drives");
}

QByteArray blockDeviceOf(const QByteArray &root)
{
    struct stat st {};
    if (::stat(root.constData(), &st) != 0)
        return {};
    const QByteArray sys = "/sys/dev/block/" + QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev));
    const QByteArray link = readLink(sys);
    if (link.isEmpty())
        return {};
    const QByteArray node = "/dev/" + link.mid(link.lastIndexOf('/') + 1);
    struct stat dev {};
    if (::stat(node.constData(), &dev) != 0 || !S_ISBLK(dev.st_mode) || dev.st_rdev != st.st_dev)
        return {};
    return node;
}

std::optional<QChar> chooseWineLetter(const QByteArray &prefix, const QByteArray &discRoot, QChar own)
{
    const QByteArray dosdevices = prefix + "/dosdevices";
    const auto root = canonical(discRoot);
    if (!root)
        return std::nullopt;
    const QList<Made> made = readRecord();
    const auto free = [&](QChar l) {
        return !exists(linkOf(dosdevices, l, ":")) && !exists(linkOf(dosdevices, l, "::"));
    };
    for (char l = 'a'; l <= 'z'; ++l) {
        const auto leadsTo = canonical(linkOf(dosdevices, QLatin1Char(l), ":"));
        if (leadsTo && *leadsTo == *root)
            return madeByTarvic(made, prefix, QLatin1Char(l)) ? std::optional<QChar>(QLatin1Char(l)) : std::nullopt;
    }
    own = own.toLower();
    if (own >= QLatin1Char('a') && own <= QLatin1Char('z') && (free(own) || madeByTarvic(made, prefix, own)))
        return own;
    for (char l = 'd'; l <= 'z'; ++l)
        if (free(QLatin1Char(l)))
            return QLatin1Char(l);
    return std::nullopt;
}

void defineWineDrive(QChar own, const QByteArray &root, const QByteArray &device, const QByteArray &wine)
{
    const QByteArray prefix = winePrefix();
    struct stat st {};
    // Wine makes a missing prefix itself, the first time it starts.
    if (prefix.isEmpty() || ::stat((prefix + "/dosdevices").constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    const auto real = canonical(root);
    // The record holds one entry a line, its fields apart by tabs.
    if (!real || real->contains('\n') || real->contains('\t') || prefix.contains('\n') || prefix.contains('\t'))
        return;
    const QByteArray helper = helperFor(prefix);
    const auto letter = chooseWineLetter(prefix, *real, own);
    if (helper.isEmpty() || !letter)
        return;
    // The paths go as hexadecimal: Wine would read other bytes by the locale's code page.
    QList<QByteArray> argv{wine, helper, "define", QByteArray(1, char(letter->unicode())), real->toHex()};
    if (!device.isEmpty())
        argv << device.toHex();
    if (runQuietly(argv, helperTimeoutMs) != 0)
        return;
    QList<Made> made = readRecord();
    made.removeIf([&](const Made &m) { return m.prefix == prefix && m.letter == *letter; });
    made.append({*letter, *real, prefix});
    writeRecord(made);
}

} // namespace tarvic
