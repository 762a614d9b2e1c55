// The settings file on disk: hand-written files read as written and kept line for
// line by a save, special files refused untouched, saves through links and hard
// links keeping ACLs and attributes, a full file system, a save killed half-way,
// two processes saving at once, and where the file is looked for.
#include "platform/config_paths.h"
#include "profile/profile_file.h"
#include "settings/settings_store.h"
#include "support/test_env.h"

#include <QtTest>
#include <cstring>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <pwd.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

const QStringList Keys = {Key::VideoDVD, Key::DVDSI, Key::AudioCD, Key::CDSI};

QList<std::pair<QString, std::optional<QString>>> pairs(const QStringList &values)
{
    return {{Keys[0], values[0]}, {Keys[1], values[1]}, {Keys[2], values[2]}, {Keys[3], values[3]}};
}

QStringList readAll(SettingsStore &store)
{
    return {store.read(Keys[0]), store.read(Keys[1]), store.read(Keys[2]), store.read(Keys[3])};
}

// The four values of one save tagged `tag`.
QStringList tagged(const QString &tag)
{
    return {tag + u"-v"_s, tag + u"-d"_s, tag + u"-a"_s, tag + u"-c"_s};
}

QByteArray utf16le(const QString &s)
{
    QByteArray out("\xFF\xFE");
    for (const QChar c : s)
        out += char(c.unicode() & 0xFF), out += char(c.unicode() >> 8);
    return out;
}

// What stands at a path, enough to tell that nothing has touched it.
QString stamp(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return u"missing"_s;
    QString s = u"mode %1 size %2 rdev %3 inode %4 mtime %5.%6"_s.arg(st.st_mode, 0, 8).arg(st.st_size).arg(st.st_rdev)
                    .arg(st.st_ino).arg(st.st_mtim.tv_sec).arg(st.st_mtim.tv_nsec);
    if (S_ISLNK(st.st_mode))
        s += u" -> "_s + QFile::symLinkTarget(path);
    return s;
}

// The values every save in the table writes: blanks at the ends need quotes.
const QStringList Saved = {u"/usr/bin/vlc"_s, u"  C:\\Videos "_s, u"G:\\p\\cd.exe"_s, QString()};
const QByteArray SavedLines = "VideoDVD=/usr/bin/vlc\nDVDSI=\"  C:\\Videos \"\nAudioCD=G:\\p\\cd.exe\nCDSI=\n";

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void handWrittenFilesAreReadAsWrittenAndKeptLineForLine_data()
    {
        QTest::addColumn<QByteArray>("before");   // null: no file
        QTest::addColumn<QStringList>("read");    // VideoDVD, DVDSI, AudioCD, CDSI
        QTest::addColumn<QByteArray>("after");    // the file once Saved is saved
        const QStringList none = {QString(), QString(), QString(), QString()};
        const QByteArray other = "; players for Tarvic\n[Other]\nPath=C:\\Windows\\x.exe\nList=a,b\na line without an equals sign\n\n";
        const QByteArray tarvic = "[Tarvic]\n; the audio player\nAudioCD=G:\\p\\cd.exe\nVideoDVD = C:\\Program Files\\VLC\\vlc.exe\n\n[Last]\nx=1\n";
        const QByteArray tarvicAfter = "[Tarvic]\n; the audio player\nAudioCD=G:\\p\\cd.exe\nVideoDVD = /usr/bin/vlc\n"
                                       "DVDSI=\"  C:\\Videos \"\nCDSI=\n\n[Last]\nx=1\n";
        const QStringList handRead = {u"C:\\Program Files\\VLC\\vlc.exe"_s, QString(), u"G:\\p\\cd.exe"_s, QString()};
        const auto crlf = [](QByteArray b) { return b.replace("\n", "\r\n"); };

        QTest::newRow("no file yet") << QByteArray() << none << "[Tarvic]\n" + SavedLines;
        QTest::newRow("backslashes, comments, another section with Windows paths and a line without =")
            << other + tarvic << handRead << other + tarvicAfter;
        QTest::newRow("crlf") << crlf(other + tarvic) << handRead << crlf(other + tarvicAfter);
        QTest::newRow("lone cr") << "[Tarvic]\rAudioCD=a\r"_ba << QStringList{QString(), QString(), u"a"_s, QString()}
                                 << "[Tarvic]\rAudioCD=G:\\p\\cd.exe\rVideoDVD=/usr/bin/vlc\rDVDSI=\"  C:\\Videos \"\rCDSI=\r"_ba;
        QTest::newRow("utf-8 with a byte-order mark")
            << "\xEF\xBB\xBF[Tarvic]\r\nCDSI=C:\\Musik\\f\xC3\xBCr CDs\r\n"_ba << QStringList{QString(), QString(), QString(), u"C:\\Musik\\für CDs"_s}
            << "\xEF\xBB\xBF[Tarvic]\r\nCDSI=\r\nVideoDVD=/usr/bin/vlc\r\nDVDSI=\"  C:\\Videos \"\r\nAudioCD=G:\\p\\cd.exe\r\n"_ba;
        QTest::newRow("utf-16le")
            << utf16le(u"[Other]\r\nName=Zoë 💿\r\n[Tarvic]\r\nCDSI=D:\\\r\n"_s) << QStringList{QString(), QString(), QString(), u"D:\\"_s}
            << utf16le(u"[Other]\r\nName=Zoë 💿\r\n[Tarvic]\r\nCDSI=\r\nVideoDVD=/usr/bin/vlc\r\nDVDSI=\"  C:\\Videos \"\r\nAudioCD=G:\\p\\cd.exe\r\n"_s);
        QTest::newRow("windows-1252, no final line end") << "[Other]\nName=Zo\xEB"_ba << none
                                                         << "[Other]\nName=Zo\xEB\n\n[Tarvic]\n"_ba + SavedLines;
        QTest::newRow("names in another case") << "[tarvic]\naudiocd=x\nVIDEODVD=y\n"_ba << QStringList{u"y"_s, QString(), u"x"_s, QString()}
                                               << "[tarvic]\naudiocd=G:\\p\\cd.exe\nVIDEODVD=/usr/bin/vlc\nDVDSI=\"  C:\\Videos \"\nCDSI=\n"_ba;
        QTest::newRow("the section twice: the first counts")
            << "[Tarvic]\nAudioCD=first\n[Other]\nk=v\n[TARVIC]\nAudioCD=second\nCDSI=second\n"_ba
            << QStringList{QString(), QString(), u"first"_s, QString()}
            << "[Tarvic]\nAudioCD=G:\\p\\cd.exe\nVideoDVD=/usr/bin/vlc\nDVDSI=\"  C:\\Videos \"\nCDSI=\n[Other]\nk=v\n[TARVIC]\nAudioCD=second\nCDSI=second\n"_ba;
        QTest::newRow("blanks, quotes and a key twice")
            << "[Tarvic]\n  AudioCD = \"  G:\\p\\cd.exe\" \n\tCDSI='D:\\'\nCDSI=later\n"_ba
            << QStringList{QString(), QString(), u"  G:\\p\\cd.exe"_s, u"D:\\"_s}
            << "[Tarvic]\n  AudioCD = G:\\p\\cd.exe\n\tCDSI=\nCDSI=later\nVideoDVD=/usr/bin/vlc\nDVDSI=\"  C:\\Videos \"\n"_ba;
        QTest::newRow("nul padding")
            << "[Tarvic]\nAudioCD=x\0\0\0\n\0\0\0\0"_ba << QStringList{QString(), QString(), u"x"_s, QString()}
            << "[Tarvic]\nAudioCD=G:\\p\\cd.exe\nVideoDVD=/usr/bin/vlc\nDVDSI=\"  C:\\Videos \"\nCDSI=\n\0\0\0\0"_ba;
    }

    void handWrittenFilesAreReadAsWrittenAndKeptLineForLine()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, read);
        QFETCH(QByteArray, after);
        TestEnv env;
        if (!before.isNull())
            touch(env.settingsPath(), before);
        QCOMPARE(readAll(env.settings()), read);
        QCOMPARE(bytesOf(env.settingsPath()), before.isNull() ? "<unreadable>"_ba : before);   // reading changes nothing
        env.settings().write(pairs(Saved));
        QCOMPARE(bytesOf(env.settingsPath()), after);
        HalvaneSettings again(env.settingsPath());
        QCOMPARE(readAll(again), Saved);
        // No lock file and no new file is left beside it.
        QCOMPARE(listing(env.configHome()), (QStringList{u"Halvane.ini"_s, u"tarvic"_s}));
    }

    // Strings no keyboard types into a text box, but paste or a picker may bring:
    // each reads back exactly, in a new file and in files of each encoding; what a
    // profile file cannot hold is refused and the file left as it was.
    void everyValueReadsBackExactly()
    {
        const QStringList values = {
            u"\tx\t"_s, u"\vx\f"_s, u"x\x1a"_s, u"\x01\x1b\x7f"_s, u"\uFEFFx"_s, u"'"_s, u"\"\""_s, u"''"_s,
            u"\" \""_s, u"'\""_s, u"=;[x]"_s, u"\u00a0x\u3000"_s, u"\U0001F4BF\u202E"_s, QString(100000, u'\\'),
        };
        const QList<QByteArray> files = {QByteArray(), "[Tarvic]\r\nCDSI=old\r\n[Other]\r\nk=v\r\n"_ba,
                                         utf16le(u"[Other]\nk=v\n"_s), "[Other]\nName=Zo\xEB\n"_ba};
        for (const QByteArray &before : files) {
            for (const QString &value : values) {
                TestEnv env;
                if (!before.isNull())
                    touch(env.settingsPath(), before);
                env.settings().write(pairs({value, value, value, value}));
                HalvaneSettings again(env.settingsPath());
                QVERIFY2(readAll(again) == QStringList(4, value), value.left(20).toUtf8().toHex().constData());
            }
        }
        TestEnv env;
        touch(env.settingsPath(), files[1]);
        for (const QString &value : {u"a\nb"_s, u"a\r"_s, u"a\0b"_s, u"a\xD800"_s}) {
            const QString error = errorOf([&] { env.settings().write(pairs({u"new"_s, u"new"_s, value, u"new"_s})); });
            QVERIFY2(error.startsWith(u"75: Path/File access error: the settings file "_s + env.settingsPath()
                                      + u" cannot be written: the value of AudioCD holds "_s),
                     qPrintable(error));
            QCOMPARE(bytesOf(env.settingsPath()), files[1]);
        }
        // A file that could not be read back is not written either.
        QCOMPARE(errorOf([&] { env.settings().write(pairs(QStringList(4, QString(300000, u'x')))); }),
                 u"75: Path/File access error: the settings file "_s + env.settingsPath()
                     + u" cannot be written: it would be larger than 1 MiB"_s);
        QCOMPARE(bytesOf(env.settingsPath()), files[1]);
    }

    void specialFilesAreRefusedAndLeftAsTheyAre_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("readError");    // empty: reads
        QTest::addColumn<QString>("writeError");   // empty: as readError
        QTest::newRow("folder") << "folder" << "is a folder" << "";
        QTest::newRow("fifo") << "fifo" << "is a named pipe (FIFO)" << "";
        QTest::newRow("socket") << "socket" << "is a socket" << "";
        QTest::newRow("link to a device node") << "device" << "leads to @/node, which is a character device" << "";
        QTest::newRow("link to a fifo through a link") << "fifo link" << "leads to @/pipe, which is a named pipe (FIFO)" << "";
        QTest::newRow("2 GB sparse file") << "sparse" << "is larger than 1 MiB" << "";
        QTest::newRow("invalid utf-16") << "utf16" << "is not valid UTF-16 text" << "";
        QTest::newRow("links in a loop") << "loop" << "cannot be read (Too many levels of symbolic links)"
                                         << "cannot be written (Too many levels of symbolic links)";
        QTest::newRow("read-only file") << "read-only" << "" << "cannot be written (Permission denied)";
        QTest::newRow("read-only folder") << "read-only folder" << ""
                                          << "cannot be written: its folder % may not be written (Permission denied), so its lock file "
                                             "Halvane.ini.lock cannot be made there";
        QTest::newRow("a folder in the lock's place") << "lock folder" << ""
                                                      << "cannot be written: its lock file Halvane.ini.lock in % is a folder";
        QTest::newRow("another user's lock") << "another user's lock" << ""
                                             << "cannot be written: its lock file Halvane.ini.lock in % belongs to another user";
    }

    void specialFilesAreRefusedAndLeftAsTheyAre()
    {
        QFETCH(QString, kind);
        QFETCH(QString, readError);
        QFETCH(QString, writeError);
        TestEnv env;
        const QString file = env.settingsPath(), aside = env.newFolder(u"aside"_s);
        const QByteArray native = QFile::encodeName(file);
        const QByteArray text = "[Tarvic]\nAudioCD=/old/cd\n";
        const uid_t owner = ordinaryOwner();
        if (kind == u"folder") {
            makeFolder(file);
        } else if (kind == u"fifo") {
            QVERIFY(::mkfifo(native, 0644) == 0);
        } else if (kind == u"socket") {
            const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{AF_UNIX, {}};
            QVERIFY(size_t(native.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, native.constData(), native.size());
            QVERIFY(s >= 0 && ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
            ::close(s);
        } else if (kind == u"device") {
            if (::geteuid() != 0)
                QSKIP("making a device node needs root");
            // Our own node with the numbers of the null device, in a private folder.
            QVERIFY(::mknod(QFile::encodeName(aside + u"/node"_s), S_IFCHR | 0666, makedev(1, 3)) == 0);
            QVERIFY(QFile::link(aside + u"/node"_s, file));
        } else if (kind == u"fifo link") {
            QVERIFY(::mkfifo(QFile::encodeName(aside + u"/pipe"_s), 0644) == 0);
            QVERIFY(QFile::link(aside + u"/pipe"_s, aside + u"/link"_s) && QFile::link(u"folders/aside/link"_s, file));
        } else if (kind == u"sparse") {
            touch(file, text);
            QFile f(file);
            QVERIFY(f.resize(2LL << 30));
        } else if (kind == u"utf16") {
            touch(file, utf16le(u"[Tarvic]\r\nAudioCD=\xD800x\r\n"_s));
        } else if (kind == u"loop") {
            QVERIFY(QFile::link(u"Halvane.ini"_s, file));
        } else if (kind == u"lock folder") {
            touch(file, text);
            makeFolder(file + u".lock"_s);
        } else if (kind.startsWith(u"read-only") || kind == u"another user's lock") {
            touch(file, text);
            QVERIFY(::chown(native, owner, owner) == 0 && ::chown(QFile::encodeName(env.configHome()), owner, owner) == 0);
            if (kind.startsWith(u"read-only"))
                QVERIFY(::chmod(kind == u"read-only" ? native.constData() : QFile::encodeName(env.configHome()).constData(), 0555) == 0);
            else if (::geteuid() != 0)
                QSKIP("a file of another user needs root");
            else
                touch(file + u".lock"_s);   // root's
        }
        const QString stampBefore = stamp(file) + stamp(aside + u"/node"_s) + stamp(aside + u"/pipe"_s);
        const QStringList listingBefore = listing(env.configHome()) + listing(aside);
        const QString prefix = u"75: Path/File access error: the settings file "_s + file + u' ';
        const QString canonicalAside = QFileInfo(aside).canonicalFilePath();

        const bool asOwner = kind.startsWith(u"read-only") || kind == u"another user's lock";
        if (asOwner)
            ::setfsuid(owner);
        const QString readFailure = errorOf([&] { QCOMPARE(env.settings().read(Key::AudioCD), u"/old/cd"_s); });
        const QString writeFailure = errorOf([&] { env.settings().write(pairs(Saved)); });
        ::setfsuid(::geteuid());
        ::chmod(QFile::encodeName(env.configHome()), 0755);

        QCOMPARE(readFailure, readError.isEmpty() ? QString() : prefix + QString(readError).replace(u'@', canonicalAside));
        QCOMPARE(writeFailure, prefix + QString(writeError.isEmpty() ? readError : writeError).replace(u'@', canonicalAside)
                                            .replace(u'%', env.configHome()));
        QCOMPARE(stamp(file) + stamp(aside + u"/node"_s) + stamp(aside + u"/pipe"_s), stampBefore);
        QCOMPARE(listing(env.configHome()) + listing(aside), listingBefore);
        if (asOwner || kind == u"lock folder")
            QCOMPARE(bytesOf(file), text);
    }

    // Through links the final target is replaced: the links stay, and the new file
    // has the old one's mode and owner. A dangling link gets its target made.
    void aSaveThroughLinksReplacesTheTarget()
    {
        TestEnv env;
        const QString dotfiles = env.newFolder(u"dotfiles"_s), real = dotfiles + u"/real.ini"_s;
        touch(real, "[Other]\nk=v\n");
        const uid_t owner = ordinaryOwner();
        QVERIFY(::chown(QFile::encodeName(real), owner, owner) == 0 && ::chmod(QFile::encodeName(real), 0640) == 0);
        QVERIFY(QFile::link(u"real.ini"_s, dotfiles + u"/tarvic.ini"_s) && QFile::link(u"folders/dotfiles/tarvic.ini"_s, env.settingsPath()));
        struct stat before, after;
        QVERIFY(::stat(QFile::encodeName(real), &before) == 0);
        env.settings().write(pairs(Saved));
        QVERIFY(::stat(QFile::encodeName(real), &after) == 0);
        QCOMPARE(bytesOf(real), "[Other]\nk=v\n\n[Tarvic]\n"_ba + SavedLines);
        QVERIFY(after.st_ino != before.st_ino);   // a new file took the place
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(QFileInfo(env.settingsPath()).symLinkTarget(), dotfiles + u"/tarvic.ini"_s);
        QCOMPARE(QFile::symLinkTarget(dotfiles + u"/tarvic.ini"_s), real);
        QCOMPARE(listing(dotfiles), (QStringList{u"real.ini"_s, u"tarvic.ini"_s}));

        QVERIFY(QFile::remove(real));
        env.settings().write(pairs(Saved));
        QCOMPARE(bytesOf(real), "[Tarvic]\n"_ba + SavedLines);
        QVERIFY(QFileInfo(env.settingsPath()).isSymLink());
    }

    // A save keeps the file's ACL and user attributes (a user let read it still
    // may); a file with a second hard link is written in place, so both names see it.
    void aSaveKeepsAclAttributesAndHardLinks()
    {
        TestEnv env;
        const QString file = env.settingsPath(), second = env.configHome() + u"/second.ini"_s;
        const auto run = [](const QString &program, const QStringList &args) {
            QProcess p;
            p.start(program, args);
            return p.waitForFinished() && p.exitCode() == 0 ? p.readAllStandardOutput() : "<failed>"_ba;
        };
        const auto meta = [&] {
            return run(u"getfacl"_s, {u"-p"_s, file}) + run(u"getfattr"_s, {u"-d"_s, u"-m"_s, u"^user\\."_s, file});
        };
        touch(file, "[Other]\nk=v\n");
        QVERIFY(::chmod(QFile::encodeName(file), 0600) == 0);
        QCOMPARE(run(u"setfacl"_s, {u"-m"_s, u"u:nobody:r"_s, file}), QByteArray());
        QCOMPARE(run(u"setfattr"_s, {u"-n"_s, u"user.origin"_s, u"-v"_s, u"by hand"_s, file}), QByteArray());
        const QByteArray before = meta();
        QVERIFY2(before.contains("user:nobody:r--") && before.contains("user.origin=\"by hand\""), before.constData());
        env.settings().write(pairs(Saved));
        QCOMPARE(bytesOf(file), "[Other]\nk=v\n\n[Tarvic]\n"_ba + SavedLines);
        QCOMPARE(meta(), before);

        QVERIFY(::link(QFile::encodeName(file), QFile::encodeName(second)) == 0);
        const auto inode = [&] {
            struct stat st;
            return ::stat(QFile::encodeName(file), &st) == 0 ? st.st_ino : 0;
        };
        const ino_t inodeBefore = inode();
        env.settings().write(pairs(tagged(u"t"_s)));
        QCOMPARE(inode(), inodeBefore);
        HalvaneSettings other(second);
        QCOMPARE(readAll(other), tagged(u"t"_s));
        QCOMPARE(meta(), before);
        QCOMPARE(listing(env.configHome()), (QStringList{u"Halvane.ini"_s, u"second.ini"_s, u"tarvic"_s}));
    }

    // A save killed half-way (by the file-size limit's SIGXFSZ) leaves its new file,
    // or, writing in place, a damaged file beside the copy of the old one. The next
    // save clears such leftovers of processes gone and edits the old text.
    void aSaveKilledHalfWayIsMendedByTheNext_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("renamed") << false;
        QTest::newRow("in place, for a second hard link") << true;
    }

    void aSaveKilledHalfWayIsMendedByTheNext()
    {
        QFETCH(bool, inPlace);
        TestEnv env;
        const QString file = env.settingsPath();
        const QByteArray old = "[Tarvic]\nCDSI=" + QByteArray(4000, 'o') + "\n";
        touch(file, old);
        if (inPlace)
            QVERIFY(::link(QFile::encodeName(file), QFile::encodeName(env.configHome() + u"/second.ini"_s)) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const rlimit none{0, 0}, cut{rlim_t(old.size() + 100), rlim_t(old.size() + 100)};
            ::setrlimit(RLIMIT_CORE, &none);
            ::setrlimit(RLIMIT_FSIZE, &cut);
            try {
                env.settings().write({{Key::AudioCD, QString(1000, u'n')}});
            } catch (...) {
            }
            ::_exit(0);
        }
        int status = 0;
        QVERIFY(::waitpid(child, &status, 0) == child);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ, qPrintable(QString::number(status)));
        const QRegularExpression leftover(u"^\\.Halvane\\.ini\\.%1\\."_s.arg(child));
        QCOMPARE(listing(env.configHome()).filter(leftover).size(), 1);
        QCOMPARE(bytesOf(file) == old, !inPlace);
        env.settings().write({{Key::AudioCD, u"/new/cd"_s}});
        QCOMPARE(bytesOf(file), old + "AudioCD=/new/cd\n");
        QCOMPARE(listing(env.configHome()).filter(u"Halvane"_s), QStringList{u"Halvane.ini"_s});
    }

    // The old file stays whole when the disk fills up, and nothing is left behind.
    void aFullFileSystemKeepsTheOldFile()
    {
        TestEnv env;
        const QString mount = env.newFolder(u"tmpfs"_s);
        if (::mount("tmpfs", QFile::encodeName(mount).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
            QSKIP(qPrintable(u"no tmpfs can be mounted here: "_s + QString::fromLocal8Bit(std::strerror(errno))));
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(mount).constData(), MNT_DETACH); });
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(mount));
        const QString file = settingsFile();
        const QByteArray text = "; mine\n[Tarvic]\nAudioCD=/old/cd\n";
        touch(file, text);
        {   // fill every block that is left
            QFile filler(mount + u"/filler"_s);
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
        HalvaneSettings store(file);
        QCOMPARE(store.read(Key::AudioCD), u"/old/cd"_s);
        QCOMPARE(errorOf([&] { store.write(pairs(Saved)); }),
                 u"75: Path/File access error: the settings file "_s + file + u" cannot be written (No space left on device)"_s);
        QCOMPARE(bytesOf(file), text);
        QCOMPARE(listing(mount), (QStringList{u"Halvane.ini"_s, u"filler"_s}));
    }

    // Two processes save 200 times each, in turn and at once, while this one reads:
    // the file always parses, its four keys always come from one save, the other
    // sections stay, and neither process's own section loses a save of its own.
    void twoProcessesSavingNeverLoseEachOther_data()
    {
        QTest::addColumn<bool>("inTurn");
        QTest::newRow("in turn") << true;
        QTest::newRow("at once") << false;
    }

    void twoProcessesSavingNeverLoseEachOther()
    {
        QFETCH(bool, inTurn);
        constexpr int Rounds = 200;
        TestEnv env;
        const QString file = env.settingsPath();
        const QByteArray keep = "; hand-written\n[Keep]\nPath=C:\\Windows\\x.exe\nno equals sign here\n";
        touch(file, keep);
        int turn[2][2];   // turn[i] hands the turn to process i
        QVERIFY(::pipe(turn[0]) == 0 && ::pipe(turn[1]) == 0);
        pid_t children[2];
        for (int id = 0; id < 2; ++id) {
            children[id] = ::fork();
            QVERIFY(children[id] >= 0);
            if (children[id] > 0)
                continue;
            int status = 0;
            try {
                HalvaneSettings store(file);
                for (int round = 0; round < Rounds; ++round) {
                    char token;
                    if (inTurn && ::read(turn[id][0], &token, 1) != 1)
                        ::_exit(2);
                    const QString tag = u"p%1-%2"_s.arg(id).arg(round);
                    store.write(pairs(tagged(tag)));
                    saveProfileFile(file, [&](ProfileText &t) { t.setValue(u"P%1"_s.arg(id), u"Count"_s, QString::number(round)); });
                    if (inTurn && ::write(turn[1 - id][1], "t", 1) != 1)
                        ::_exit(2);
                }
            } catch (const std::exception &e) {
                std::fprintf(stderr, "child %d: %s\n", id, e.what());
                status = 1;
            }
            ::_exit(status);
        }
        if (inTurn)
            QVERIFY(::write(turn[0][1], "t", 1) == 1);

        int counts[2] = {-1, -1};
        int reads = 0, running = 2;
        QString failure;
        while (running > 0 && failure.isEmpty()) {
            for (pid_t &child : children) {
                int status;
                if (child > 0 && ::waitpid(child, &status, WNOHANG) == child) {
                    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                        failure = u"a saving process failed"_s;
                    child = 0;
                    --running;
                }
            }
            try {
                const ProfileText t = readProfileFile(file);
                ++reads;
                if (!t.bytes().startsWith(keep))
                    failure = u"the hand-written part changed: "_s + QString::fromUtf8(t.bytes());
                const QString dvd = t.value(u"Tarvic"_s, Key::VideoDVD).value_or(QString());
                const QString tag = dvd.left(dvd.size() - 2);
                QStringList got;
                for (const QString &key : Keys)
                    got << t.value(u"Tarvic"_s, key).value_or(u"-"_s);
                if (!tag.isEmpty() && got != tagged(tag))
                    failure = u"keys from different saves: "_s + got.join(u' ');
                for (int id = 0; id < 2; ++id) {
                    const int count = t.value(u"P%1"_s.arg(id), u"Count"_s).value_or(u"-1"_s).toInt();
                    if (count < counts[id])
                        failure = u"process %1's save %2 was lost"_s.arg(id).arg(counts[id]);
                    counts[id] = count;
                }
            } catch (const ProfileError &e) {
                failure = e.problem();
            }
            ::usleep(200);
        }
        for (pid_t child : children)
            if (child > 0)
                ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
        for (auto &p : turn)
            ::close(p[0]), ::close(p[1]);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(counts[0], Rounds - 1);
        QCOMPARE(counts[1], Rounds - 1);
        QVERIFY(reads > 10);
        // The last save wins whole.
        const QString last = env.settings().read(Key::VideoDVD).chopped(2);
        QVERIFY2(last == u"p0-199"_s || last == u"p1-199"_s, qPrintable(last));
        QCOMPARE(readAll(env.settings()), tagged(last));
        QCOMPARE(listing(env.configHome()), (QStringList{u"Halvane.ini"_s, u"tarvic"_s}));
    }

    void theConfigurationFolderFollowsTheXdgRules_data()
    {
        QTest::addColumn<QByteArray>("xdg");    // null: unset
        QTest::addColumn<QByteArray>("home");   // null: unset
        QTest::addColumn<QString>("expected");  // @ stands for the home of the password database
        QTest::newRow("XDG_CONFIG_HOME") << "/x/conf"_ba << "/h"_ba << "/x/conf";
        QTest::newRow("HOME") << QByteArray() << "/h/"_ba << "/h/.config";
        QTest::newRow("a relative XDG_CONFIG_HOME is ignored") << "conf"_ba << "/h"_ba << "/h/.config";
        QTest::newRow("an empty XDG_CONFIG_HOME is ignored") << ""_ba << "/h"_ba << "/h/.config";
        QTest::newRow("no HOME: the password database") << QByteArray() << QByteArray() << "@/.config";
        QTest::newRow("a relative HOME: the password database") << QByteArray() << "h"_ba << "@/.config";
    }

    void theConfigurationFolderFollowsTheXdgRules()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QByteArray, home);
        QFETCH(QString, expected);
        TestEnv env;   // puts XDG_CONFIG_HOME back afterwards
        const QByteArray oldHome = qgetenv("HOME");
        const bool hadHome = qEnvironmentVariableIsSet("HOME");
        const auto restore = qScopeGuard([&] { hadHome ? qputenv("HOME", oldHome) : qunsetenv("HOME"); });
        xdg.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", xdg);
        home.isNull() ? qunsetenv("HOME") : qputenv("HOME", home);
        const passwd *user = ::getpwuid(::getuid());
        QVERIFY(user);
        expected.replace(u'@', QString::fromLocal8Bit(user->pw_dir));
        QCOMPARE(configHome(), expected);
        QCOMPARE(settingsFile(), expected + u"/Halvane.ini"_s);
        QCOMPARE(driveMapFolder(), expected + u"/tarvic/drives"_s);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "test_settings.moc"
