#pragma once

#include <QList>
#include <QString>
#include <optional>
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
    // Stores the values in the order given, all of them or none. A key without a
    // value is written with the value the store holds at that moment (empty when
    // it has none), so a change made elsewhere since it was read stays. Throws
    // RuntimeError when they cannot be stored.
    virtual void write(const QList<std::pair<QString, std::optional<QString>>> &values) = 0;
};

// The store as a profile file: application key "Halvane" is the file (Halvane.ini),
// section "Tarvic" its section, read and written by the rules of ProfileText, so
// that a file edited by hand keeps every other line. A save replaces the file in
// one step under a lock (saveProfileFile), and the value of a key written without
// one is read under that lock: a line that holds one stays as it is, a missing one
// is added empty. Reading takes no lock, as a reader sees the old file or the new
// one. Every failure is error 75 with the reason.
// An empty path stands for a user without a home folder: every use fails.
class HalvaneSettings final : public SettingsStore
{
public:
    explicit HalvaneSettings(QString filePath);

    QString read(const QString &key) override;
    void write(const QList<std::pair<QString, std::optional<QString>>> &values) override;

    const QString &filePath() const { return m_filePath; }

private:
    QString m_filePath;
};

} // namespace tarvic
