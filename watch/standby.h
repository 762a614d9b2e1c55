#pragma once

#include <QByteArray>
#include <QChar>
#include <sys/stat.h>

namespace tarvic {

// A tarvic started before the next insertion and waiting for it on a pipe: handed the
// drive and the medium, it goes to work with its libraries long loaded, while the
// medium is being mounted. Gone with this object: the waiting tarvic reads the end
// of its input and ends quietly.
class Standby
{
public:
    Standby() = default;
    ~Standby();
    Standby(const Standby &) = delete;
    Standby &operator=(const Standby &) = delete;

    // Starts PROGRAM to wait, unless one waits already; false when it cannot start.
    bool prepare(const QByteArray &program);
    // "X:" and the medium's device to the waiting tarvic, when it was started from the
    // file that PROGRAM names now and is still there; false otherwise (none waits any
    // longer then).
    bool handOver(const QByteArray &program, QChar letter, const QByteArray &medium);
    bool waiting() const { return m_input >= 0; }

private:
    void drop();

    int m_input = -1;
    QByteArray m_program;
    struct stat m_file {};
};

} // namespace tarvic
