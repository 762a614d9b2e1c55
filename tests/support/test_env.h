#pragma once

#include "configure/pickers.h"
#include "platform/config_paths.h"
#include "platform/devices/devices.h"
#include "platform/drive_map.h"
#include "platform/drive_paths.h"
#include "platform/drives.h"
#include "settings/settings_store.h"
#include "platform/program_starter.h"
#include "startup/services.h"
#include "ui/message_boxes.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace tarvic::test {

// Writes a file (and the folders above it), with optional content.
void touch(const QString &path, const QByteArray &content = {});
// Makes a folder and those above it.
void makeFolder(const QString &path);
// A file's bytes, or "<unreadable>".
QByteArray bytesOf(const QString &path);
// Every entry of a folder, hidden ones too, by name.
QStringList listing(const QString &folder);
// A loop device as /sys/block (here `sysBlock`) shows it: `name` ("loop3", device 7:3)
// showing `file` (none: nothing attached) from `offset` on, at most `sizeLimit` bytes (0: all).
void showLoop(const QString &sysBlock, const QString &name, const QByteArray &file, const QByteArray &offset = "0",
              const QByteArray &sizeLimit = "0");
// "number: description" of the RuntimeError f throws; empty if none.
QString errorOf(const std::function<void()> &f);
// Root writes where permission bits say no: an owner for whom they count.
uid_t ordinaryOwner();

// A scripted open-file dialog: each ShowOpen takes the next answer; an empty
// answer is a cancel.
struct ScriptedFilePicker final : FilePicker
{
    QStringList answers;
    QStringList titles;   // the title of every showing
    QString fileName;
    void setDialogTitle(const QString &t) override { title = t; }
    void ShowOpen() override;
    QString FileName() const override { return fileName; }
    QString title;
};

struct ScriptedFolderPicker final : FolderPicker
{
    QStringList answers;
    QStringList prompts;
    QString BrowseForFolder(const QString &Desc, short o) override
    {
        Q_UNUSED(o);
        prompts << Desc;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

struct StartedProgram
{
    QString commandLine;
    QByteArray program;         // the file, for a start of one file
    int windowStyle;
    QString workingDirectory;   // the process's, at the moment of the start
};

// Starts nothing; records what would have been started and where.
struct RecordingStarter final : ProgramStarter
{
    QList<StartedProgram> started;
    void start(const QString &commandLine, int windowStyle) override
    {
        started << StartedProgram{commandLine, {}, windowStyle, QDir::currentPath()};
    }
    void startProgram(const QByteArray &program, int windowStyle) override
    {
        started << StartedProgram{{}, program, windowStyle, QDir::currentPath()};
    }
};

struct ShownBox
{
    QString text;
    int flags;
    QString title;
};

// Answers boxes from a script and remembers what was shown.
struct ScriptedBoxes final : MessageBoxes
{
    QList<int> answers;     // returned in order; OK once they run out
    QList<ShownBox> shown;
    std::function<void(const ShownBox &)> whileShown;   // acts while the box is up
    int show(const QString &text, int flags, const QString &title) override
    {
        shown << ShownBox{text, flags, title};
        if (whileShown)
            whileShown(shown.last());
        return answers.isEmpty() ? Mb::Ok : answers.takeFirst();
    }
};

// A private configuration home (XDG_CONFIG_HOME) with its own drive map and
// settings file, and the whole set of services built on it. The process's working
// directory is restored when it goes.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();

    QString configHome() const { return m_home.path(); }
    QString mapFolder() const { return driveMapFolder(); }
    // Stands for /dev where a device is known by its name alone.
    QString deviceFolder() const { return m_home.filePath(QStringLiteral("dev")); }
    QString settingsPath() const { return settingsFile(); }

    // A fresh folder under the environment, to stand for a disc or anything else.
    QString newFolder(const QString &name);
    // Ties a letter to a folder ("e:" link) or to a device node ("e::" link).
    void mapDrive(QChar letter, const QString &folder) { link(letter.toLower() + QStringLiteral(":"), folder); }
    void mapDevice(QChar letter, const QString &device) { link(letter.toLower() + QStringLiteral("::"), device); }

    OpticalDevices *optical = nullptr;   // defaults to one with no discs
    Drives &drives();
    DrivePaths &paths();
    HalvaneSettings &settings();
    Services &services();

    // What the run asked of the services, " | " between: each box shown ("title
    // (flags): text"), then each program started ("command line (window style) in
    // working folder", a file started as itself by its path in brackets).
    QString report() const;
    // Runs `tarvic argument` (mainTarvic::Main) on these services: report(), then each
    // window left loaded ("frmTarvic: its list, comma-separated", "frmConfigure"; "hidden"
    // when it is not shown).
    QString run(const QString &argument);
    // report() without flags and window styles, for groups still comparing that form.
    QString outcome() const;

    ScriptedBoxes boxes;
    RecordingStarter starter;
    ScriptedFilePicker filePicker;
    ScriptedFolderPicker folderPicker;

private:
    void link(const QString &entry, const QString &target);

    QTemporaryDir m_home;
    QByteArray m_oldXdg;
    bool m_hadXdg;
    QString m_oldCwd;
    NoOpticalDevices m_noOptical;
    std::unique_ptr<Drives> m_drives;
    std::unique_ptr<DrivePaths> m_paths;
    std::unique_ptr<HalvaneSettings> m_settings;
    std::unique_ptr<Services> m_services;
};

} // namespace tarvic::test
