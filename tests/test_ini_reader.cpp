// The autorun.inf reader: each row is a file's bytes and the key asked for in
// [autorun], read from disk and again from memory.
#include "components/ini_tool.h"
#include "support/test_env.h"

#include <QtTest>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

static const QString Autorun = u"autorun"_s, Open = u"open"_s, NF = IniNotFound;

static QByteArray fixture(const char *name)
{
    QFile f(TEST_DATA_DIR "/ini/"_L1 + QLatin1StringView(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();   // each fixture has a row that finds a value
}

class IniReaderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        QTest::newRow("quotes that differ stay") << fixture("quotes.inf") << u"mixed"_s << u"\"setup.exe'"_s;
        QTest::newRow("comment lines; a semicolon in a value stays") << fixture("comments.inf") << Open << u"a.exe ; note"_s;

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
        QTest::newRow("nuls after the value, then a line end") << "[autorun]\r\nopen=setup.exe "_ba + nuls + "\r\n" + nuls << Open << u"setup.exe"_s;
        QTest::newRow("512 nuls before the section") << nuls + "\r\n[autorun]\r\nopen=setup.exe\r\n" << Open << u"setup.exe"_s;
        QTest::newRow("a nul ends a header") << "[autorun\0]x\r\nopen=setup.exe\r\n"_ba << Open << u"setup.exe"_s;
        QTest::newRow("a nul before the equals sign: no entry") << "[autorun]\r\nopen\0=a.exe\r\nopen=b.exe"_ba << Open << u"b.exe"_s;
        QTest::newRow("100 nuls inside the section") << "[autorun]\r\n"_ba + nuls.first(100) + "\r\nopen=setup.exe\r\n" << Open << u"setup.exe"_s;
        QTest::newRow("100 control bytes inside the section") << "[autorun]\r\n"_ba + controls + "\r\nopen=setup.exe\r\n" << Open << u"setup.exe"_s;
        QTest::newRow("nuls and control bytes in a comment") << "[autorun]\r\n;"_ba + nuls + controls + "\r\nopen=setup.exe\r\n" << Open << u"setup.exe"_s;
        QTest::newRow("control bytes are characters") << "[autorun]\nopen=\x01setup\x1b.exe\x7f\n"_ba << Open << u"\x01setup\x1b.exe\x7f"_s;
        QTest::newRow("a control byte before a header is text") << "\x01[autorun]\nopen=a.exe\n[autorun]\nopen=b.exe\n"_ba << Open << u"b.exe"_s;
        QTest::newRow("vertical tab and form feed are blanks") << "\v[\fautorun\v]\f\r\n\v\fopen\v=\f\v\"setup.exe \"\f\v\r\n"_ba << Open << u"setup.exe "_s;
        QTest::newRow("utf-16le padded with nuls") << "\xff\xfe"_ba + QByteArray::fromRawData(reinterpret_cast<const char *>(u"[autorun]\r\nopen=setup.exe"), 50) + nuls << Open << u"setup.exe"_s;
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

    // Only a regular file that can be read counts, and nothing else may hang.
    void readsThroughTheDriveMap()
    {
        TestEnv env;
        const QString disc = env.newFolder(u"disc"_s);
        const QByteArray d = QFile::encodeName(disc);
        touch(disc + u"/AutoRun.Inf"_s, "[AutoRun]\r\nOpen=setup.exe\r\n");
        touch(disc + u"/locked.inf"_s, "[autorun]\nopen=setup.exe\n");
        makeFolder(disc + u"/folder.inf"_s);
        QVERIFY(::chmod(QFile::encodeName(env.configHome()), 0755) == 0 && ::chmod(d + "/locked.inf", 0) == 0);
        QVERIFY(::mkfifo(d + "/fifo.inf", 0666) == 0);
        env.mapDrive(u'E', disc);
        ::setfsuid(::geteuid() ? ::geteuid() : 65534);   // root too meets the permission bits
        const auto back = qScopeGuard([] { ::setfsuid(::geteuid()); });
        INITool tool(env.paths());
        QCOMPARE(tool.ReadINIValue(Autorun, Open, u"e:/AUTORUN.INF"_s), u"setup.exe"_s);
        for (const char *file : {"E:\\missing.inf", "E:\\folder.inf", "E:\\fifo.inf", "E:\\locked.inf", "F:\\autorun.inf", "/dev/zero"})
            QVERIFY2(tool.ReadINIValue(Autorun, Open, QString::fromLatin1(file)) == NF, file);
    }
};

QTEST_GUILESS_MAIN(IniReaderTest)
#include "test_ini_reader.moc"
