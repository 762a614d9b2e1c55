// From process start to the configured player running, for an audio CD on a
// folder drive, against the start and exit of a bare Qt Widgets program.
//   bench_startup <tarvic> <bare_widgets> [runs]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

// Milliseconds from the start of `program` until `done` says so.
template<class Done>
double timeRun(const QString &program, const QStringList &args, const QProcessEnvironment &env, Done done)
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForStarted())
        qFatal("cannot start %s", qPrintable(program));
    while (!done(p)) {
        if (t.elapsed() > 20000) {
            p.kill();
            qFatal("%s did not finish in 20 s", qPrintable(program));
        }
        QThread::usleep(200);
    }
    const double ms = t.nsecsElapsed() / 1e6;
    p.waitForFinished();
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup <tarvic> <bare_widgets> [runs]\n");
        return 2;
    }
    const QString tarvic = QString::fromLocal8Bit(argv[1]);
    const QString bare = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? atoi(argv[3]) : 30;

    QTemporaryDir home;
    const QString disc = home.filePath(QStringLiteral("cd"));
    const QString marker = home.filePath(QStringLiteral("running"));
    QDir().mkpath(disc);
    QDir().mkpath(home.filePath(QStringLiteral("tarvic/drives")));
    QFile(disc + QStringLiteral("/track01.cda")).open(QIODevice::WriteOnly);
    QFile::link(disc, home.filePath(QStringLiteral("tarvic/drives/e:")));
    const QString player = home.filePath(QStringLiteral("player"));
    {
        QFile f(player);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n: >\"$MARKER\"\n");
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    {
        QFile f(home.filePath(QStringLiteral("Halvane.ini")));
        f.open(QIODevice::WriteOnly);
        f.write("[Tarvic]\nAudioCD=" + QFile::encodeName(player) + "\nCDSI=" + QFile::encodeName(home.path()) + "\n");
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    QDir(home.path()).mkdir(QStringLiteral("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));   // tarvic's drive marks
    env.insert(QStringLiteral("MARKER"), marker);
    if (!env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QList<double> tarvicMs, bareMs;
    for (int i = 0; i < runs + 3; ++i) {
        QFile::remove(marker);
        const double t = timeRun(tarvic, {QStringLiteral("E:")}, env, [&](QProcess &) { return QFile::exists(marker); });
        const double b = timeRun(bare, {}, env, [](QProcess &p) { return p.waitForFinished(1); });
        if (i >= 3) { // the first runs warm the caches
            tarvicMs << t;
            bareMs << b;
        }
    }
    const double mt = median(tarvicMs), mb = median(bareMs);
    std::printf("start to player running: median %.1f ms over %d runs\n", mt, runs);
    std::printf("bare Qt Widgets start and exit: median %.1f ms\n", mb);
    std::printf("startup_ratio=%.2f (target at most 1.20)\n", mt / mb);
    return 0;
}
