// Reading "open" from a 1 GB autorun.inf of random bytes against a real 200-byte
// one: the junk must cost at most twice as much. Last line: ini_ratio=<junk/real>.
#include "components/ini_reader.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace tarvic;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 JunkSize = 1024LL * 1024 * 1024;
constexpr qsizetype RandomHead = 8 * 1024 * 1024;   // real random bytes; the rest is a hole
constexpr int Rounds = 5000;

bool writeFile(const QString &path, const QByteArray &content, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        return false;
    return f.resize(size);
}

double medianMicros(std::vector<double> &samples)
{
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkpath(u"real"_s) || !QDir(dir.path()).mkpath(u"junk"_s)) {
        std::fprintf(stderr, "bench_ini: no temporary folder\n");
        return 1;
    }
    const QByteArray real =
        "[autorun]\r\n"
        "open=setup.exe\r\n"
        "icon=setup.exe,0\r\n"
        "label=Tarvic Bench Disc\r\n"
        "action=Install the bench program\r\n"
        "shell\\readme=Read me first\r\n"
        "shell\\readme\\command=notepad.exe readme.txt\r\n"
        "; about two hundred bytes\r\n";
    QByteArray junk(RandomHead, Qt::Uninitialized);
    QRandomGenerator gen(20240601);
    gen.fillRange(reinterpret_cast<quint32 *>(junk.data()), junk.size() / 4);

    // Junk without control codes is read up to the cap: shown for scale, not in the ratio.
    QByteArray textJunk = junk.first(2 * 1024 * 1024);
    for (char &c : textJunk) {
        if (static_cast<uchar>(c) < 0x20 && c != '\n' && c != '\r')
            c = 'x';
    }

    const QString realPath = dir.filePath(u"real/autorun.inf"_s);
    const QString junkPath = dir.filePath(u"junk/autorun.inf"_s);
    const QString textJunkPath = dir.filePath(u"text/autorun.inf"_s);
    if (!writeFile(realPath, real, real.size()) || !writeFile(junkPath, junk, JunkSize)
        || !QDir(dir.path()).mkpath(u"text"_s) || !writeFile(textJunkPath, textJunk, JunkSize)) {
        std::fprintf(stderr, "bench_ini: cannot write the files\n");
        return 1;
    }
    const QByteArray realNative = QFile::encodeName(realPath);
    const QByteArray junkNative = QFile::encodeName(junkPath);
    const QString section = u"autorun"_s;
    const QString key = u"open"_s;
    if (readIniValue(section, key, realNative) != u"setup.exe"_s
        || readIniValue(section, key, junkNative) != IniNotFound) {
        std::fprintf(stderr, "bench_ini: wrong answers\n");
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    std::vector<double> realTimes, junkTimes;
    realTimes.reserve(Rounds);
    junkTimes.reserve(Rounds);
    qsizetype sink = 0;
    // Alternate, so that both see the same state of the machine.
    for (int i = 0; i < Rounds; ++i) {
        auto t0 = Clock::now();
        sink += readIniValue(section, key, realNative).size();
        auto t1 = Clock::now();
        sink += readIniValue(section, key, junkNative).size();
        auto t2 = Clock::now();
        realTimes.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        junkTimes.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    std::vector<double> textTimes;
    const QByteArray textJunkNative = QFile::encodeName(textJunkPath);
    for (int i = 0; i < Rounds / 10; ++i) {
        auto t0 = Clock::now();
        sink += readIniValue(section, key, textJunkNative).size();
        textTimes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double realMedian = medianMicros(realTimes);
    const double junkMedian = medianMicros(junkTimes);
    std::printf("bench_ini: %d rounds (answers %lld chars in all)\n", Rounds, static_cast<long long>(sink));
    std::printf("real 200-byte autorun.inf: median %.2f us\n", realMedian);
    std::printf("1 GB autorun.inf of random bytes: median %.2f us\n", junkMedian);
    std::printf("1 GB of junk without control codes (read to the 1 MiB cap): median %.2f us\n",
                medianMicros(textTimes));
    std::printf("ini_ratio=%.2f\n", junkMedian / realMedian);
    return 0;
}
