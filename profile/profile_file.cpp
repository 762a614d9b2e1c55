#include "profile/profile_file.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLockFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tarvic {

namespace {

// A save waits this long for another one to finish.
constexpr int LockWaitMs = 10000;
constexpr int LinkHops = 40;

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString cannot(const char *what, int error)
{
    return QStringLiteral("cannot be %1 (%2)").arg(QLatin1String(what), reason(error));
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void take(int fd)
    {
        reset();
        m_fd = fd;
    }
    // The result of close(): a write that failed late shows here.
    int reset()
    {
        const int r = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return r;
    }

private:
    int m_fd;
};

ssize_t readSome(int fd, char *into, size_t max)
{
    for (;;) {
        const ssize_t n = ::read(fd, into, max);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// What a file is, after "is".
QString kindName(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    return QStringLiteral("not a regular file");
}

// What stands at `path` instead of a regular file, through its links.
QString notRegular(const QByteArray &path, mode_t mode)
{
    struct stat own;
    if (::lstat(path.constData(), &own) == 0 && S_ISLNK(own.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.constData(), resolved))
            return QStringLiteral("leads to %1, which is %2").arg(QFile::decodeName(resolved), kindName(mode));
    }
    return QStringLiteral("is ") + kindName(mode);
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.first(slash);
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// A rename in the folder survives a crash only once the folder is synced. Some
// file systems cannot sync a folder; there it is left to them.
void syncFolder(const QByteArray &folder)
{
    const Fd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        (void)::fsync(fd.get());
}

// The last link's target: the file that a save replaces.
QByteArray finalTarget(QByteArray path)
{
    for (int hop = 0; hop < LinkHops; ++hop) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (n < 0 || n >= target.size())
            throw ProfileError(cannot("written", n < 0 ? errno : ENAMETOOLONG));
        target.truncate(n);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    throw ProfileError(cannot("written", ELOOP));
}

void makeFolders(const QByteArray &folder)
{
    if (::mkdir(folder.constData(), 0777) == 0 || errno == EEXIST)
        return;
    if (errno == ENOENT && folderOf(folder) != folder) {
        makeFolders(folderOf(folder));
        if (::mkdir(folder.constData(), 0777) == 0 || errno == EEXIST)
            return;
    }
    throw ProfileError(QStringLiteral("cannot be written: its folder %1 cannot be made (%2)")
                           .arg(QFile::decodeName(folder), reason(errno)));
}

// The user whom the kernel checks file access for and who owns the files made;
// setfsuid with an id it refuses changes nothing and tells the current one.
uid_t fileSystemUser()
{
    return static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
}

// Refuses at once a lock that no waiting can make usable: something else than a
// file in its place, another user's file, or a folder where it cannot be made.
void refuseUnusableLock(const QByteArray &lock)
{
    const QByteArray folder = folderOf(lock);
    const QString named = QStringLiteral("cannot be written: its lock file %1 in %2 ")
                              .arg(QFile::decodeName(nameOf(lock)), QFile::decodeName(folder));
    struct stat st;
    if (::lstat(lock.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            throw ProfileError(named + QStringLiteral("is ") + kindName(st.st_mode));
        // Root may take over anyone's stale lock; another user could never do so.
        if (const uid_t user = fileSystemUser(); st.st_uid != user && user != 0)
            throw ProfileError(named + QStringLiteral("belongs to another user"));
    }
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        throw ProfileError(QStringLiteral("cannot be written: its folder %1 may not be written (%2), so its lock "
                                          "file %3 cannot be made there")
                               .arg(QFile::decodeName(folder), reason(errno), QFile::decodeName(nameOf(lock))));
}

// Holds the lock beside the file for one save; another save that holds it is
// waited for, and one that died leaves a lock QLockFile knows to be stale.
class SaveLock
{
public:
    explicit SaveLock(const QByteArray &target) : m_lock(QFile::decodeName(target) + QStringLiteral(".lock"))
    {
        const QByteArray lock = target + ".lock";
        QDeadlineTimer deadline(LockWaitMs);
        for (;;) {
            refuseUnusableLock(lock);
            errno = 0;
            if (m_lock.tryLock(0))
                return;
            const int error = errno;
            if (m_lock.error() != QLockFile::LockFailedError)
                throw ProfileError(error ? cannot("written", error)
                                         : QStringLiteral("cannot be written (its lock file %1 cannot be made)")
                                               .arg(m_lock.fileName()));
            if (deadline.hasExpired())
                throw ProfileError(QStringLiteral("cannot be written: another program has been saving it for %1 s "
                                                  "(its lock file is %2)")
                                       .arg(LockWaitMs / 1000)
                                       .arg(m_lock.fileName()));
            QThread::msleep(5);
        }
    }

private:
    QLockFile m_lock;
};

// The attributes a save carries over to the new file: the ACL and the user's own.
using Attributes = QList<std::pair<QByteArray, QByteArray>>;

bool carried(const QByteArray &name)
{
    return name == "system.posix_acl_access" || name.startsWith("user.");
}

// False when they cannot be read, so that the file is written in place.
bool readAttributes(const QByteArray &path, Attributes &out)
{
    QByteArray names(4096, Qt::Uninitialized);
    ssize_t n;
    while ((n = ::llistxattr(path.constData(), names.data(), static_cast<size_t>(names.size()))) < 0 && errno == ERANGE)
        names.resize(names.size() * 4);
    if (n < 0)
        return errno == ENOTSUP;
    names.truncate(n);
    for (const QByteArray &name : names.split('\0')) {
        if (!carried(name))
            continue;
        QByteArray value(256, Qt::Uninitialized);
        ssize_t m;
        while ((m = ::lgetxattr(path.constData(), name.constData(), value.data(), static_cast<size_t>(value.size()))) < 0
               && errno == ERANGE)
            value.resize(value.size() * 4);
        if (m < 0)
            return false;
        value.truncate(m);
        out.append({name, value});
    }
    return true;
}

// A new file beside the target, gone again unless it has been renamed. Its name,
// ".<name>.<pid>.<random>", tells a later save whether the process that wrote it
// still runs.
class NewFile
{
public:
    explicit NewFile(const QByteArray &target)
    {
        const QByteArray folder = folderOf(target);
        const QByteArray name = nameOf(target);
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_path = folder + "/." + name + '.' + QByteArray::number(::getpid()) + '.'
                + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            // 0666 under the umask, as any new file; an existing one's mode comes later.
            m_fd.take(::open(m_path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
            if (m_fd.get() >= 0)
                return;
            if (errno != EEXIST)
                break;
        }
        m_path.clear();
        throw ProfileError(cannot("written", errno));
    }
    ~NewFile()
    {
        if (!m_path.isEmpty())
            ::unlink(m_path.constData());
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    const QByteArray &path() const { return m_path; }

    // Gives the new file the old one's owner, mode and attributes, then writes it.
    // False, nothing written, where they cannot all be carried over.
    bool write(const QByteArray &bytes, const struct stat *old, const Attributes &attributes = {})
    {
        if (old) {
            // Only root may give a file away, and a group only to one of its members.
            if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid())
                && ::fchown(m_fd.get(), old->st_uid, old->st_gid) != 0)
                return false;
            bool acl = false;
            for (const auto &[name, value] : attributes) {
                acl = acl || name == "system.posix_acl_access";
                if (::fsetxattr(m_fd.get(), name.constData(), value.constData(), static_cast<size_t>(value.size()), 0) != 0)
                    return false;
            }
            // The folder's default ACL gave the new file one that the old did not have.
            if (!acl && ::fremovexattr(m_fd.get(), "system.posix_acl_access") != 0 && errno != ENODATA
                && errno != ENOTSUP)
                return false;
            // Last, as setting an ACL sets the mode; with the ACL's own mode this
            // leaves the ACL as it is.
            if (::fchmod(m_fd.get(), old->st_mode & 07777) != 0)
                throw ProfileError(cannot("written", errno));
        }
        if (!writeAll(m_fd.get(), bytes) || ::fsync(m_fd.get()) != 0 || m_fd.reset() != 0)
            throw ProfileError(cannot("written", errno));
        return true;
    }

    void renameTo(const QByteArray &path)
    {
        if (::rename(m_path.constData(), path.constData()) != 0)
            throw ProfileError(cannot("written", errno));
        m_path.clear();
    }

private:
    QByteArray m_path;
    Fd m_fd;
};

// Writes the bytes over the file itself, which keeps its identity: its other hard
// links, owner, ACL and attributes.
void overwrite(const QByteArray &target, const QByteArray &bytes)
{
    const Fd fd(::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        throw ProfileError(cannot("written", errno));
    if (!S_ISREG(st.st_mode))
        throw ProfileError(QStringLiteral("is ") + kindName(st.st_mode));
    if (::lseek(fd.get(), 0, SEEK_SET) != 0 || !writeAll(fd.get(), bytes) || ::ftruncate(fd.get(), bytes.size()) != 0
        || ::fsync(fd.get()) != 0)
        throw ProfileError(cannot("written", errno));
}

// Writes the file in place, as editors do where a rename would break its identity.
// A copy of the old bytes stands beside it, complete and synced under its final
// name ".<name>.<pid>.<random>.copy", until the new bytes are: a save killed in
// between leaves the copy, which the next save puts back (mendLeftovers).
void writeInPlace(const QByteArray &target, const QByteArray &oldBytes, const QByteArray &bytes)
{
    const QByteArray folder = folderOf(target);
    NewFile copy(target);
    struct stat own = {};
    own.st_uid = ::geteuid();
    own.st_gid = ::getegid();
    own.st_mode = S_IFREG | 0600;   // as private as the file may be
    copy.write(oldBytes, &own);
    const QByteArray copyPath = copy.path() + ".copy";
    copy.renameTo(copyPath);
    try {
        syncFolder(folder);
        overwrite(target, bytes);
    } catch (const ProfileError &) {
        // The old bytes fit where they stood; failing that, the copy waits for the
        // next save.
        try {
            overwrite(target, oldBytes);
            ::unlink(copyPath.constData());
        } catch (const ProfileError &) {
        }
        throw;
    }
    if (::unlink(copyPath.constData()) != 0)
        throw ProfileError(cannot("written", errno));
}

// Clears away what saves killed half-way left beside the target, for processes
// that no longer run: a new file is removed; the copy of a file written in place
// is first written back over it, which may be half written.
void mendLeftovers(const QByteArray &target)
{
    const QByteArray folder = folderOf(target);
    const QByteArray prefix = '.' + nameOf(target) + '.';
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const auto closeDir = qScopeGuard([dir] { ::closedir(dir); });
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix))
            continue;
        const QList<QByteArray> parts = name.sliced(prefix.size()).split('.');   // pid, random[, copy]
        bool number = false;
        const long pid = parts[0].toLong(&number);
        if (parts.size() < 2 || parts.size() > 3 || (parts.size() == 3 && parts[2] != "copy") || !number || pid <= 0
            || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        const QByteArray path = folder + '/' + name;
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != fileSystemUser())
            continue;
        if (parts.size() == 3) {
            const ProfileBytes old = readProfileBytes(path, ProfileCap);
            if (old.status != ProfileBytes::Read || !old.next.isEmpty())
                throw ProfileError(QStringLiteral("cannot be written: the copy %1 that an interrupted save left of it "
                                                  "cannot be put back (%2)")
                                       .arg(QFile::decodeName(path), old.problem));
            // A file removed since is not brought back.
            if (::access(target.constData(), F_OK) == 0)
                overwrite(target, old.bytes);
        }
        ::unlink(path.constData());
    }
}

// Opens the regular file that `path` names for reading. A FIFO, device or socket
// is only looked at: O_PATH takes hold of the name without opening what it names,
// and only a regular file is then opened, through /proc as the very file looked
// at. Where /proc cannot serve (not mounted, or closed to a process that has
// changed its file-system user) it is opened by name and must turn out the same
// file.
int openRegular(const QByteArray &path, struct stat &st, ProfileBytes &out)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        const Fd held(::open(path.constData(), O_PATH | O_CLOEXEC));
        if (held.get() < 0 || ::fstat(held.get(), &st) != 0) {
            if (errno == ENOENT)
                return -1;
            out.status = ProfileBytes::Refused;
            out.problem = cannot("read", errno);
            return -1;
        }
        if (!S_ISREG(st.st_mode)) {
            out.status = ProfileBytes::Refused;
            out.problem = notRegular(path, st.st_mode);
            return -1;
        }
        const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        int fd = ::open(QByteArray("/proc/self/fd/" + QByteArray::number(held.get())).constData(), flags);
        if (fd >= 0)
            return fd;
        struct stat opened;
        fd = ::open(path.constData(), flags);
        if (fd < 0) {
            out.status = ProfileBytes::Refused;
            out.problem = cannot("read", errno);
            return -1;
        }
        if (::fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev)
            return fd;
        // Replaced in between (a save renames a new file over it): look again.
        ::close(fd);
    }
    out.status = ProfileBytes::Refused;
    out.problem = QStringLiteral("cannot be read (it keeps changing)");
    return -1;
}

} // namespace

ProfileError::ProfileError(QString problem) : std::runtime_error(problem.toStdString()), m_problem(std::move(problem)) {}

ProfileBytes readProfileBytes(const QByteArray &path, qsizetype cap)
{
    ProfileBytes out;
    struct stat st;
    const Fd fd(openRegular(path, st, out));
    if (fd.get() < 0)
        return out;
    out.bytes.resize(std::min<qsizetype>(std::max<qint64>(st.st_size, 0) + 1, cap));
    qsizetype total = 0;
    for (;;) {
        if (total == out.bytes.size()) {
            if (total >= cap)
                break;
            out.bytes.resize(std::min(cap, total * 2 + 4096));
        }
        const ssize_t n = readSome(fd.get(), out.bytes.data() + total, static_cast<size_t>(out.bytes.size() - total));
        if (n < 0) {
            out.bytes.truncate(total);
            out.status = ProfileBytes::Broken;
            out.problem = cannot("read", errno);
            return out;
        }
        if (n == 0) {
            out.bytes.truncate(total);
            out.status = ProfileBytes::Read;
            return out;
        }
        total += n;
    }
    char next[2];
    const ssize_t n = readSome(fd.get(), next, sizeof next);
    if (n < 0) {
        out.status = ProfileBytes::Broken;
        out.problem = cannot("read", errno);
        return out;
    }
    out.next = QByteArray(next, n);
    out.status = ProfileBytes::Read;
    return out;
}

ProfileText readProfileFile(const QString &path)
{
    ProfileBytes read = readProfileBytes(QFile::encodeName(path), ProfileCap);
    switch (read.status) {
    case ProfileBytes::Missing:
        return ProfileText();
    case ProfileBytes::Refused:
    case ProfileBytes::Broken:
        throw ProfileError(read.problem);
    case ProfileBytes::Read:
        break;
    }
    if (!read.next.isEmpty())
        throw ProfileError(QStringLiteral("is larger than 1 MiB"));
    ProfileText text(std::move(read.bytes));
    if (!text.wellFormed())
        throw ProfileError(QStringLiteral("is not valid UTF-16 text"));
    return text;
}

void saveProfileFile(const QString &path, const std::function<void(ProfileText &)> &edit)
{
    const QByteArray native = QFile::encodeName(path);
    // A look before the lock, whose file would otherwise be made beside a device.
    struct stat st;
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        throw ProfileError(notRegular(native, st.st_mode));
    const QByteArray target = finalTarget(native);
    struct stat folder;
    if (::stat(folderOf(target).constData(), &folder) != 0)
        makeFolders(folderOf(target));

    const SaveLock lock(target);
    mendLeftovers(target);
    ProfileText text = readProfileFile(path);
    const QByteArray oldBytes = text.bytes();
    struct stat old;
    const bool exists = ::lstat(target.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        throw ProfileError(notRegular(native, old.st_mode));
    if (!exists && errno != ENOENT)
        throw ProfileError(cannot("written", errno));
    // A file the user may not write stays as it is, though the folder would let a
    // rename replace it.
    if (exists && ::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
        throw ProfileError(cannot("written", errno));

    edit(text);
    if (text.bytes().size() > ProfileCap)
        throw ProfileError(QStringLiteral("cannot be written: it would be larger than 1 MiB"));
    // A new file renamed over the old one would split its hard links.
    Attributes attributes;
    if (!exists || (old.st_nlink == 1 && readAttributes(target, attributes))) {
        NewFile file(target);
        if (file.write(text.bytes(), exists ? &old : nullptr, attributes)) {
            file.renameTo(target);
            return;
        }
    }
    writeInPlace(target, oldBytes, text.bytes());
}

} // namespace tarvic
