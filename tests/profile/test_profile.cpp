// Profile files by the Windows rules: autorun.inf read as Windows reads it, entries
// written line by line, files saved safely.
#include "profile/ini_reader.h"
#include "profile/profile_file.h"
#include "support/ordinary_user.h"
#include "support/test_env.h"

#include <QtTest>
#include <cstring>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

const QString Autorun = u"autorun"_s, Open = u"open"_s, NF = IniNotFound, Tarvic = u"Tarvic"_s;
const QStringList Keys = {u"VideoDVD"_s, u"DVDSI"_s, u"AudioCD"_s, u"CDSI"_s};
// What every row of the writing table writes to Keys.
const QStringList Saved = {u"/usr/bin/vlc"_s, u"  C:\\Videos "_s, u"G:\\p\\cd.exe"_s, QString()};

QByteArray fixture(const char *name)   // each fixture has a row that finds a value
{
    return bytesOf(TEST_DATA_DIR "/ini/"_L1 + QLatin1StringView(name));
}

QByteArray utf16le(const QString &s)
{
    return "\xFF\xFE"_ba + QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2);
}

// The problem of the ProfileError that f throws; empty if none.
QString problemOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ProfileError &e) {
        return e.problem();
    }
    return {};
}

// Saves an entry of [Tarvic] (and a tag in each of the four keys); the problem of a refusal.
QString save(const QString &file, const QString &key, const QString &value, const QString &tag = {})
{
    return problemOf([&] {
        saveProfileFile(file, [&](ProfileText &t) {
            t.setValue(Tarvic, key, value);
            for (const QString &k : tag.isEmpty() ? QStringList() : Keys)
                t.setValue(Tarvic, k, tag);
        });
    });
}

// What a program prints, its complaints too.
QByteArray run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    return p.waitForFinished() ? p.readAll() : "<failed>"_ba;
}

} // namespace

class ProfileTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each row is a file's bytes and the key asked for in [autorun].
    void readsAsWindowsDoes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QByteArray junk(1 << 16, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(junk.data()), junk.size() / 4);
        const QByteArray comment = "[autorun]\n;" + QByteArray((1 << 20) - 26, 'x') + '\n';   // to byte 1 MiB - 14

        QTest::newRow("names in any case; blanks, tabs and cr lf around them") << fixture("blanks.inf") << u"Open"_s << u"setup.exe"_s;
        QTest::newRow("lone cr ends lines") << fixture("lone-cr.inf") << u"label"_s << u"Disc"_s;
        QTest::newRow("no final newline") << fixture("no-final-newline.inf") << Open << u"setup.exe"_s;
        QTest::newRow("the first entry of the first section wins") << fixture("sections.inf") << Open << u"first.exe"_s;
        QTest::newRow("a later section of that name is not searched") << fixture("sections.inf") << u"label"_s << NF;
        QTest::newRow("an empty value is an entry") << fixture("keys.inf") << Open << QString();
        QTest::newRow("the first equals sign splits") << fixture("keys.inf") << u"label"_s << u"=equals=in=value"_s;
        QTest::newRow("double quotes go, the blanks in them stay") << fixture("quotes.inf") << u"blanks inside"_s << u" setup.exe "_s;
        QTest::newRow("single quotes go") << fixture("quotes.inf") << u"single"_s << u"Setup Program.exe"_s;
        QTest::newRow("an empty pair of quotes is an empty value") << fixture("quotes.inf") << u"empty pair"_s << QString();
        QTest::newRow("quotes that differ stay") << fixture("quotes.inf") << u"mixed"_s << u"\"setup.exe'"_s;
        QTest::newRow("comment lines; a semicolon in a value stays") << fixture("comments.inf") << Open << u"a.exe ; note"_s;
        QTest::newRow("a line starting with a semicolon is no entry") << fixture("comments.inf") << u";open"_s << NF;
        QTest::newRow("a hash sign is no comment mark") << fixture("comments.inf") << u"#open"_s << u"hash.exe"_s;

        QTest::newRow("utf-8") << fixture("utf8.inf") << Open << u"Menü€ 😀.exe"_s;
        QTest::newRow("utf-8 with bom") << fixture("utf8-bom.inf") << Open << u"Menü€.exe"_s;
        QTest::newRow("utf-16le with bom") << fixture("utf16le-bom.inf") << Open << u"Menü€ 😀.exe"_s;
        QTest::newRow("utf-16be with bom") << fixture("utf16be-bom.inf") << Open << u"Menü€.exe"_s;
        QTest::newRow("windows-1252") << fixture("cp1252.inf") << Open << u"Menü€.exe"_s;
        QTest::newRow("names in any case beyond ascii") << "[autorun]\n\xd6" "FFNEN=x.exe\n"_ba << u"öffnen"_s << u"x.exe"_s;
        QTest::newRow("each line its own encoding") << fixture("mixed-lines.inf") << u"label"_s << u"Café"_s;

        // Disc tools that write from a fixed-size buffer leave NULs; other control codes are text.
        const QByteArray nuls(512, '\0'), controls = QByteArray(50, '\x01') + QByteArray(50, '\x7f');
        QTest::newRow("a nul ends its line's text") << "[autorun]\nopen=setup.exe\0evil.exe\nopen=b.exe\n"_ba << Open << u"setup.exe"_s;
        QTest::newRow("nuls after the last line, no line end") << "[autorun]\r\nopen=setup.exe"_ba + nuls << Open << u"setup.exe"_s;
        QTest::newRow("512 nuls before the section") << nuls + "\r\n[autorun]\r\nopen=setup.exe\r\n" << Open << u"setup.exe"_s;
        QTest::newRow("a nul ends a header") << "[autorun\0]x\r\nopen=setup.exe\r\n"_ba << Open << u"setup.exe"_s;
        QTest::newRow("a nul before the equals sign: no entry") << "[autorun]\r\nopen\0=a.exe\r\nopen=b.exe"_ba << Open << u"b.exe"_s;
        QTest::newRow("100 control bytes inside the section") << "[autorun]\r\n"_ba + controls + "\r\nopen=setup.exe\r\n" << Open << u"setup.exe"_s;
        QTest::newRow("nuls and control bytes in a comment") << "[autorun]\r\n;"_ba + nuls + controls + "\r\nopen=setup.exe\r\n" << Open << u"setup.exe"_s;
        QTest::newRow("control bytes are characters") << "[autorun]\nopen=\x01setup\x1b.exe\x7f\n"_ba << Open << u"\x01setup\x1b.exe\x7f"_s;
        QTest::newRow("a control byte before a header is text") << "\x01[autorun]\nopen=a.exe\n[autorun]\nopen=b.exe\n"_ba << Open << u"b.exe"_s;
        QTest::newRow("vertical tab and form feed are blanks") << "\v[\fautorun\v]\f\r\n\v\fopen\v=\f\v\"setup.exe \"\f\v\r\n"_ba << Open << u"setup.exe "_s;
        QTest::newRow("ctrl-z, the end-of-text mark, is a blank") << "[autorun]\nopen=\x1asetup.exe\x1a\x1a\n"_ba << Open << u"setup.exe"_s;
        QTest::newRow("utf-16le padded with nuls") << utf16le(u"[autorun]\r\nopen=setup.exe"_s) + nuls << Open << u"setup.exe"_s;
        QTest::newRow("binary junk before the section is read through") << junk + "\n[autorun]\nopen=setup.exe\n" << Open << u"setup.exe"_s;
        QTest::newRow("1 MiB of junk, then the section") << junk.repeated(16) + "\n[autorun]\nopen=setup.exe\n" << Open << NF;
        QTest::newRow("text first, junk after") << "[autorun]\nopen=setup.exe\n" + junk << Open << u"setup.exe"_s;
        QTest::newRow("a line ending at 1 MiB, 4 MB after") << comment + "open=setup.exe\r\n" + QByteArray(4 << 20, ';') << Open << u"setup.exe"_s;
        QTest::newRow("a line crossing 1 MiB") << comment + "open=setup.exe1234\n" << Open << NF;
        QTest::newRow("values cut at 65535; the rest of a long line is no entry")
            << "[autorun]\nicon=" + QByteArray(100000, 'c') + "open=wrong.exe\nopen=" + QByteArray(100000, 'c') << Open << QString(65535, u'c');
    }

    void readsAsWindowsDoes()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        touch(dir.filePath(u"autorun.inf"_s), content);
        QCOMPARE(readIniValue(Autorun, key, QFile::encodeName(dir.filePath(u"autorun.inf"_s))), expected);
        QCOMPARE(readIniValueFromBytes(Autorun, key, content), expected);
    }

    // Each row writes Saved's four keys into [Tarvic]: only their lines change.
    void writingChangesOnlyTheEntrysLine_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        // %V, %D and %A stand for the values of Saved as the file holds them: blanks at the ends need quotes.
        const auto saved = [](QByteArray b) { return b.replace("%V", "/usr/bin/vlc").replace("%D", "\"  C:\\Videos \"").replace("%A", "G:\\p\\cd.exe"); };
        const QByteArray other = "; players for Tarvic\n[Other]\nPath=C:\\Windows\\x.exe\nList=a,b\na line without an equals sign\n\n";
        const QByteArray tarvic = "[Tarvic]\n; the audio player\nAudioCD=G:\\p\\cd.exe\nVideoDVD = C:\\Program Files\\VLC\\vlc.exe\n\n[Last]\nx=1\n";
        const QByteArray tarvicAfter = saved("[Tarvic]\n; the audio player\nAudioCD=%A\nVideoDVD = %V\nDVDSI=%D\nCDSI=\n\n[Last]\nx=1\n");
        const auto crlf = [](QByteArray b) { return b.replace("\n", "\r\n"); };
        QTest::newRow("empty") << QByteArray() << saved("[Tarvic]\nVideoDVD=%V\nDVDSI=%D\nAudioCD=%A\nCDSI=\n");
        QTest::newRow("backslashes, comments, another section, a line without =") << other + tarvic << other + tarvicAfter;
        QTest::newRow("crlf") << crlf(other + tarvic) << crlf(other + tarvicAfter);
        QTest::newRow("lone cr") << "[Tarvic]\rAudioCD=a\r"_ba << saved("[Tarvic]\rAudioCD=%A\rVideoDVD=%V\rDVDSI=%D\rCDSI=\r");
        QTest::newRow("utf-8 with a byte-order mark") << "\xEF\xBB\xBF[Tarvic]\r\nCDSI=C:\\f\xC3\xBCr\r\n"_ba
                                                      << saved("\xEF\xBB\xBF[Tarvic]\r\nCDSI=\r\nVideoDVD=%V\r\nDVDSI=%D\r\nAudioCD=%A\r\n");
        QTest::newRow("utf-16le") << utf16le(u"[Other]\r\nName=Zoë 💿\r\n[Tarvic]\r\nCDSI=D:\\\r\n"_s)
                                  << utf16le(QString::fromUtf8(saved("[Other]\r\nName=Zoë 💿\r\n[Tarvic]\r\nCDSI=\r\nVideoDVD=%V\r\nDVDSI=%D\r\nAudioCD=%A\r\n")));
        QTest::newRow("windows-1252, no final line end") << "[Other]\nName=Zo\xEB"_ba << saved("[Other]\nName=Zo\xEB\n\n[Tarvic]\nVideoDVD=%V\nDVDSI=%D\nAudioCD=%A\nCDSI=\n");
        QTest::newRow("names in another case") << "[tarvic]\naudiocd=x\nVIDEODVD=y\n"_ba << saved("[tarvic]\naudiocd=%A\nVIDEODVD=%V\nDVDSI=%D\nCDSI=\n");
        QTest::newRow("the section twice: the first counts") << "[Tarvic]\nAudioCD=first\n[Other]\nk=v\n[TARVIC]\nCDSI=second\n"_ba
                                                             << saved("[Tarvic]\nAudioCD=%A\nVideoDVD=%V\nDVDSI=%D\nCDSI=\n[Other]\nk=v\n[TARVIC]\nCDSI=second\n");
        QTest::newRow("blanks, quotes and a key twice") << "[Tarvic]\n  AudioCD = \"  G:\\p\\cd.exe\" \n\tCDSI='D:\\'\nCDSI=later\n"_ba
                                                        << saved("[Tarvic]\n  AudioCD = %A\n\tCDSI=\nCDSI=later\nVideoDVD=%V\nDVDSI=%D\n");
        QTest::newRow("nul padding") << "[Tarvic]\nAudioCD=x\0\0\0\n\0\0\0\0"_ba << saved("[Tarvic]\nAudioCD=%A\nVideoDVD=%V\nDVDSI=%D\nCDSI=\n\0\0\0\0"_ba);
    }

    void writingChangesOnlyTheEntrysLine()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        ProfileText text(before);
        for (int i = 0; i < 4; ++i)
            QVERIFY(text.setValue(Tarvic, Keys[i], Saved[i]));
        QCOMPARE(text.bytes(), after);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(ProfileText(after).value(Tarvic, Keys[i]), Saved[i]);
    }

    // Strings no keyboard types, but paste or a picker may bring, read back exactly in
    // files of each encoding, as a new entry and in place of one; what a profile file
    // cannot hold is refused and the text left as it was.
    void everyValueReadsBackExactly()
    {
        const QStringList values = {
            u"\tx\t"_s, u"\vx\f"_s, u"x\x1a"_s, u"\x01\x1b\x7f"_s, u"\uFEFFx"_s, u"'"_s, u"\"\""_s, u"''"_s,
            u"\" \""_s, u"'\""_s, u"=;[x]"_s, u"\u00a0x\u3000"_s, u"\U0001F4BF\u202E"_s, QString(100000, u'\\'),
        };
        for (const QByteArray &before : {QByteArray(), "[Tarvic]\r\nCDSI=old\r\n[Other]\r\nk=v\r\n"_ba,
                                         utf16le(u"[Other]\nk=v\n"_s), "[Other]\nName=Zo\xEB\n"_ba}) {
            for (const QString &value : values) {
                ProfileText text(before);
                QVERIFY(text.setValue(Tarvic, u"CDSI"_s, value) && text.setValue(Tarvic, u"AudioCD"_s, value));
                const ProfileText again(text.bytes());
                QVERIFY2(again.value(Tarvic, u"CDSI"_s) == value && again.value(Tarvic, u"AudioCD"_s) == value,
                         value.left(20).toUtf8().toHex().constData());
            }
            for (const QString &value : {u"a\nb"_s, u"a\r"_s, u"a\0b"_s, u"a\xD800"_s}) {
                ProfileText text(before);
                QVERIFY(ProfileText::unwritable(value) && !text.setValue(Tarvic, u"CDSI"_s, value) && text.bytes() == before);
            }
        }
        // A file that could not be read back is not saved either.
        QTemporaryDir dir;
        const QString file = dir.filePath(u"Halvane.ini"_s);
        QCOMPARE(save(file, u"CDSI"_s, QString(1 << 20, u'x')), u"cannot be written: it would be larger than 1 MiB"_s);
        QCOMPARE(listing(dir.path()), QStringList());
    }

    void specialFilesAreRefusedAndLeftAsTheyAre_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("readError");    // empty: reads
        QTest::addColumn<QString>("writeError");   // empty: as readError
        QTest::newRow("folder") << "folder" << "is a folder" << "";
        QTest::newRow("fifo") << "fifo" << "is a named pipe (FIFO)" << "";
        QTest::newRow("link to a fifo through a link") << "fifo link" << "leads to @/pipe, which is a named pipe (FIFO)" << "";
        QTest::newRow("2 GB sparse file") << "sparse" << "is larger than 1 MiB" << "";
        QTest::newRow("invalid utf-16") << "utf16" << "is not valid UTF-16 text" << "";
        QTest::newRow("links in a loop") << "loop" << "cannot be read (Too many levels of symbolic links)"
                                         << "cannot be written (Too many levels of symbolic links)";
        QTest::newRow("read-only file") << "read-only" << "" << "cannot be written (Permission denied)";
        QTest::newRow("read-only folder") << "read-only folder" << ""
                                          << "cannot be written: its folder % may not be written (Permission denied), so its lock file "
                                             "Halvane.ini.lock cannot be made there";
        QTest::newRow("a folder in the lock's place") << "lock folder" << "" << "cannot be written: its lock file Halvane.ini.lock in % is a folder";
        QTest::newRow("another user's lock") << "another user's lock" << ""
                                             << "cannot be written: its lock file Halvane.ini.lock in % belongs to another user";
    }

    void specialFilesAreRefusedAndLeftAsTheyAre()
    {
        QFETCH(QString, kind);
        QFETCH(QString, readError);
        QFETCH(QString, writeError);
        const bool asOwner = kind.startsWith(u"read-only") || kind == u"another user's lock";
        if (kind == u"another user's lock" && ::geteuid() != 0)
            QSKIP("a file of another user needs root");
        QTemporaryDir dir;
        const QString folder = dir.path(), file = folder + u"/Halvane.ini"_s, aside = dir.filePath(u"aside"_s);
        const QByteArray native = QFile::encodeName(file);
        const uid_t owner = ordinaryOwner();
        makeFolder(aside);
        if (kind == u"folder" || kind == u"lock folder")
            makeFolder(kind == u"folder" ? file : file + u".lock"_s);
        if (kind == u"fifo")
            QVERIFY(::mkfifo(native, 0644) == 0);
        if (kind == u"fifo link")
            QVERIFY(::mkfifo(QFile::encodeName(aside + u"/pipe"_s), 0644) == 0 && QFile::link(u"pipe"_s, aside + u"/link"_s)
                    && QFile::link(u"aside/link"_s, file));
        if (kind == u"sparse" || kind == u"lock folder" || asOwner)
            touch(file, "[Tarvic]\nAudioCD=/old/cd\n");
        if (kind == u"sparse")
            QVERIFY(QFile::resize(file, 2LL << 30));
        if (kind == u"utf16")
            touch(file, utf16le(u"[Tarvic]\r\nAudioCD=\xD800x\r\n"_s));
        if (kind == u"loop")
            QVERIFY(QFile::link(u"Halvane.ini"_s, file));
        if (asOwner)
            QVERIFY(::chown(native, owner, owner) == 0 && ::chown(QFile::encodeName(folder), owner, owner) == 0);
        if (kind.startsWith(u"read-only"))
            QVERIFY(::chmod(kind == u"read-only" ? native : QFile::encodeName(folder), 0555) == 0);
        if (kind == u"another user's lock")
            touch(file + u".lock"_s);   // root's
        const auto state = [&] {   // enough to tell that nothing has touched them
            return run(u"stat"_s, {u"-c%f %s %t:%T %i %y %N"_s, file, aside + u"/pipe"_s}) + (listing(folder) + listing(aside)).join(u' ').toUtf8();
        };
        const QByteArray before = state();
        const auto restore = qScopeGuard([&] { ::chmod(QFile::encodeName(folder), 0755); });
        const auto placed = [&](QString text) { return text.replace(u'@', QFileInfo(aside).canonicalFilePath()).replace(u'%', folder); };
        {
            const OrdinaryUser asUser(asOwner ? owner : uid_t(-1));
            QCOMPARE(problemOf([&] { readProfileFile(file); }), placed(readError));
            QCOMPARE(save(file, u"AudioCD"_s, u"/new"_s), placed(writeError.isEmpty() ? readError : writeError));
        }
        QCOMPARE(state(), before);
    }

    // Through links the final target is replaced: the links stay, and the new file has
    // the old one's mode, owner, ACL and user attributes. A file with a second hard
    // link is written in place, so both names see it. A dangling link gets its target.
    void aSaveKeepsLinksOwnerAclAttributesAndHardLinks()
    {
        QTemporaryDir dir;
        const QString real = dir.filePath(u"dotfiles/real.ini"_s), file = dir.filePath(u"Halvane.ini"_s), second = dir.filePath(u"second.ini"_s);
        touch(real, "[Other]\nk=v\n");
        const QByteArray native = QFile::encodeName(real);
        QVERIFY(::chown(native, ordinaryOwner(), ordinaryOwner()) == 0 && ::chmod(native, 0640) == 0);
        QVERIFY(QFile::link(u"real.ini"_s, dir.filePath(u"dotfiles/tarvic.ini"_s)) && QFile::link(u"dotfiles/tarvic.ini"_s, file));
        QCOMPARE(run(u"setfacl"_s, {u"-m"_s, u"u:nobody:r"_s, real}) + run(u"setfattr"_s, {u"-n"_s, u"user.origin"_s, u"-v"_s, u"by hand"_s, real}), QByteArray());
        const auto meta = [&] {
            return run(u"stat"_s, {u"-c%f %u %g"_s, real}) + run(u"getfacl"_s, {u"-p"_s, real}) + run(u"getfattr"_s, {u"-d"_s, u"-m"_s, u"^user\\."_s, real});
        };
        const QByteArray before = meta();
        QVERIFY2(before.contains("user:nobody:r--") && before.contains("user.origin=\"by hand\""), before.constData());
        const QByteArray inode = run(u"stat"_s, {u"-c%i"_s, real});
        QCOMPARE(save(file, u"AudioCD"_s, u"a"_s), QString());
        QCOMPARE(bytesOf(real), "[Other]\nk=v\n\n[Tarvic]\nAudioCD=a\n"_ba);
        QVERIFY(run(u"stat"_s, {u"-c%i"_s, real}) != inode);   // a new file took the place
        QCOMPARE(meta(), before);
        QCOMPARE(QFile::symLinkTarget(file), dir.filePath(u"dotfiles/tarvic.ini"_s));
        QCOMPARE(listing(dir.filePath(u"dotfiles"_s)), (QStringList{u"real.ini"_s, u"tarvic.ini"_s}));

        QVERIFY(::link(native, QFile::encodeName(second)) == 0);
        QCOMPARE(save(file, u"AudioCD"_s, u"b"_s), QString());
        QCOMPARE(bytesOf(second), "[Other]\nk=v\n\n[Tarvic]\nAudioCD=b\n"_ba);   // a new file would leave it the old text
        QCOMPARE(meta(), before);

        QVERIFY(QFile::remove(real) && QFile::remove(second));
        QCOMPARE(save(file, u"AudioCD"_s, u"c"_s), QString());
        QCOMPARE(bytesOf(real), "[Tarvic]\nAudioCD=c\n"_ba);
        QCOMPARE(listing(dir.path()), (QStringList{u"Halvane.ini"_s, u"dotfiles"_s}));
    }

    // A save killed half-way (by the file-size limit's SIGXFSZ) leaves its new file, or,
    // writing in place, a damaged file beside the copy of the old one. The next save
    // clears such leftovers of processes gone and edits the old text.
    void aSaveKilledHalfWayIsMendedByTheNext_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("renamed") << false;
        QTest::newRow("in place, for a second hard link") << true;
    }

    void aSaveKilledHalfWayIsMendedByTheNext()
    {
        QFETCH(bool, inPlace);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"Halvane.ini"_s);
        const QByteArray old = "[Tarvic]\nCDSI=" + QByteArray(4000, 'o') + "\n";
        touch(file, old);
        QVERIFY(!inPlace || ::link(QFile::encodeName(file), QFile::encodeName(dir.filePath(u"second.ini"_s))) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const rlimit none{0, 0}, cut{rlim_t(old.size() + 100), rlim_t(old.size() + 100)};
            ::setrlimit(RLIMIT_CORE, &none);
            ::setrlimit(RLIMIT_FSIZE, &cut);
            save(file, u"AudioCD"_s, QString(1000, u'n'));
            ::_exit(0);
        }
        int status = 0;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ, qPrintable(QString::number(status)));
        QCOMPARE(listing(dir.path()).filter(QRegularExpression(u"^\\.Halvane\\.ini\\.%1\\."_s.arg(child))).size(), 1);
        QCOMPARE(bytesOf(file) == old, !inPlace);
        QCOMPARE(save(file, u"AudioCD"_s, u"/new/cd"_s), QString());
        QCOMPARE(bytesOf(file), old + "AudioCD=/new/cd\n");
        QCOMPARE(listing(dir.path()).filter(u"Halvane"_s), QStringList{u"Halvane.ini"_s});
    }

    // The old file stays whole when the disk fills up, and nothing is left behind.
    void aFullFileSystemKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QByteArray mount = QFile::encodeName(dir.path());
        if (::mount("tmpfs", mount.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
            QSKIP(qPrintable(u"no tmpfs can be mounted here: "_s + QString::fromLocal8Bit(std::strerror(errno))));
        const auto unmount = qScopeGuard([&] { ::umount2(mount.constData(), MNT_DETACH); });
        const QString file = dir.filePath(u"Halvane.ini"_s);
        const QByteArray text = "; mine\n[Tarvic]\nAudioCD=/old/cd\n";
        touch(file, text);
        QFile filler(dir.filePath(u"filler"_s));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
        QCOMPARE(readProfileFile(file).value(Tarvic, u"AudioCD"_s), u"/old/cd"_s);
        QCOMPARE(save(file, u"AudioCD"_s, QString(8192, u'n')), u"cannot be written (No space left on device)"_s);
        QCOMPARE(bytesOf(file), text);
        QCOMPARE(listing(dir.path()), (QStringList{u"Halvane.ini"_s, u"filler"_s}));
    }

    // Two processes save 200 times each at once while this one reads: the file always
    // parses, its other lines stay, its four keys always come from one save, and neither
    // process loses a save of its own.
    void twoProcessesSavingNeverLoseEachOther()
    {
        constexpr int Rounds = 200;
        QTemporaryDir dir;
        const QString file = dir.filePath(u"Halvane.ini"_s);
        const QByteArray keep = "; hand-written\n[Keep]\nPath=C:\\Windows\\x.exe\nno equals sign here\n";
        touch(file, keep);
        pid_t children[2];
        for (int id = 0; id < 2; ++id)
            if ((children[id] = ::fork()) == 0) {
                for (int round = 0; round < Rounds; ++round)
                    if (!save(file, u"P%1"_s.arg(id), QString::number(round), u"p%1-%2"_s.arg(id).arg(round)).isEmpty())
                        ::_exit(1);
                ::_exit(0);
            }
        int status[2] = {-1, -1}, counts[2] = {-1, -1}, reads = 0;
        QString failure;
        for (; failure.isEmpty() && (status[0] < 0 || status[1] < 0); ++reads, ::usleep(200)) {
            for (int id = 0; id < 2; ++id)
                if (status[id] < 0)
                    ::waitpid(children[id], &status[id], WNOHANG);
            failure = problemOf([&] {
                const ProfileText t = readProfileFile(file);
                QStringList got;
                for (const QString &key : Keys)
                    got << t.value(Tarvic, key).value_or(QString());
                if (!t.bytes().startsWith(keep) || got.count(got[0]) != 4)
                    throw ProfileError(u"the other lines changed or the keys come from different saves: "_s + QString::fromUtf8(t.bytes()));
                for (int id = 0; id < 2; ++id) {
                    const int count = t.value(Tarvic, u"P%1"_s.arg(id)).value_or(u"-1"_s).toInt();
                    if (count < counts[id])
                        throw ProfileError(u"process %1's save %2 was lost"_s.arg(id).arg(counts[id]));
                    counts[id] = count;
                }
            });
        }
        for (int id = 0; id < 2; ++id)
            if (status[id] < 0 && ::kill(children[id], SIGKILL) == 0)
                ::waitpid(children[id], nullptr, 0);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(status[0] == 0 && status[1] == 0 && counts[0] == Rounds - 1 && counts[1] == Rounds - 1 && reads > 10);
        QCOMPARE(listing(dir.path()), QStringList{u"Halvane.ini"_s});
    }
};

QTEST_GUILESS_MAIN(ProfileTest)
#include "test_profile.moc"
