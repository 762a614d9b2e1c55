#include "platform/devices/optical_drives.h"

#include <QDir>
#include <QFile>
#include <algorithm>

namespace tarvic {

QList<QByteArray> listOpticalDrives(const QString &sysRoot)
{
    struct Drive
    {
        QByteArray prefix;
        qint64 number;
        QByteArray name;
    };
    QList<Drive> drives;
    const QStringList names = QDir(sysRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &n : names) {
        const QByteArray name = QFile::encodeName(n);
        QFile type(sysRoot + QLatin1Char('/') + n + QStringLiteral("/device/type"));
        const bool rom = type.open(QIODevice::ReadOnly) && type.read(16).trimmed() == "5";
        qsizetype digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
            --digits;
        const QByteArray prefix = name.left(digits);
        const bool sr = prefix == "sr" && digits < name.size();
        if (!rom && !sr)
            continue;
        const QByteArray suffix = name.mid(digits);
        bool ok = false;
        const qint64 number = suffix.size() <= 9 ? suffix.toLongLong(&ok) : -1;
        drives << Drive{prefix, ok ? number : -1, name};
    }
    // sr2 before sr10: the kernel's order, not the text's.
    std::sort(drives.begin(), drives.end(), [](const Drive &a, const Drive &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        if (a.number != b.number)
            return a.number < b.number;
        return a.name < b.name;
    });
    QList<QByteArray> result;
    for (const Drive &d : drives)
        result << "/dev/" + d.name;
    return result;
}

} // namespace tarvic
