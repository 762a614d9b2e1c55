// Stands in for tarvic in the watcher's benchmark: notes the moment it was started
// (CLOCK_MONOTONIC, ns) and its argument in $WATCH_RECORD, with nothing to load first.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const char *record = std::getenv("WATCH_RECORD");
    if (!record)
        return 1;
    char line[256];
    const int n = std::snprintf(line, sizeof line, "%lld %s\n", now.tv_sec * 1000000000LL + now.tv_nsec,
                                argc > 1 ? argv[1] : "");
    const int fd = ::open(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || n <= 0 || ::write(fd, line, size_t(n)) != n)
        return 1;
    return ::close(fd);
}
