// Reading "open" from a 1 GB autorun.inf of random bytes against a 1 MiB one that
// holds the same first MiB: the read is bounded by the 1 MiB cap whatever the file
// holds, so the big one may cost at most 1.2 times as much. Last line:
// ini_ratio=<1 GB/1 MiB>.
#include "profile/ini_reader.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace tarvic;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 BigSize = 1024LL * 1024 * 1024;
constexpr qsizetype Cap = 1024 * 1024;
constexpr qsizetype RandomHead = 8 * 1024 * 1024;   // real random bytes; the rest of the big file is a hole
constexpr int Rounds = 400;

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
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_ini: no temporary folder\n");
        return 1;
    }
    QByteArray random(RandomHead, Qt::Uninitialized);
    QRandomGenerator gen(20240601);
    gen.fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    // Neither file may pass for UTF-16 by its first bytes.
    random[0] = 'x';

    const QString smallPath = dir.filePath(u"small.inf"_s);
    const QString bigPath = dir.filePath(u"big.inf"_s);
    if (!writeFile(smallPath, random.first(Cap), Cap) || !writeFile(bigPath, random, BigSize)) {
        std::fprintf(stderr, "bench_ini: cannot write the files\n");
        return 1;
    }
    const QByteArray smallNative = QFile::encodeName(smallPath);
    const QByteArray bigNative = QFile::encodeName(bigPath);
    const QString section = u"autorun"_s;
    const QString key = u"open"_s;
    // Both hold the same first MiB, so both give the same answer.
    if (readIniValue(section, key, smallNative) != readIniValue(section, key, bigNative)) {
        std::fprintf(stderr, "bench_ini: the answers differ\n");
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    std::vector<double> smallTimes, bigTimes;
    qsizetype sink = 0;
    // Alternate, so that both see the same state of the machine.
    for (int i = 0; i < Rounds; ++i) {
        auto t0 = Clock::now();
        sink += readIniValue(section, key, smallNative).size();
        auto t1 = Clock::now();
        sink += readIniValue(section, key, bigNative).size();
        auto t2 = Clock::now();
        smallTimes.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        bigTimes.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    const double smallMedian = medianMicros(smallTimes);
    const double bigMedian = medianMicros(bigTimes);
    std::printf("bench_ini: %d rounds (answers %lld chars in all)\n", Rounds, static_cast<long long>(sink));
    std::printf("1 MiB autorun.inf of random bytes: median %.2f us\n", smallMedian);
    std::printf("1 GB autorun.inf of random bytes: median %.2f us\n", bigMedian);
    std::printf("ini_ratio=%.2f\n", bigMedian / smallMedian);
    return 0;
}
