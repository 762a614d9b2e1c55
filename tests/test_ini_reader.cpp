// The autorun.inf reader: profile syntax, encodings, limits and hostile files,
// on fixture files and on files written into a temporary folder.
#include "components/ini_tool.h"
#include "support/test_env.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray fixture(const char *name)
{
    return QFile::encodeName(QStringLiteral(TEST_DATA_DIR "/ini/") + QLatin1String(name));
}

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QByteArray out(n, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (char &c : out)
        c = static_cast<char>(gen.bounded(256));
    return out;
}

// Comment lines of `size` bytes in all, the line end included.
QByteArray filler(qsizetype size)
{
    QByteArray out;
    out.reserve(size);
    while (out.size() < size) {
        const qsizetype line = std::min<qsizetype>(size - out.size(), 80);
        if (line > 1)
            out += ';' + QByteArray(line - 2, 'x');
        out += '\n';
    }
    return out;
}

const QString Autorun = u"autorun"_s;
const QString Open = u"open"_s;

} // namespace

class IniReaderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void profileRules_data();
    void profileRules();
    void encodings_data();
    void encodings();
    void byteLevelRules_data();
    void byteLevelRules();
    void windows1252CoversTheWholeHighHalf();
    void readingCapAtOneMebibyte_data();
    void readingCapAtOneMebibyte();
    void valuesAreCutAt65535Characters_data();
    void valuesAreCutAt65535Characters();
    void longLineDoesNotSpillIntoTheNextKey();
    void whatIsNoReadableFileGivesNotFound_data();
    void whatIsNoReadableFileGivesNotFound();
    void unreadableFileGivesNotFound();
    void fifoNeitherHangsNorAnswers();
    void iniToolReadsThroughTheDriveMap_data();
    void iniToolReadsThroughTheDriveMap();
};

void IniReaderTest::profileRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString nf = IniNotFound;
    QTest::newRow("plain") << fixture("plain.inf") << Autorun << Open << u"setup.exe"_s;
    QTest::newRow("commas stay") << fixture("plain.inf") << Autorun << u"icon"_s << u"setup.exe,0"_s;
    QTest::newRow("names ignore case") << fixture("plain.inf") << u"AUTORUN"_s << u"Open"_s << u"setup.exe"_s;
    QTest::newRow("asked names are trimmed too") << fixture("plain.inf") << u" autorun\t"_s << u" open "_s << u"setup.exe"_s;
    QTest::newRow("no such key") << fixture("plain.inf") << Autorun << u"shellexecute"_s << nf;
    QTest::newRow("empty key") << fixture("plain.inf") << Autorun << QString() << nf;
    QTest::newRow("no such section") << fixture("plain.inf") << u"autorun.amd64"_s << Open << nf;
    QTest::newRow("crlf, blanks, tabs") << fixture("blanks.inf") << Autorun << Open << u"setup.exe"_s;
    QTest::newRow("quoted with arguments stays") << fixture("blanks.inf") << Autorun << u"icon"_s << u"\"setup.exe\",0"_s;
    QTest::newRow("lone cr") << fixture("lone-cr.inf") << Autorun << Open << u"setup.exe"_s;
    QTest::newRow("lone cr, later line") << fixture("lone-cr.inf") << Autorun << u"label"_s << u"Disc"_s;
    QTest::newRow("no final newline") << fixture("no-final-newline.inf") << Autorun << Open << u"setup.exe"_s;
    QTest::newRow("empty file") << fixture("empty.inf") << Autorun << Open << nf;

    QTest::newRow("double quotes") << fixture("quotes.inf") << Autorun << u"double"_s << u"Setup Program.exe"_s;
    QTest::newRow("single quotes") << fixture("quotes.inf") << Autorun << u"single"_s << u"Setup Program.exe"_s;
    QTest::newRow("quotes keep blanks") << fixture("quotes.inf") << Autorun << u"blanks inside"_s << u" setup.exe "_s;
    QTest::newRow("quotes that differ") << fixture("quotes.inf") << Autorun << u"mixed"_s << u"\"setup.exe'"_s;
    QTest::newRow("quote then arguments") << fixture("quotes.inf") << Autorun << u"with args"_s << u"\"setup.exe\",0"_s;
    QTest::newRow("only an opening quote") << fixture("quotes.inf") << Autorun << u"only open"_s << u"\"setup.exe"_s;
    QTest::newRow("one quote alone") << fixture("quotes.inf") << Autorun << u"one quote"_s << u"\""_s;
    QTest::newRow("empty pair") << fixture("quotes.inf") << Autorun << u"empty pair"_s << QString();
    QTest::newRow("only one pair goes") << fixture("quotes.inf") << Autorun << u"nested"_s << u"\"setup.exe\""_s;
    QTest::newRow("quoted program with arguments") << fixture("quotes.inf") << Autorun << Open << u"\"autorun.exe\" /s"_s;

    QTest::newRow("semicolon inside a value") << fixture("comments.inf") << Autorun << Open << u"a.exe ; note"_s;
    QTest::newRow("semicolon in a label") << fixture("comments.inf") << Autorun << u"label"_s << u"Disc ; with a semicolon"_s;
    QTest::newRow("hash is no comment") << fixture("comments.inf") << Autorun << u"#open"_s << u"hash.exe"_s;
    QTest::newRow("comment is no key") << fixture("comments.inf") << Autorun << u"; open"_s << nf;

    QTest::newRow("first section and first key") << fixture("sections.inf") << Autorun << Open << u"first.exe"_s;
    QTest::newRow("second section is not searched") << fixture("sections.inf") << Autorun << u"label"_s << nf;
    QTest::newRow("another section") << fixture("sections.inf") << u"other"_s << Open << u"other.exe"_s;
    QTest::newRow("lines before any section") << fixture("sections.inf") << QString() << Open << nf;

    QTest::newRow("text after the bracket") << fixture("headers.inf") << Autorun << Open << u"setup.exe"_s;
    QTest::newRow("unterminated header names a section") << fixture("unterminated.inf") << Autorun << Open << u"setup.exe"_s;
    QTest::newRow("unterminated header ends a section") << fixture("unterminated-ends.inf") << Autorun << Open << nf;
    QTest::newRow("unterminated header by its name") << fixture("unterminated-ends.inf") << u"readme"_s << Open << u"setup.exe"_s;

    QTest::newRow("empty value is an entry") << fixture("keys.inf") << Autorun << Open << QString();
    QTest::newRow("equals signs in the value") << fixture("keys.inf") << Autorun << u"label"_s << u"=equals=in=value"_s;
    QTest::newRow("line without equals is no entry") << fixture("no-equals.inf") << Autorun << Open << u"setup.exe"_s;
    QTest::newRow("nor a key with blanks") << fixture("no-equals.inf") << Autorun << u"open setup.exe"_s << nf;
}

// Looks the row's entry up in its file, read from disk and in small pieces from memory.
static void lookUpInFixture()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString got = readIniValue(section, key, file);
    QCOMPARE(got, expected);
    QFile f(QFile::decodeName(file));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    for (qsizetype piece : {1, 2, 3, 7})
        QCOMPARE(readIniValueFromBytes(section, key, bytes, piece), expected);
}

void IniReaderTest::encodings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("utf-8") << fixture("utf8.inf") << Autorun << Open << u"Menü€ 😀.exe"_s;
    QTest::newRow("utf-8 names ignore case") << fixture("utf8.inf") << u"menü"_s << u"ÖFFNEN"_s << u"Menü€.exe"_s;
    QTest::newRow("utf-8 with bom") << fixture("utf8-bom.inf") << Autorun << Open << u"Menü€.exe"_s;
    QTest::newRow("utf-16le with bom") << fixture("utf16le-bom.inf") << Autorun << Open << u"Menü€ 😀.exe"_s;
    QTest::newRow("utf-16le names") << fixture("utf16le-bom.inf") << u"menü"_s << u"öffnen"_s << u"Menü€.exe"_s;
    QTest::newRow("utf-16be with bom") << fixture("utf16be-bom.inf") << Autorun << Open << u"Menü€.exe"_s;
    QTest::newRow("utf-16 without bom is bytes") << fixture("utf16le-nobom.inf") << Autorun << Open << IniNotFound;
    QTest::newRow("windows-1252") << fixture("cp1252.inf") << Autorun << Open << u"Menü€.exe"_s;
    QTest::newRow("windows-1252 names") << fixture("cp1252.inf") << u"menü"_s << u"öffnen"_s << u"Menü€.exe"_s;
    QTest::newRow("windows-1252 holes") << fixture("cp1252.inf") << Autorun << u"holes"_s << u"\u0081\u008d\u008f\u0090\u009d"_s;
    QTest::newRow("utf-8 line among 1252 lines") << fixture("mixed-lines.inf") << Autorun << u"label"_s << u"Café"_s;
    QTest::newRow("1252 line among utf-8 lines") << fixture("mixed-lines.inf") << Autorun << Open << u"Café.exe"_s;
}

void IniReaderTest::profileRules()
{
    lookUpInFixture();
}

void IniReaderTest::encodings()
{
    lookUpInFixture();
}

void IniReaderTest::byteLevelRules_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");

    const QString nf = IniNotFound;
    QTest::newRow("ctrl-z around names and value") << "\x1a[\x1a" "autorun\x1a]\r\n\x1aopen\x1a=\x1asetup.exe\x1a\r\n\x1a"_ba << u"setup.exe"_s;
    QTest::newRow("nul in another entry") << "[autorun]\r\nicon=a\0b\r\nopen=setup.exe\r\n"_ba << u"setup.exe"_s;
    QTest::newRow("nul lines before the section") << "\0\0\0\n\0\n[autorun]\nopen=setup.exe\n"_ba << u"setup.exe"_s;
    QTest::newRow("nul after the value") << "[autorun]\nopen=setup.exe\0evil.exe\n"_ba << nf;
    QTest::newRow("nul value still wins") << "[autorun]\nopen=a\0\nopen=b.exe\n"_ba << nf;
    QTest::newRow("nul in a key") << "[autorun]\nop\0en=a.exe\nopen=b.exe\n"_ba << u"b.exe"_s;
    QTest::newRow("nul in the section name") << "[auto\0run]\nopen=a.exe\n"_ba << nf;
    QTest::newRow("header with nul still ends the section") << "[autorun]\n[x\0]\nopen=evil.exe\n"_ba << nf;
    QTest::newRow("a few control codes") << (QByteArray(40, '\x01') + "\n[autorun]\nopen=setup.exe\n") << u"setup.exe"_s;
    QTest::newRow("control codes in the value stay") << "[autorun]\nopen=a\x02\x1b.exe\n"_ba << u"a\u0002\u001b.exe"_s;
    QTest::newRow("binary junk first") << (randomBytes(4096, 7) + "\n[autorun]\nopen=setup.exe\n") << nf;
    QTest::newRow("text first, then junk") << ("[autorun]\nopen=setup.exe\n"_ba + randomBytes(100000, 8)) << u"setup.exe"_s;
    QTest::newRow("bom only") << "\xff\xfe"_ba << nf;
    QTest::newRow("utf-16 odd last byte") << "\xff\xfe[\0a\0u\0t\0o\0r\0u\0n\0]\0\n\0o\0p\0e\0n\0=\0x\0y"_ba << u"x"_s;
    QTest::newRow("utf-16 unpaired surrogate") << "\xff\xfe[\0a\0u\0t\0o\0r\0u\0n\0]\0\n\0o\0p\0e\0n\0=\0\x00\xd8x\0"_ba << u"\ufffdx"_s;
    QTest::newRow("utf-16 nul in value") << "\xff\xfe[\0a\0u\0t\0o\0r\0u\0n\0]\0\n\0o\0p\0e\0n\0=\0\0\0"_ba << nf;
    QTest::newRow("utf-8 bom and cr-lf") << "\xef\xbb\xbf[autorun]\r\nopen=setup.exe\r\n"_ba << u"setup.exe"_s;
    QTest::newRow("overlong utf-8 is 1252") << "[autorun]\nopen=\xc0\xaf.exe\n"_ba << u"\u00c0\u00af.exe"_s;
    QTest::newRow("encoded surrogate is 1252") << "[autorun]\nopen=\xed\xa0\x80\n"_ba << u"\u00ed\u00a0\u20ac"_s;
    QTest::newRow("truncated utf-8 is 1252") << "[autorun]\nopen=a\xe2\x82"_ba << u"a\u00e2\u201a"_s;
}

void IniReaderTest::byteLevelRules()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"autorun.inf"_s);
    touch(path, content);
    QCOMPARE(readIniValue(Autorun, Open, QFile::encodeName(path)), expected);
    for (qsizetype piece : {0, 1, 2, 3, 5})
        QCOMPARE(readIniValueFromBytes(Autorun, Open, content, piece), expected);
}

void IniReaderTest::windows1252CoversTheWholeHighHalf()
{
    QByteArray high;
    for (int b = 0x80; b <= 0xff; ++b)
        high += static_cast<char>(b);
    const QString value = readIniValueFromBytes(Autorun, Open, "[autorun]\nopen=" + high);
    const QString punctuation = u"\u20ac\u0081\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u008d\u017d\u008f"
                                u"\u0090\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a\u0153\u009d\u017e\u0178"_s;
    QCOMPARE(value.size(), 128);
    QCOMPARE(value.first(32), punctuation);
    for (int i = 32; i < 128; ++i)
        QCOMPARE(int(value[i].unicode()), 0x80 + i);   // Latin-1 from 0xA0 up
}

void IniReaderTest::readingCapAtOneMebibyte_data()
{
    QTest::addColumn<qsizetype>("entryEnd");   // where the entry's line ends, its line break not counted
    QTest::addColumn<QByteArray>("after");     // what follows the entry
    QTest::addColumn<QString>("expected");

    constexpr qsizetype cap = 1024 * 1024;
    QTest::newRow("ends just inside") << cap - 1 << "\n"_ba << u"setup.exe"_s;
    QTest::newRow("ends at the cap, lf beyond") << cap << "\n"_ba + filler(3000000) << u"setup.exe"_s;
    QTest::newRow("ends at the cap, cr lf beyond") << cap << "\r\n"_ba << u"setup.exe"_s;
    QTest::newRow("ends at the cap and the file") << cap << QByteArray() << u"setup.exe"_s;
    QTest::newRow("crosses the cap") << cap + 4 << "\n"_ba << IniNotFound;
    QTest::newRow("after the cap in a 3 MB file") << 3 * cap << "\n"_ba << IniNotFound;
}

void IniReaderTest::readingCapAtOneMebibyte()
{
    QFETCH(qsizetype, entryEnd);
    QFETCH(QByteArray, after);
    QFETCH(QString, expected);
    const QByteArray head = "[autorun]\n";
    const QByteArray entry = "open=setup.exe";
    const QByteArray content = head + filler(entryEnd - entry.size() - head.size()) + entry + after;
    QCOMPARE(content.indexOf(entry) + entry.size(), entryEnd);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"autorun.inf"_s);
    touch(path, content);
    QCOMPARE(readIniValue(Autorun, Open, QFile::encodeName(path)), expected);
    QCOMPARE(readIniValueFromBytes(Autorun, Open, content), expected);
}

void IniReaderTest::valuesAreCutAt65535Characters_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    const QString a65535(65535, u'a');
    QTest::newRow("just fits") << a65535 << a65535;
    QTest::newRow("one over") << a65535 + u'b' << a65535;
    QTest::newRow("far over") << QString(300000, u'c') << QString(65535, u'c');
    QTest::newRow("a pair is not split") << QString(65534, u'a') + u"😀"_s << QString(65534, u'a');
    QTest::newRow("quotes go first") << u'"' + a65535 + u'"' << a65535;
}

void IniReaderTest::valuesAreCutAt65535Characters()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    const QByteArray content = "[autorun]\r\nopen=" + value.toUtf8() + "\r\n";
    QTemporaryDir dir;
    const QString path = dir.filePath(u"autorun.inf"_s);
    touch(path, content);
    QCOMPARE(readIniValue(Autorun, Open, QFile::encodeName(path)), expected);
    // The same in UTF-16.
    QByteArray utf16("\xff\xfe");
    const QString text = u"[autorun]\r\nopen="_s + value + u"\r\n"_s;
    utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    QCOMPARE(readIniValueFromBytes(Autorun, Open, utf16), expected);
}

void IniReaderTest::longLineDoesNotSpillIntoTheNextKey()
{
    const QByteArray label(200000, 'L');
    const QByteArray content = "[autorun]\r\nlabel=" + label + "open=wrong.exe\r\nopen=setup.exe\r\n";
    QTemporaryDir dir;
    const QString path = dir.filePath(u"autorun.inf"_s);
    touch(path, content);
    const QByteArray native = QFile::encodeName(path);
    QCOMPARE(readIniValue(Autorun, Open, native), u"setup.exe"_s);
    const QString got = readIniValue(Autorun, u"label"_s, native);
    QCOMPARE(got.size(), 65535);
    QVERIFY(got == QString(65535, u'L'));
}

void IniReaderTest::whatIsNoReadableFileGivesNotFound_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("missing") << QByteArray(TEST_DATA_DIR "/ini/no-such.inf");
    QTest::newRow("a folder") << QByteArray(TEST_DATA_DIR "/ini");
    QTest::newRow("a device") << "/dev/zero"_ba;
    QTest::newRow("empty path") << QByteArray();
    QTest::newRow("nul in the path") << QByteArray(TEST_DATA_DIR "/ini/plain.inf\0x", sizeof(TEST_DATA_DIR "/ini/plain.inf\0x") - 1);
}

void IniReaderTest::whatIsNoReadableFileGivesNotFound()
{
    QFETCH(QByteArray, path);
    QCOMPARE(readIniValue(Autorun, Open, path), IniNotFound);
}

void IniReaderTest::unreadableFileGivesNotFound()
{
    if (::geteuid() == 0)
        QSKIP("root reads files whatever their permissions");
    QTemporaryDir dir;
    const QString path = dir.filePath(u"autorun.inf"_s);
    touch(path, "[autorun]\nopen=setup.exe\n");
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    QCOMPARE(readIniValue(Autorun, Open, QFile::encodeName(path)), IniNotFound);
}

void IniReaderTest::fifoNeitherHangsNorAnswers()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(u"autorun.inf"_s));
    QVERIFY(::mkfifo(path.constData(), 0600) == 0);
    QCOMPARE(readIniValue(Autorun, Open, path), IniNotFound);
}

void IniReaderTest::iniToolReadsThroughTheDriveMap_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("upper case path") << u"E:\\AUTORUN.INF"_s << u"setup.exe"_s;
    QTest::newRow("lower case drive") << u"e:\\autorun.inf"_s << u"setup.exe"_s;
    QTest::newRow("forward slash") << u"E:/AutoRun.inf"_s << u"setup.exe"_s;
    QTest::newRow("no such file") << u"E:\\setup.inf"_s << IniNotFound;
    QTest::newRow("the drive's root") << u"E:\\"_s << IniNotFound;
    QTest::newRow("a folder of that name") << u"E:\\Docs\\autorun.inf"_s << IniNotFound;
    QTest::newRow("unmapped drive") << u"F:\\autorun.inf"_s << IniNotFound;
}

void IniReaderTest::iniToolReadsThroughTheDriveMap()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    TestEnv env;
    const QString disc = env.newFolder(u"disc"_s);
    touch(disc + u"/AutoRun.Inf"_s, "[AutoRun]\r\nOpen=setup.exe\r\n");
    makeFolder(disc + u"/docs/autorun.inf"_s);
    env.mapDrive(u'E', disc);
    INITool tool(env.paths());
    QCOMPARE(tool.ReadINIValue(Autorun, Open, file), expected);
}

QTEST_GUILESS_MAIN(IniReaderTest)
#include "test_ini_reader.moc"
