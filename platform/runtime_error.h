#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace tarvic {

// The numbers follow the classic run-time error numbers, so a user who has met
// them before recognises them; the README lists them.
namespace Err {
constexpr int InvalidCall = 5;        // the thing cannot be started or done this way
constexpr int OutOfMemory = 7;
constexpr int FileNotFound = 53;
constexpr int DeviceUnavailable = 68; // no drive of that letter
constexpr int PermissionDenied = 70;
constexpr int DiskNotReady = 71;      // no disc, or a disc that cannot be mounted
constexpr int PathFileAccess = 75;    // the settings file cannot be read or written
constexpr int PathNotFound = 76;
constexpr int Internal = 51;
}

// A run-time failure: a number and a description, as the error boxes show them.
class RuntimeError : public std::exception
{
public:
    RuntimeError(int number, QString description);

    int number() const { return m_number; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

// The system's own text for the last errno, for descriptions.
QString systemReason(int errnoValue);

} // namespace tarvic
