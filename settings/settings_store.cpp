#include "settings/settings_store.h"

#include "platform/runtime_error.h"
#include "profile/profile_file.h"

namespace tarvic {

namespace {

const QString Section = QStringLiteral("Tarvic");

RuntimeError accessError(const QString &file, const QString &problem)
{
    return RuntimeError(Err::PathFileAccess,
                        QStringLiteral("Path/File access error: the settings file %1 %2").arg(file, problem));
}

} // namespace

HalvaneSettings::HalvaneSettings(QString filePath) : m_filePath(std::move(filePath)) {}

QString HalvaneSettings::read(const QString &key)
{
    if (m_filePath.isEmpty())
        throw accessError(QStringLiteral("Halvane.ini"), QStringLiteral("has no folder: there is no home folder"));
    try {
        return readProfileFile(m_filePath).value(Section, key).value_or(QString());
    } catch (const ProfileError &e) {
        throw accessError(m_filePath, e.problem());
    }
}

void HalvaneSettings::write(const QList<std::pair<QString, std::optional<QString>>> &values)
{
    if (m_filePath.isEmpty())
        throw accessError(QStringLiteral("Halvane.ini"), QStringLiteral("has no folder: there is no home folder"));
    for (const auto &[key, value] : values) {
        if (const std::optional<QString> why = value ? ProfileText::unwritable(*value) : std::nullopt)
            throw accessError(m_filePath, QStringLiteral("cannot be written: the value of %1 holds %2, which a settings "
                                                         "file cannot hold")
                                              .arg(key, *why));
    }
    try {
        saveProfileFile(m_filePath, [&values](ProfileText &text) {
            for (const auto &[key, value] : values) {
                if (value)
                    text.setValue(Section, key, *value);
                else if (!text.value(Section, key))
                    text.setValue(Section, key, QString());
            }
        });
    } catch (const ProfileError &e) {
        throw accessError(m_filePath, e.problem());
    }
}

} // namespace tarvic
