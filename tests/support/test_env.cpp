#include "support/test_env.h"

#include "chooser/file_list_box.h"
#include "chooser/frmtarvic.h"
#include "configure/frmconfigure.h"
#include "platform/runtime_error.h"
#include "startup/maintarvic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>
#include <unistd.h>

namespace tarvic::test {

void touch(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(content);
}

void makeFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        qFatal("cannot make %s", qPrintable(path));
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList listing(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

void showLoop(const QString &sysBlock, const QString &name, const QByteArray &file, const QByteArray &offset,
              const QByteArray &sizeLimit)
{
    const QString at = sysBlock + QLatin1Char('/') + name;
    touch(at + QStringLiteral("/loop/backing_file"), file.isEmpty() ? QByteArray() : file + '\n');
    touch(at + QStringLiteral("/loop/offset"), offset + '\n');
    touch(at + QStringLiteral("/loop/sizelimit"), sizeLimit + '\n');
    touch(at + QStringLiteral("/dev"), "7:" + name.mid(4).toLatin1() + '\n');
}

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RuntimeError &e) {
        return QStringLiteral("%1: %2").arg(e.number()).arg(e.description());
    }
    return {};
}

uid_t ordinaryOwner()
{
    return ::geteuid() ? ::geteuid() : 65534;
}

void ScriptedFilePicker::ShowOpen()
{
    titles << title;
    const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
    if (answer.isEmpty())
        throw RuntimeError(32755, QStringLiteral("Cancel was selected."));
    fileName = answer;
}

TestEnv::TestEnv()
    : m_oldXdg(qgetenv("XDG_CONFIG_HOME")), m_hadXdg(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")),
      m_oldCwd(QDir::currentPath())
{
    if (!m_home.isValid())
        qFatal("no temporary folder");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    makeFolder(mapFolder());
}

TestEnv::~TestEnv()
{
    QDir::setCurrent(m_oldCwd);
    m_hadXdg ? qputenv("XDG_CONFIG_HOME", m_oldXdg) : qunsetenv("XDG_CONFIG_HOME");
}

QString TestEnv::newFolder(const QString &name)
{
    const QString path = m_home.filePath(QStringLiteral("folders/") + name);
    makeFolder(path);
    return path;
}

void TestEnv::link(const QString &entry, const QString &target)
{
    const QString path = mapFolder() + QLatin1Char('/') + entry;
    QFile::remove(path);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) != 0)
        qFatal("cannot link %s", qPrintable(path));
}

// Each made on first use, so that a test may still set `optical` before.
Drives &TestEnv::drives()
{
    return m_drives ? *m_drives
                    : *(m_drives = std::make_unique<Drives>(DriveMap(mapFolder()), optical ? *optical : m_noOptical,
                                                            QFile::encodeName(deviceFolder())));
}
DrivePaths &TestEnv::paths() { return m_paths ? *m_paths : *(m_paths = std::make_unique<DrivePaths>(drives())); }
HalvaneSettings &TestEnv::settings()
{
    return m_settings ? *m_settings : *(m_settings = std::make_unique<HalvaneSettings>(settingsPath()));
}
Services &TestEnv::services()
{
    return m_services ? *m_services
                      : *(m_services = std::make_unique<Services>(paths(), starter, boxes, settings(), filePicker, folderPicker));
}

QString TestEnv::report() const
{
    QStringList what;
    for (const ShownBox &b : boxes.shown)
        what << QStringLiteral("%1 (%2): %3").arg(b.title, QString::number(b.flags), b.text);
    for (const StartedProgram &s : starter.started) {
        const QString started = s.program.isNull() ? s.commandLine : u'[' + QFile::decodeName(s.program) + u']';
        what << QStringLiteral("%1 (%2) in %3").arg(started, QString::number(s.windowStyle), s.workingDirectory);
    }
    return what.join(QStringLiteral(" | "));
}

QString TestEnv::run(const QString &argument)
{
    mainTarvic program(services());
    program.Main(argument);
    QStringList what{report()};
    Forms &forms = program.forms();
    const QString hidden = QStringLiteral(" (hidden)");
    if (forms.isTarvicLoaded()) {
        QStringList listed;
        for (int i = 0; i < forms.frmTarvic().EXElist->count(); ++i)
            listed << forms.frmTarvic().EXElist->item(i)->text();
        what << QStringLiteral("frmTarvic: ") + listed.join(QStringLiteral(", "))
                    + (forms.frmTarvic().isVisible() ? QString() : hidden);
    }
    if (forms.isConfigureLoaded())
        what << QStringLiteral("frmConfigure") + (forms.frmConfigure().isVisible() ? QString() : hidden);
    what.removeAll(QString());
    return what.join(QStringLiteral(" | "));
}

QString TestEnv::outcome() const
{
    return report().remove(QRegularExpression(QStringLiteral(R"( \(\d+\)(?=(:| in )))")));
}

} // namespace tarvic::test
