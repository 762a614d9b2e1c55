#include "platform/system_starter.h"

#include "platform/command_line.h"
#include "platform/drive_paths.h"
#include "platform/runtime_error.h"
#include "platform/wine_drive.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace tarvic {

namespace {

const QString invalidCallWords = QStringLiteral("Invalid procedure call or argument");

RuntimeError invalidCall(const QString &what)
{
    return RuntimeError(Err::InvalidCall, invalidCallWords + QStringLiteral(": ") + what);
}

// The classic number and words for a start that the system refused.
RuntimeError startFailure(int err, const QString &what)
{
    int number = Err::InvalidCall;
    QString words = invalidCallWords;
    if (err == ENOENT || err == ENOTDIR) {
        number = Err::FileNotFound;
        words = QStringLiteral("File not found");
    } else if (err == EACCES || err == EPERM) {
        number = Err::PermissionDenied;
        words = QStringLiteral("Permission denied");
    }
    return RuntimeError(number, QStringLiteral("%1: %2 (%3)").arg(words, what, systemReason(err)));
}

bool isBlankOnly(const QString &s)
{
    for (QChar c : s)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t'))
            return false;
    return true;
}

// Only executable files count, as a shell would see them; a folder or a data file
// of the same name further up PATH does not hide the program.
std::optional<QByteArray> findOnPath(const QByteArray &name)
{
    const QByteArray path =
        qEnvironmentVariableIsSet("PATH") ? qgetenv("PATH") : QByteArray("/usr/local/bin:/usr/bin:/bin");
    for (const QByteArray &dir : path.split(':')) {
        if (dir.isEmpty())
            continue;   // the current folder has had its turn already
        const QByteArray candidate = dir + '/' + name;
        struct stat st {};
        if (::stat(candidate.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

bool isWindowsProgram(const QByteArray &path)
{
    // Non-blocking, so a FIFO dressed up as a program cannot hold us up.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    char magic[2] = {};
    ssize_t got;
    do
        got = ::read(fd, magic, sizeof magic);
    while (got < 0 && errno == EINTR);
    ::close(fd);
    return got == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

// Closes every descriptor from 3 on but `keep`. The open-file limit is no bound:
// a descriptor opened before the soft limit was lowered stays open above it.
// Async-signal-safe: runs between fork and exec.
void closeAllBut(int keep)
{
    const auto closeRange = [](unsigned first, unsigned last) {
        return first > last || ::close_range(first, last, 0) == 0;
    };
    if (closeRange(3, unsigned(keep) - 1) && closeRange(unsigned(keep) + 1, ~0u))
        return;
    // Without close_range (kernels before 5.9, some sandboxes): the list of what is open.
    const int list = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list >= 0) {
        alignas(8) char buffer[4096];
        long got;
        while ((got = ::syscall(SYS_getdents64, list, buffer, sizeof buffer)) > 0) {
            for (long at = 0; at < got;) {
                unsigned short length;   // d_reclen; d_name follows d_type
                std::memcpy(&length, buffer + at + 16, sizeof length);
                int fd = 0;
                const char *digit = buffer + at + 19;
                for (; *digit >= '0' && *digit <= '9'; ++digit)
                    fd = fd * 10 + (*digit - '0');
                if (*digit == '\0' && digit != buffer + at + 19 && fd > 2 && fd != keep && fd != list)
                    ::close(fd);
                at += length;
            }
        }
        ::close(list);
        return;
    }
    rlimit files {};
    const int last = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_max < (1u << 20) ? int(files.rlim_max) : 1 << 20;
    for (int fd = 3; fd < last; ++fd)
        if (fd != keep)
            ::close(fd);
}

// Runs in the grandchild, after fork: only async-signal-safe calls from here on.
[[noreturn]] void becomeProgram(char *const argv[], char *const envp[], int errorFd, int stdinFd, bool quiet = false)
{
    // Its own session: a hang-up or Ctrl-C meant for us does not reach the program.
    ::setsid();

    // Ignored signals and the mask survive exec; the program gets neither from us.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int s = 1; s < NSIG; ++s)
        ::sigaction(s, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (stdinFd == 0)
        ::fcntl(0, F_SETFD, 0);
    else if (::dup2(stdinFd, 0) < 0) {
        const int e = errno;
        [[maybe_unused]] auto w = ::write(errorFd, &e, sizeof e);
        ::_exit(127);
    }
    if (quiet && (::dup2(0, 1) < 0 || ::dup2(0, 2) < 0))
        ::_exit(127);
    closeAllBut(errorFd);   // errorFd itself goes at exec (CLOEXEC)

    ::execve(argv[0], argv, envp);
    const int e = errno;
    [[maybe_unused]] auto w = ::write(errorFd, &e, sizeof e);
    ::_exit(127);
}

} // namespace

void spawnDetached(const QList<QByteArray> &argv, const QList<QByteArray> &environment, int input)
{
    std::vector<char *> args;
    for (const QByteArray &a : argv)
        args.push_back(const_cast<char *>(a.constData()));
    args.push_back(nullptr);
    // Built before the fork: the child may not allocate.
    std::vector<char *> envp;
    for (char **e = environ; *e; ++e) {
        const QByteArrayView entry(*e);
        const auto named = [&entry](const QByteArray &added) {
            const qsizetype name = added.indexOf('=');
            return name > 0 && entry.startsWith(QByteArrayView(added).first(name + 1));
        };
        if (std::none_of(environment.cbegin(), environment.cend(), named))
            envp.push_back(*e);
    }
    for (const QByteArray &added : environment)
        envp.push_back(const_cast<char *>(added.constData()));
    envp.push_back(nullptr);
    const QString name = QFile::decodeName(argv.first());

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw invalidCall(QStringLiteral("cannot start %1 (%2)").arg(name, systemReason(errno)));
    // With stdin or stdout closed the pipe could land on 0..2, where the child's
    // own set-up would overwrite it and a failed exec would pass for a start.
    for (int &fd : pipeFds) {
        if (fd >= 3)
            continue;
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        const int e = errno;
        ::close(fd);
        fd = moved;
        if (moved < 0) {
            ::close(pipeFds[0] >= 0 ? pipeFds[0] : pipeFds[1]);
            throw invalidCall(QStringLiteral("cannot start %1 (%2)").arg(name, systemReason(e)));
        }
    }
    const int stdinFd = input >= 0 ? ::fcntl(input, F_DUPFD_CLOEXEC, 3) : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (stdinFd < 0) {
        const int e = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw invalidCall(QStringLiteral("cannot start %1: %2 cannot be opened (%3)")
                              .arg(name, input >= 0 ? QStringLiteral("its input") : QStringLiteral("/dev/null"), systemReason(e)));
    }

    const pid_t child = ::fork();
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild == 0)
            becomeProgram(args.data(), envp.data(), pipeFds[1], stdinFd);
        if (grandchild < 0) {
            const int e = errno;
            [[maybe_unused]] auto w = ::write(pipeFds[1], &e, sizeof e);
        }
        ::_exit(0);
    }
    const int forkErrno = errno;
    ::close(pipeFds[1]);
    ::close(stdinFd);
    if (child < 0) {
        ::close(pipeFds[0]);
        throw invalidCall(QStringLiteral("cannot start %1 (%2)").arg(name, systemReason(forkErrno)));
    }

    // The intermediate child ends at once; reaping it leaves nothing behind.
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    // End of file: exec closed the pipe, the program runs. Otherwise an errno.
    int childErrno = 0;
    ssize_t got;
    do
        got = ::read(pipeFds[0], &childErrno, sizeof childErrno);
    while (got < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    if (got != static_cast<ssize_t>(sizeof childErrno))
        return;

    struct stat st {};
    if (childErrno == ENOENT && ::stat(argv.first().constData(), &st) == 0)
        throw startFailure(ENOENT, QStringLiteral("the interpreter that %1 names").arg(name));
    throw startFailure(childErrno, name);
}

int runQuietly(const QList<QByteArray> &argv, int timeoutMs)
{
    std::vector<char *> args;
    for (const QByteArray &a : argv)
        args.push_back(const_cast<char *>(a.constData()));
    args.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0)
        becomeProgram(args.data(), environ, 2, devNull, true);   // a failed exec is only a status
    ::close(devNull);
    if (child < 0)
        return -1;
    int status = 0;
    for (int waited = 0;; waited += 10) {
        const pid_t got = ::waitpid(child, &status, WNOHANG);
        if (got == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (got < 0 && errno != EINTR)
            return -1;
        if (waited >= timeoutMs) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        ::usleep(10000);
    }
}

namespace {

void checkStyle(int windowStyle)
{
    if (windowStyle != WindowStyle::Normal && windowStyle != WindowStyle::Minimised)
        throw invalidCall(QStringLiteral("window style %1 is neither 1 (normal) nor 2 (minimised)").arg(windowStyle));
}

bool isExplorer(const QString &word)
{
    return word.compare(QLatin1String("explorer"), Qt::CaseInsensitive) == 0
        || word.compare(QLatin1String("explorer.exe"), Qt::CaseInsensitive) == 0;
}

} // namespace

SystemStarter::SystemStarter(DrivePaths &paths) : m_paths(paths) {}

void SystemStarter::start(const QString &commandLine, int windowStyle)
{
    checkStyle(windowStyle);
    if (isBlankOnly(commandLine))
        throw invalidCall(QStringLiteral("the command line is empty"));
    // exec would cut the word short at the NUL and start something else.
    if (commandLine.contains(QChar(0)))
        throw invalidCall(QStringLiteral("the command line holds a NUL character"));

    const Resolved whole = m_paths.resolve(commandLine);
    if (whole.found && !whole.folder && !whole.virtualFile) {
        launch(whole.native, {}, windowStyle, whole.drive);
        return;
    }

    const CommandLine parsed = parseCommandLine(commandLine);
    if (isExplorer(parsed.program)) {
        openFolder(parsed.rest);
        return;
    }
    if (parsed.program.isEmpty())
        throw invalidCall(QStringLiteral("the command line names no program: %1").arg(commandLine));
    const auto [path, drive] = programPath(parsed.program);
    launch(path, parsed.arguments, windowStyle, drive);
}

void SystemStarter::startProgram(const QByteArray &program, int windowStyle)
{
    checkStyle(windowStyle);
    if (program.isEmpty())
        throw invalidCall(QStringLiteral("the command line is empty"));
    if (program.contains('\0'))
        throw invalidCall(QStringLiteral("the command line holds a NUL character"));
    launch(program, {}, windowStyle, m_paths.currentDrive());
}

std::pair<QByteArray, std::optional<QChar>> SystemStarter::programPath(const QString &word)
{
    const bool bare = !word.contains(QLatin1Char('/')) && !word.contains(QLatin1Char('\\'))
                   && !(word.size() >= 2 && word.at(1) == QLatin1Char(':'));
    const Resolved r = m_paths.resolve(word);
    if (r.found && r.virtualFile)
        throw invalidCall(QStringLiteral("%1 is a track of the disc, not a program").arg(word));
    if (r.found && !r.folder)
        return {r.native, r.drive};
    if (bare)
        if (const auto onPath = findOnPath(QFile::encodeName(word)))
            return {*onPath, std::nullopt};
    if (r.found)
        throw startFailure(EISDIR, word);
    throw startFailure(ENOENT, word);
}

void SystemStarter::launch(const QByteArray &program, const QStringList &arguments, int windowStyle,
                           std::optional<QChar> drive)
{
    const QString name = QFile::decodeName(program);
    struct stat st {};
    if (::stat(program.constData(), &st) != 0)
        throw startFailure(errno, name);
    if (S_ISDIR(st.st_mode))
        throw startFailure(EISDIR, name);

    QList<QByteArray> argv;
    if (S_ISREG(st.st_mode) && isWindowsProgram(program)) {
        const auto wine = findOnPath("wine");
        if (!wine)
            throw RuntimeError(Err::InvalidCall,
                               QStringLiteral("Wine is needed to start the Windows program %1 (there is no wine on PATH)")
                                   .arg(name));
        if (drive)
            if (const auto root = m_paths.drives().root(*drive))
                defineWineDrive(*drive, *root, m_paths.drives().entry(*drive).kind == DriveEntry::Device ? blockDeviceOf(*root) : QByteArray(), *wine);
        argv << *wine;
        if (windowStyle == WindowStyle::Minimised)
            argv << "start" << "/min" << "/unix";
    } else if (S_ISREG(st.st_mode) && (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0) {
        // A text or a picture is no program, whoever may read it; "permission
        // denied" would send the user looking for the wrong fault.
        throw invalidCall(QStringLiteral("%1 is not a program (it is not marked executable)").arg(name));
    }
    argv << program;
    for (const QString &a : arguments)
        argv << QFile::encodeName(a);
    spawnDetached(argv);
}

void SystemStarter::openFolder(const QString &target)
{
    QString folder = target.trimmed();
    if (folder.size() >= 2 && folder.startsWith(QLatin1Char('"')) && folder.endsWith(QLatin1Char('"')))
        folder = folder.mid(1, folder.size() - 2);
    if (folder.isEmpty())
        folder = QStringLiteral(".");
    // Explorer opens a drive at its root, whatever folder of it is current.
    if (folder.size() == 2 && folder.at(1) == QLatin1Char(':'))
        folder += QLatin1Char('\\');

    const Resolved r = m_paths.resolve(folder);
    const auto opener = [&folder] {
        const auto found = findOnPath("xdg-open");
        if (!found)
            throw RuntimeError(Err::InvalidCall,
                               QStringLiteral("xdg-open is needed to open %1 in the file manager (there is no xdg-open on PATH)")
                                   .arg(folder));
        return *found;
    };
    if (!r.found || !r.folder || r.virtualFile) {
        if (r.drive) {
            const int status = m_paths.drives().status(*r.drive);
            if (status == 0)
                throw RuntimeError(Err::DeviceUnavailable,
                                   QStringLiteral("Device unavailable: there is no drive %1: in the drive map").arg(*r.drive));
            if (status == 1) {
                // As Explorer does, the file manager is the one to say that the drive
                // is empty: it opens the drive's folder. A device without a disc has
                // no folder to show, and nothing starts.
                const DriveEntry drive = m_paths.drives().entry(*r.drive);
                struct stat st {};
                if (drive.kind == DriveEntry::Folder && ::stat(drive.target.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                    spawnDetached({opener(), drive.target});
                return;
            }
        }
        throw RuntimeError(Err::PathNotFound, r.found ? QStringLiteral("Path not found: %1 is not a folder").arg(folder)
                                                      : QStringLiteral("Path not found: %1").arg(folder));
    }
    spawnDetached({opener(), r.native});
}

} // namespace tarvic
