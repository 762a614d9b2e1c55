// The settings store on Halvane.ini's [Tarvic]. (A key written without a value,
// keeping what the file holds at the save: test_configure.)
#include "platform/config_paths.h"
#include "support/test_env.h"

#include <QtTest>
#include <pwd.h>
#include <unistd.h>

using namespace tarvic;
using namespace tarvic::test;
using namespace Qt::StringLiterals;

class SettingsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theFourKeysAreReadAndWritten()
    {
        TestEnv env;
        const QString file = env.settingsPath();
        QCOMPARE(env.settings().read(Key::AudioCD), QString());
        QCOMPARE(bytesOf(file), "<unreadable>"_ba);   // reading makes no file
        env.settings().write({{Key::VideoDVD, u" v "_s}, {Key::DVDSI, u"d"_s}, {Key::AudioCD, u"a"_s}, {Key::CDSI, QString()}});
        QCOMPARE(bytesOf(file), "[Tarvic]\nVideoDVD=\" v \"\nDVDSI=d\nAudioCD=a\nCDSI=\n"_ba);
        QCOMPARE(HalvaneSettings(file).read(Key::VideoDVD), u" v "_s);
        QCOMPARE(listing(env.configHome()), (QStringList{u"Halvane.ini"_s, u"tarvic"_s}));   // no lock or new file left
    }

    void everyFailureIsError75WithTheReason()
    {
        TestEnv env;
        const QString file = env.settingsPath(), prefix = u"75: Path/File access error: the settings file "_s + file + u' ';
        const QByteArray text = "[Tarvic]\r\nCDSI=old\r\n";
        touch(file, text);
        const QList<std::pair<QString, QString>> unwritable = {
            {u"a\nb"_s, u"a line break"_s}, {u"a\0b"_s, u"a NUL character"_s}, {u"a\xD800"_s, u"a lone UTF-16 surrogate"_s}};
        for (const auto &[value, why] : unwritable) {
            QCOMPARE(errorOf([&] { env.settings().write({{Key::CDSI, u"new"_s}, {Key::AudioCD, value}}); }),
                     prefix + u"cannot be written: the value of AudioCD holds "_s + why + u", which a settings file cannot hold"_s);
            QCOMPARE(bytesOf(file), text);
        }
        QVERIFY(QFile::remove(file));
        makeFolder(file);
        QCOMPARE(errorOf([&] { env.settings().read(Key::CDSI); }), prefix + u"is a folder"_s);
        QCOMPARE(errorOf([&] { env.settings().write({{Key::CDSI, u"new"_s}}); }), prefix + u"is a folder"_s);
        HalvaneSettings homeless{QString()};
        const QString none = u"75: Path/File access error: the settings file Halvane.ini has no folder: there is no home folder"_s;
        QCOMPARE(errorOf([&] { homeless.read(Key::CDSI); }), none);
        QCOMPARE(errorOf([&] { homeless.write({{Key::CDSI, u"new"_s}}); }), none);
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
        expected.replace(u'@', QString::fromLocal8Bit(::getpwuid(::getuid())->pw_dir));
        QCOMPARE(configHome(), expected);
        QCOMPARE(settingsFile(), expected + u"/Halvane.ini"_s);
        QCOMPARE(driveMapFolder(), expected + u"/tarvic/drives"_s);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "test_settings.moc"
