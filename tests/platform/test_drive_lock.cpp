// The mark that a tarvic is handling a letter: where it is kept, who shares it,
// that the kernel drops it with its holder, and that a folder or file put in its
// way by someone else neither marks a letter nor keeps the mark from being made.
#include "platform/drive_lock.h"
#include "support/test_env.h"

#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

class DriveLockTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // The temp folder's, where the mark goes when the runtime folder's cannot be used.
    QString fallback() const { return path(u"tmp/tarvic-%1"_s.arg(::geteuid())); }

    static void setRuntime(const QString &folder)
    {
        folder.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
    }
    static int mode(const QString &file)
    {
        struct stat st;
        return ::lstat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }
    // Made, seen by an asker, and gone with its holder.
    static bool marked(QChar letter)
    {
        DriveLock lock;
        const bool held = lock.hold(letter) && DriveLock::isHeld(letter);
        lock.release();
        return held && !DriveLock::isHeld(letter);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        makeFolder(path(u"tmp"_s));
        qputenv("TMPDIR", QFile::encodeName(path(u"tmp"_s)));
    }

    void init()
    {
        QDir(path(u"run"_s)).removeRecursively();
        QDir(fallback()).removeRecursively();
        QVERIFY(QDir().mkdir(path(u"run"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        setRuntime(path(u"run"_s));
    }

    void theFolderByTheRuntimeFolderOrTheTempFolder()
    {
        QCOMPARE(DriveLock::folder(), path(u"run/tarvic"_s));
        touch(path(u"file"_s));
        // Unset, relative (though it names a folder from here), missing, or no folder: not to be used.
        const auto back = qScopeGuard([cwd = QDir::currentPath()] { QDir::setCurrent(cwd); });
        QVERIFY(QDir::setCurrent(m_dir.path()));
        for (const QString &runtime : {QString(), u"run"_s, path(u"missing"_s), path(u"file"_s)}) {
            setRuntime(runtime);
            QCOMPARE(DriveLock::folder(), fallback());
        }
        // The fallback is made for its user alone.
        DriveLock lock;
        QVERIFY(lock.hold(u'E') && DriveLock::isHeld(u'E'));
        QCOMPARE(mode(fallback()), 0700);
        QCOMPARE(mode(fallback() + u"/tarvic-E.lock"_s), 0600);
    }

    void heldWhileAnyHolderHoldsIt()
    {
        QVERIFY(!DriveLock::isHeld(u'E'));
        QVERIFY(!QFileInfo::exists(path(u"run/tarvic"_s)));   // asking makes nothing
        DriveLock first, second;
        QVERIFY(first.hold(u'e'));
        QCOMPARE(mode(path(u"run/tarvic"_s)), 0700);
        QCOMPARE(mode(path(u"run/tarvic/tarvic-E.lock"_s)), 0600);
        QVERIFY(DriveLock::isHeld(u'E') && DriveLock::isHeld(u'e') && !DriveLock::isHeld(u'F'));
        QVERIFY(second.hold(u'E'));   // "tarvic E:" typed twice: both run
        first.release();
        QVERIFY(DriveLock::isHeld(u'E'));
        second.release();
        QVERIFY(!DriveLock::isHeld(u'E'));
        QVERIFY(first.hold(u'E'));   // asking took it for a moment only
        QVERIFY(marked(u'Z') && marked(u'a'));
    }

    void onlyLettersAreMarked()
    {
        DriveLock lock;
        for (const QChar c : QList<QChar>{u'/', u'1', QChar(0xc4), u':', u'[', QChar()})
            QVERIFY(!lock.hold(c) && !DriveLock::isHeld(c));
        QCOMPARE(listing(path(u"run/tarvic"_s)), QStringList());
    }

    // A link where the folder goes, to a folder that holds a mark of its own: the mark
    // is made in the temp folder's, and two watchers meet there too.
    void aLinkForTheFolderPassesTheMarkToTheTempFolder()
    {
        makeFolder(path(u"other"_s));
        setRuntime(path(u"other"_s));
        DriveLock elsewhere;
        QVERIFY(elsewhere.hold(u'E'));
        setRuntime(path(u"run"_s));
        QVERIFY(QFile::link(path(u"other/tarvic"_s), path(u"run/tarvic"_s)));
        QVERIFY(!DriveLock::isHeld(u'E'));
        QVERIFY(marked(u'E'));
        QVERIFY(QFileInfo::exists(fallback() + u"/tarvic-E.lock"_s));
        DriveLock watcher, second;
        QCOMPARE(watcher.holdAlone(), DriveLock::Alone::Held);
        QCOMPARE(second.holdAlone(), DriveLock::Alone::Taken);
    }

    // A pipe or a link where the letter's file goes (no hang), a folder no longer
    // writable (root writes there all the same), another user's folder.
    void whatElseIsInTheWayIsPassedOver()
    {
        makeFolder(path(u"run/tarvic"_s));
        QVERIFY(::mkfifo(QFile::encodeName(path(u"run/tarvic/tarvic-E.lock"_s)).constData(), 0600) == 0);
        QVERIFY(marked(u'E'));
        touch(path(u"someone's.lock"_s));
        QVERIFY(QFile::link(path(u"someone's.lock"_s), path(u"run/tarvic/tarvic-F.lock"_s)));
        QVERIFY(marked(u'F'));
        QVERIFY(QDir(path(u"run/tarvic"_s)).removeRecursively());
        QVERIFY(QDir().mkdir(path(u"run/tarvic"_s), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(marked(u'E'));
        if (::geteuid() != 0)
            QSKIP("chown needs root: a folder of another user is not checked");
        QVERIFY(QDir(path(u"run/tarvic"_s)).removeRecursively());
        makeFolder(path(u"run/tarvic"_s));
        QVERIFY(::chown(QFile::encodeName(path(u"run/tarvic"_s)).constData(), 65534, 65534) == 0);
        QVERIFY(marked(u'E'));
        QCOMPARE(listing(path(u"run/tarvic"_s)), QStringList());
    }

    // The real program: it holds the mark for its whole run, the kernel drops it when
    // it ends, and a mark it cannot make keeps it from nothing.
    void tarvicHoldsItsDriveForItsWholeRun()
    {
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);   // no autorun.inf: the window stays
        env.mapDrive(u'E', disc);
        // A link where the folder goes: the mark is made where a watcher finds it all the same.
        makeFolder(path(u"other"_s));
        QVERIFY(QFile::link(path(u"other"_s), path(u"run/tarvic"_s)));
        QProcess tarvic;
        // A medium's folder that no letter maps is marked by the letter it gets for the run.
        for (const auto &[argument, letter] : {std::pair{u"e:"_s, u'E'}, {env.newFolder(u"other disc"_s), u'D'}}) {
            tarvic.start(QStringLiteral(TARVIC_BINARY), {argument});
            QTRY_VERIFY_WITH_TIMEOUT(DriveLock::isHeld(letter), 10000);
            QCOMPARE(tarvic.state(), QProcess::Running);
            QVERIFY(!DriveLock::isHeld(letter == u'E' ? u'D' : u'E'));
            tarvic.kill();
            QVERIFY(tarvic.waitForFinished());
            QVERIFY(!DriveLock::isHeld(letter));
        }
        // No folder of the marks can be made: the disc's program starts all the same, and it is said.
        QVERIFY(QFile::remove(path(u"run/tarvic"_s)));
        touch(path(u"run/tarvic"_s));
        QVERIFY(QDir(fallback()).removeRecursively());
        touch(fallback());
        touch(disc + u"/autorun.inf"_s, "[autorun]\r\nopen=setup.sh\r\n");
        touch(disc + u"/setup.sh"_s, "#!/bin/sh\necho ran >\"$0.ran\"\n");
        QVERIFY(QFile::setPermissions(disc + u"/setup.sh"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        tarvic.start(QStringLiteral(TARVIC_BINARY), {u"E:"_s});
        QVERIFY(tarvic.waitForFinished(10000));
        QCOMPARE(tarvic.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(disc + u"/setup.sh.ran"_s), 10000);
        QVERIFY(tarvic.readAllStandardError().contains("E: cannot be marked as being handled"));
        QVERIFY(QFile::remove(fallback()));
    }
};

QTEST_GUILESS_MAIN(DriveLockTest)
#include "test_drive_lock.moc"
