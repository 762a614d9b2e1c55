#include "watch/standby.h"

#include "platform/runtime_error.h"
#include "platform/system_starter.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tarvic {

namespace {

// The same file as when it was started: an installation or a build since then gives
// the new program, as a start at the insertion would.
bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
        && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

} // namespace

Standby::~Standby()
{
    drop();
}

void Standby::drop()
{
    if (m_input >= 0)
        ::close(m_input);
    m_input = -1;
}

bool Standby::prepare(const QByteArray &program)
{
    if (m_input >= 0)
        return true;
    int ends[2];
    if (program.isEmpty() || ::stat(program.constData(), &m_file) != 0 || ::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    try {
        spawnDetached({program}, {"TARVIC_STANDBY=1"}, ends[0]);
    } catch (const RuntimeError &) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    ::close(ends[0]);
    m_input = ends[1];
    m_program = program;
    return true;
}

bool Standby::handOver(const QByteArray &program, QChar letter, const QByteArray &medium)
{
    struct stat now {};
    if (m_input < 0 || program != m_program || ::stat(program.constData(), &now) != 0 || !sameFile(now, m_file)
        || medium.isEmpty() || medium.contains('\n') || medium.contains('\0') || letter.unicode() > 127) {
        drop();
        return false;
    }
    // Short enough to go through the pipe at once; a tarvic that is gone makes it fail
    // (EPIPE: the watcher ignores SIGPIPE).
    const QByteArray message = QByteArray(1, char(letter.unicode())) + ":\n" + medium + '\n';
    ssize_t written;
    do
        written = ::write(m_input, message.constData(), size_t(message.size()));
    while (written < 0 && errno == EINTR);
    drop();
    return written == message.size();
}

} // namespace tarvic
