#include "settings/settings_store.h"

#include "platform/runtime_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace tarvic {

namespace {

const QString Section = QStringLiteral("Tarvic");

void checkStatus(const QSettings &settings)
{
    switch (settings.status()) {
    case QSettings::NoError:
        return;
    case QSettings::AccessError:
        throw RuntimeError(Err::PathFileAccess, QStringLiteral("Path/File access error: the settings file %1 cannot be read")
                                                    .arg(settings.fileName()));
    case QSettings::FormatError:
        throw RuntimeError(Err::PathFileAccess, QStringLiteral("Path/File access error: the settings file %1 is damaged")
                                                    .arg(settings.fileName()));
    }
}

} // namespace

HalvaneSettings::HalvaneSettings(QString filePath) : m_filePath(std::move(filePath)) {}

void HalvaneSettings::checkReadable() const
{
    const QFileInfo info(m_filePath);
    if (!info.exists() && !info.isSymLink())
        return;
    if (info.isDir())
        throw RuntimeError(Err::PathFileAccess,
                           QStringLiteral("Path/File access error: the settings file %1 is a folder").arg(m_filePath));
    QFile probe(m_filePath);
    if (!probe.open(QIODevice::ReadOnly))
        throw RuntimeError(Err::PathFileAccess, QStringLiteral("Path/File access error: the settings file %1 cannot be read (%2)")
                                                    .arg(m_filePath, probe.errorString()));
}

QString HalvaneSettings::read(const QString &key)
{
    checkReadable();
    QSettings settings(m_filePath, QSettings::IniFormat);
    checkStatus(settings);
    settings.beginGroup(Section);
    const QVariant v = settings.value(key);
    // A value written by hand as a list ("a, b") comes back as one; give it back as typed.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

void HalvaneSettings::write(const QList<std::pair<QString, QString>> &values)
{
    checkReadable();
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder))
        throw RuntimeError(Err::PathFileAccess,
                           QStringLiteral("Path/File access error: the folder %1 for the settings cannot be made").arg(folder));
    {
        QSettings settings(m_filePath, QSettings::IniFormat);
        // QSettings writes through a temporary file that replaces the old one, so
        // either every value lands or the old file stays as it was.
        settings.setAtomicSyncRequired(true);
        checkStatus(settings); // never rewrite a damaged file: what it holds would be lost
        settings.beginGroup(Section);
        for (const auto &[key, value] : values)
            settings.setValue(key, value);
        settings.endGroup();
        settings.sync();
        if (settings.status() != QSettings::NoError)
            throw RuntimeError(Err::PathFileAccess,
                               QStringLiteral("Path/File access error: the settings file %1 cannot be written").arg(m_filePath));
    }
}

} // namespace tarvic
