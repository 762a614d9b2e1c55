#pragma once

#include <QList>
#include <QString>
#include <utility>

namespace tarvic {

// The four keys of the per-user store.
namespace Key {
inline const QString AudioCD = QStringLiteral("AudioCD");
inline const QString CDSI = QStringLiteral("CDSI");
inline const QString VideoDVD = QStringLiteral("VideoDVD");
inline const QString DVDSI = QStringLiteral("DVDSI");
}

// The per-user settings of the program, read afresh at every use.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    // The stored value; a missing file, group or key gives the empty string.
    // Throws RuntimeError when the store cannot be read.
    virtual QString read(const QString &key) = 0;
    // Stores the values in the order given, all of them or none. Throws
    // RuntimeError when they cannot be stored.
    virtual void write(const QList<std::pair<QString, QString>> &values) = 0;
};

// The store as a profile file: application key "Halvane" is the file (Halvane.ini),
// section "Tarvic" its section, read and written by the rules of ProfileText, so
// that a file edited by hand keeps every other line. A save replaces the file in
// one step under a lock (saveProfileFile); reading takes no lock, as a reader sees
// the old file or the new one. Every failure is error 75 with the reason.
// An empty path stands for a user without a home folder: every use fails.
class HalvaneSettings final : public SettingsStore
{
public:
    explicit HalvaneSettings(QString filePath);

    QString read(const QString &key) override;
    void write(const QList<std::pair<QString, QString>> &values) override;

    const QString &filePath() const { return m_filePath; }

private:
    QString m_filePath;
};

} // namespace tarvic
