// The drive-path resolver against random discs. Each input builds a tree of
// folders, files, pipes and links in a private temporary folder (links inside the
// root and out of it, relative and absolute, dangling and looping), maps E: to its
// root and F: to any of its entries, then resolves random paths and changes the
// current folder. Two things must hold: whatever is found lies inside its drive's
// root once every link is followed, and every entry reachable through real folders
// is found under its exact name.
#include "platform/drive_paths.h"
#include "platform/runtime_error.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QFile>
#include <QString>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tarvic;

namespace {

std::string g_base;   // private folder of this process: "map" and "tree" live here
int g_startDir = -1;

const char *const Names[] = {"a", "A", "b", "sub", "SUB", "Sub", "x y", "autorun.inf", "AUTORUN.INF",
                             "VIDEO_TS", "setup.exe", "\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89", ".hidden"};
const char *const Components[] = {"..", ".", "", "A", "SUB", "autorun.INF", "\xc3\x89t\xc3\xa9", "video_ts"};
const char *const Prefixes[] = {"E:\\", "E:/", "E:", "e:", "F:\\", "f:", "", "\\"};
const char *const Separators[] = {"\\", "/", "\\\\", "/./", "\\..\\"};

struct Node
{
    std::string path;   // below g_base/tree
    int depth = 0;      // folders below g_base
    bool folder = false;
    bool plainInRoot = false;   // inside root/ through real folders only
};

template <typename T, size_t N>
const T &pick(FuzzedDataProvider &in, const T (&list)[N])
{
    return list[in.ConsumeIntegralInRange<size_t>(0, N - 1)];
}

const Node &pick(FuzzedDataProvider &in, const std::vector<Node> &nodes)
{
    return nodes[in.ConsumeIntegralInRange<size_t>(0, nodes.size() - 1)];
}

bool isValidName(const std::string &name)
{
    if (name.empty() || name == "." || name == ".." || name.size() > 40)
        return false;
    if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
        return false;
    const QByteArray bytes = QByteArray::fromStdString(name);
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

std::string entryName(FuzzedDataProvider &in)
{
    if (in.ConsumeBool()) {
        std::string name = in.ConsumeRandomLengthString(12);
        if (isValidName(name))
            return name;
    }
    return pick(in, Names);
}

// A link target: another entry (absolute or relative), a climb, itself, or nothing.
std::string linkTarget(FuzzedDataProvider &in, const std::vector<Node> &nodes, const Node &parent,
                       const std::string &name)
{
    const std::string tree = g_base + "/tree";
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return tree + '/' + pick(in, nodes).path;
    case 1: {
        std::string up;
        for (int i = 1; i < parent.depth; ++i)
            up += "../";
        return up + pick(in, nodes).path;
    }
    case 2: {
        // Never above the private folder.
        std::string up = "..";
        for (int i = in.ConsumeIntegralInRange(0, parent.depth - 1); i > 0; --i)
            up += "/..";
        return up;
    }
    case 3:
        return name;
    case 4:
        return name + "/" + pick(in, Names);
    default:
        return "gone/" + name;
    }
}

void buildTree(FuzzedDataProvider &in, std::vector<Node> &nodes)
{
    const std::string tree = g_base + "/tree";
    ::mkdir(tree.c_str(), 0700);
    ::mkdir((tree + "/root").c_str(), 0700);
    ::mkdir((tree + "/out").c_str(), 0700);
    nodes = {{".", 1, true, false}, {"root", 2, true, true}, {"out", 2, true, false}};

    for (int ops = in.ConsumeIntegralInRange(0, 40); ops > 0 && in.remaining_bytes() > 0; --ops) {
        std::vector<Node> folders;
        for (const Node &n : nodes)
            if (n.folder)
                folders.push_back(n);
        const Node parent = pick(in, folders);
        const std::string name = entryName(in);
        Node node{parent.path + '/' + name, parent.depth + 1, false, parent.plainInRoot};
        const std::string full = tree + '/' + node.path;
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
        case 1:
            node.folder = true;
            if (::mkdir(full.c_str(), 0700) != 0)
                continue;
            break;
        case 2:
            if (FILE *f = std::fopen(full.c_str(), "wx"))
                std::fclose(f);
            else
                continue;
            break;
        case 3:
            if (::mkfifo(full.c_str(), 0600) != 0)
                continue;
            break;
        default:
            node.plainInRoot = false;
            if (::symlink(linkTarget(in, nodes, parent, name).c_str(), full.c_str()) != 0)
                continue;
            break;
        }
        nodes.push_back(node);
    }

    const std::string map = g_base + "/map";
    ::mkdir(map.c_str(), 0700);
    ::symlink((tree + "/root").c_str(), (map + "/e:").c_str());
    ::symlink((tree + '/' + pick(in, nodes).path).c_str(), (map + "/f:").c_str());
}

std::string path(FuzzedDataProvider &in)
{
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        std::string raw = in.ConsumeRandomLengthString(40);
        if (!raw.empty() && raw[0] != '/')
            return raw;
    }
    std::string p = pick(in, Prefixes);
    for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; --n) {
        p += in.ConsumeBool() ? std::string(pick(in, Components)) : entryName(in);
        if (n > 1)
            p += pick(in, Separators);
    }
    return p;
}

std::string realPath(const std::string &p)
{
    char buf[PATH_MAX];
    return ::realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

void check(const Resolved &r, const QString &asked)
{
    if (!r.found || !r.drive)
        return;
    const std::string native = r.native.toStdString();
    const std::string root = realPath(g_base + "/map/" + char(r.drive->toLower().unicode()) + ':');
    const std::string real = realPath(native);
    const bool inside = !root.empty() && !real.empty() && (real == root || real.rfind(root + '/', 0) == 0);
    if (native.find('\0') != std::string::npos || !inside) {
        std::fprintf(stderr, "%s resolved to %s (really %s), outside the root %s\n", qPrintable(asked),
                     native.c_str(), real.c_str(), root.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Every input makes and removes a whole tree: in memory where the machine
    // offers a place for it, that is a hundred times faster than on a disc.
    const char *tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = folder + "/fuzz-drive-paths.XXXXXX";
    if (!::mkdtemp(templ.data()))
        std::abort();
    g_base = templ;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_base, ignored);
    });
    g_startDir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // Paths on no drive are taken from the working folder: keep that one private too.
    if (::chdir(g_base.c_str()) != 0)
        std::abort();
    std::vector<Node> nodes;
    buildTree(in, nodes);
    {
        NoOpticalDevices optical;
        Drives drives(DriveMap(QFile::decodeName(QByteArray::fromStdString(g_base + "/map"))), optical);
        DrivePaths paths(drives);
        try {
            paths.ChDrive(QStringLiteral("E:"));
        } catch (const RuntimeError &) {
            // An empty root is a drive without a disc.
        }

        for (const Node &n : nodes) {
            if (!n.plainInRoot || n.path == "root")
                continue;
            QString asked = QStringLiteral("E:") + QString::fromStdString(n.path.substr(4));
            asked.replace(QLatin1Char('/'), QLatin1Char('\\'));
            const Resolved r = paths.resolve(asked);
            if (!r.found || r.native.toStdString() != g_base + "/tree/" + n.path) {
                std::fprintf(stderr, "%s not found as %s/tree/%s\n", qPrintable(asked), g_base.c_str(),
                             n.path.c_str());
                std::abort();
            }
        }

        while (in.remaining_bytes() > 0) {
            const QString asked = QString::fromStdString(path(in));
            if (in.ConsumeIntegralInRange(0, 3) == 0) {
                try {
                    paths.ChDir(asked);
                } catch (const RuntimeError &) {
                }
            } else {
                check(paths.resolve(asked), asked);
            }
        }
    }
    if (::fchdir(g_startDir) != 0)
        std::abort();
    std::error_code ignored;
    std::filesystem::remove_all(g_base + "/tree", ignored);
    std::filesystem::remove_all(g_base + "/map", ignored);
    return 0;
}
