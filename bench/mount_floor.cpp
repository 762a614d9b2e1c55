// The least any program the watcher starts could do on an insertion: stands in for
// tarvic in bench_autorun.sh, waits for the kernel to show the medium of
// $TARVIC_MEDIUM mounted and starts ./run.sh there. No settings, no drive map, no
// autorun.inf, no libraries to load: what udisks2 and the kernel take, and no more.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The mount folder of DEVICE, or "" (mountinfo: the fields after " - " are type, source).
std::string mountFolder(FILE *table, const char *device)
{
    char line[8192];
    while (std::fgets(line, sizeof line, table)) {
        const char *tail = std::strstr(line, " - ");
        char point[4096], type[256], source[4096];
        if (tail && std::sscanf(line, "%*s %*s %*s %*s %4095s", point) == 1
            && std::sscanf(tail + 3, "%255s %4095s", type, source) == 2 && std::strcmp(source, device) == 0)
            return point;
    }
    return {};
}

} // namespace

int main()
{
    const char *device = std::getenv("TARVIC_MEDIUM");
    if (!device)
        return 2;
    std::string folder;
    for (int round = 0; round < 2000 && folder.empty(); ++round) {
        FILE *table = std::fopen("/proc/self/mountinfo", "re");
        if (!table)
            return 1;
        folder = mountFolder(table, device);
        if (folder.empty()) {
            pollfd changed {fileno(table), POLLPRI, 0};
            ::poll(&changed, 1, 10);
        }
        std::fclose(table);
    }
    if (folder.empty() || ::chdir(folder.c_str()) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("./run.sh", "./run.sh", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && status == 0 ? 0 : 1;
}
