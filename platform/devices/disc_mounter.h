#pragma once

#include <QByteArray>
#include <QString>

namespace tarvic {

// What one way of mounting (or attaching) answered: where the disc is, or why not.
struct MountAttempt
{
    enum Outcome {
        Mounted,       // mountPoint holds the disc's file system
        Unavailable,   // this way of mounting is not to be had here; try the next
        Failed,        // it was tried and refused; reason says why
    };
    Outcome outcome = Unavailable;
    QByteArray mountPoint;
    QString reason;
};

// One way of mounting a disc for the user without being root.
class DiscMounter
{
public:
    virtual ~DiscMounter() = default;
    virtual MountAttempt mount(const QByteArray &device) = 0;
};

// Attaches a disc image as a read-only loop device and mounts its file system; the
// loop device goes away again when the file system is unmounted.
class ImageAttacher
{
public:
    virtual ~ImageAttacher() = default;
    virtual MountAttempt attach(const QByteArray &image) = 0;
};

} // namespace tarvic
