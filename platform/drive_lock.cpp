#include "platform/drive_lock.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvic {

namespace {

bool ownFolder(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

QByteArray fileName(QChar letter)
{
    return "tarvic-" + QByteArray(1, char(letter.toUpper().unicode())) + ".lock";
}

// A folder of the marks, opened without following a link, and only when it is ours:
// anyone may put a folder of that name into a shared temp folder first.
int openFolder(const QString &folder, bool make)
{
    const QByteArray path = QFile::encodeName(folder);
    if (make && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return -1;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !ownFolder(st))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A mark's file; never a FIFO or device that someone put in its place.
int openFile(const QString &folder, const QByteArray &name, bool make)
{
    const int dir = openFolder(folder, make);
    if (dir < 0)
        return -1;
    const int flags = (make ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::openat(dir, name.constData(), flags, 0600);
    ::close(dir);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QString tempFolder()
{
    return QDir::tempPath() + QStringLiteral("/tarvic-") + QString::number(::geteuid());
}

// Where a mark may be, in the order tried: a folder that cannot be used (a link, not
// ours, not writable) passes the mark on to the next one, and every holder and asker
// tries them in the same order, so they meet in the first one that works.
QStringList folders()
{
    const QString first = DriveLock::folder(), temp = tempFolder();
    return first == temp ? QStringList{temp} : QStringList{first, temp};
}

QByteArray mountingName(quint64 number)
{
    return "mounting-" + QByteArray::number(number) + ".lock";
}

bool isLetter(QChar letter)
{
    return letter.toUpper() >= QLatin1Char('A') && letter.toUpper() <= QLatin1Char('Z');
}

int lock(int fd, int operation)
{
    int r;
    while ((r = ::flock(fd, operation | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return r;
}

} // namespace

DriveLock::~DriveLock()
{
    release();
}

bool DriveLock::hold(QChar letter)
{
    release();
    if (!isLetter(letter))
        return false;
    for (const QString &folder : folders()) {
        const int fd = openFile(folder, fileName(letter), true);
        if (fd < 0)
            continue;
        // Only a test holds it alone, and only for a moment; anyone else who holds it
        // alone for long gets no hang of ours.
        for (int tries = 0; lock(fd, LOCK_SH) != 0; ++tries) {
            if (errno != EWOULDBLOCK || tries == 200) {
                ::close(fd);
                return false;
            }
            const timespec pause{0, 5'000'000};
            ::nanosleep(&pause, nullptr);
        }
        m_fd = fd;
        return true;
    }
    return false;
}

DriveLock::Alone DriveLock::holdAlone()
{
    return holdAloneByName("tarvic-watch.lock");
}

DriveLock::Alone DriveLock::holdAloneByName(const QByteArray &name)
{
    release();
    for (const QString &folder : folders()) {
        const int fd = openFile(folder, name, true);
        if (fd < 0)
            continue;
        if (lock(fd, LOCK_EX) != 0) {
            const bool other = errno == EWOULDBLOCK;
            ::close(fd);
            if (other)
                return Alone::Taken;
            continue;
        }
        m_fd = fd;
        return Alone::Held;
    }
    return Alone::Unmarked;
}

void DriveLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool DriveLock::holdMounting(quint64 number)
{
    return holdAloneByName(mountingName(number)) == Alone::Held;
}

bool DriveLock::isMounting(quint64 number)
{
    return heldByName(mountingName(number));
}

bool DriveLock::isHeld(QChar letter)
{
    return isLetter(letter) && heldByName(fileName(letter));
}

bool DriveLock::heldByName(const QByteArray &name)
{
    for (const QString &folder : folders()) {
        const int fd = openFile(folder, name, false);
        if (fd < 0)
            continue;
        const bool held = lock(fd, LOCK_EX) != 0 && errno == EWOULDBLOCK;
        ::close(fd);
        if (held)
            return true;
    }
    return false;
}

QString DriveLock::folder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat st;
    if (QDir::isAbsolutePath(runtime) && ::stat(QFile::encodeName(runtime).constData(), &st) == 0 && ownFolder(st)
        && ::access(QFile::encodeName(runtime).constData(), W_OK | X_OK) == 0)
        return QDir::cleanPath(runtime) + QStringLiteral("/tarvic");
    return tempFolder();
}

} // namespace tarvic
