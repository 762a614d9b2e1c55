#include "startup/maintarvic.h"

#include "chooser/frmtarvic.h"
#include "configure/frmconfigure.h"
#include "platform/devices/devices.h"
#include "platform/drive_paths.h"
#include "platform/program_starter.h"
#include "platform/runtime_error.h"
#include "settings/settings_store.h"
#include "ui/message_boxes.h"

#include <cstdio>

namespace tarvic {

namespace {
const QString CrLf = QStringLiteral("\r\n");
}

struct mainTarvic::Media
{
    QString programKey;
    QString startInKey;
    QString question;
    QString title;
};

mainTarvic::mainTarvic(Services &services) : m_services(services), m_forms(services, TargetDrive) {}

QString mainTarvic::targetDriveFor(const QString &argumentText)
{
    if (argumentText.isEmpty())
        return QStringLiteral("D:");
    const QString upper = argumentText.toUpper();
    qsizetype end = 0;
    for (int taken = 0; taken < 2 && end < upper.size(); ++taken)
        end += (upper.at(end).isHighSurrogate() && end + 1 < upper.size() && upper.at(end + 1).isLowSurrogate()) ? 2 : 1;
    return upper.left(end);
}

QString mainTarvic::targetDriveFor(const QString &argumentText, Drives &drives)
{
    const MediumDrive medium = drives.driveOfMedium(argumentText);
    if (medium.refusal)
        throw *medium.refusal;
    return medium.letter ? QString(*medium.letter) + QLatin1Char(':') : targetDriveFor(argumentText);
}

QString mainTarvic::usageText(const QString &drive)
{
    return QStringLiteral("Drive ") + drive + QStringLiteral(" does not exist") + CrLf + CrLf + QStringLiteral("Usage:")
        + CrLf + QStringLiteral("Tarvic <driveletter>:") + CrLf + QStringLiteral("Tarvic /c");
}

QString mainTarvic::errorText(const RuntimeError &error)
{
    return QStringLiteral("An error has occured: ") + error.description() + QStringLiteral(", ")
        + QString::number(error.number());
}

void mainTarvic::Main(const QString &argumentText)
{
    try {
        if (argumentText == QLatin1String("/c")) {
            m_forms.frmConfigure().show();
            return;
        }
        TargetDrive = targetDriveFor(argumentText, m_services.paths.drives());
        if (m_forms.frmTarvicControls().Pellor.DriveStatus(TargetDrive) == 0) {
            m_services.boxes.show(usageText(TargetDrive), Mb::Information, QStringLiteral("Tarvic Usage"));
            m_forms.unloadTarvic();
            return;
        }
        dispatch();
    } catch (const NothingToDo &quiet) {
        std::fprintf(stderr, "tarvic %s %s\n", qPrintable(TargetDrive), quiet.what());
        m_forms.unloadTarvic();
    } catch (const RuntimeError &error) {
        errorHandler(error);
    } catch (const std::bad_alloc &) {
        errorHandler(RuntimeError(Err::OutOfMemory, QStringLiteral("Out of memory")));
    }
}

void mainTarvic::errorHandler(const RuntimeError &error)
{
    m_services.boxes.show(errorText(error), Mb::Critical, QStringLiteral("Error"));
    m_forms.unloadTarvic();
}

void mainTarvic::dispatch()
{
    while (m_forms.frmTarvicControls().Pellor.DriveStatus(TargetDrive) == 1) {
        const int answer = m_services.boxes.show(QStringLiteral("No disc was found in drive ") + TargetDrive
                                                     + QStringLiteral(".  Please insert a disc and try again"),
                                                 Mb::Critical | Mb::RetryCancel, QStringLiteral("Disc Request"));
        if (answer != Mb::Retry) {
            m_forms.unloadTarvic();
            return;
        }
    }

    auto &Pellor = m_forms.frmTarvicControls().Pellor;
    if (Pellor.FileExists(TargetDrive + QStringLiteral("\\track01.cda"))) {
        playerStart({Key::AudioCD, Key::CDSI,
                     QStringLiteral("The audio CD program either does not exist any more or it not been configured "
                                    "yet, do you want to configure it now?"),
                     QStringLiteral("Audio CD")});
        return;
    }
    if (Pellor.FolderExists(TargetDrive + QStringLiteral("\\VIDEO_TS"))) {
        playerStart({Key::VideoDVD, Key::DVDSI,
                     QStringLiteral("The video DVD program either does not exist any more or it not been configured "
                                    "yet, do you want to configure it now?"),
                     QStringLiteral("Video DVD")});
        return;
    }

    m_services.paths.ChDrive(TargetDrive);
    m_services.paths.ChDir(TargetDrive);
    QString open;
    const QString autorun = TargetDrive + QStringLiteral("\\autorun.inf");
    if (m_forms.frmTarvicControls().Pellor.FileExists(autorun))
        open = m_forms.frmTarvicControls().getAutorun.ReadINIValue(QStringLiteral("autorun"), QStringLiteral("open"),
                                                                   autorun);
    if (open != IniNotFound) {
        const QString candidate = TargetDrive + QStringLiteral("\\") + open;
        if (m_forms.frmTarvicControls().Pellor.FileExists(candidate)) {
            m_services.starter.start(candidate, WindowStyle::Normal);
            m_forms.unloadTarvic();
            return;
        }
    }
    // The window is built, loaded and listed only here, where it is shown.
    m_forms.frmTarvic().show();
}

void mainTarvic::playerStart(const Media &media)
{
    auto &settings = m_services.settings;
    if (!m_forms.frmTarvicControls().Pellor.FileExists(settings.read(media.programKey))) {
        if (m_services.boxes.show(media.question, Mb::Question | Mb::YesNo, media.title) == Mb::Yes)
            m_forms.frmConfigure().show();
        m_forms.unloadTarvic();
        return;
    }
    if (m_forms.frmTarvicControls().Pellor.FolderExists(settings.read(media.startInKey))) {
        m_services.paths.ChDir(settings.read(media.startInKey));
        m_services.paths.ChDrive(settings.read(media.startInKey));
    }
    m_services.starter.start(settings.read(media.programKey), WindowStyle::Normal);
    m_forms.unloadTarvic();
}

} // namespace tarvic
