#include "chooser/frmtarvic.h"

#include "platform/message_boxes.h"
#include "platform/program_starter.h"
#include "platform/runtime_error.h"
#include "platform/untrapped.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace tarvic {

frmTarvic::frmTarvic(const QString &TargetDrive, DrivePaths &paths, ProgramStarter &starter, MessageBoxes &boxes)
    : Pellor(paths), getAutorun(paths), TargetDrive(TargetDrive), m_paths(paths), m_starter(starter), m_boxes(boxes)
{
    setObjectName(QStringLiteral("frmTarvic"));
    setWindowTitle(QStringLiteral("Tarvic"));

    lblNoINF = new QLabel(QStringLiteral("lblNoINF"), this);
    lblNoINF->setObjectName(QStringLiteral("lblNoINF"));
    Run = new QPushButton(QStringLiteral("&Run"), this);
    Run->setObjectName(QStringLiteral("Run"));
    Run->setEnabled(false);
    Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    Cancel->setObjectName(QStringLiteral("Cancel"));
    OD = new QPushButton(QStringLiteral("&Open drive"), this);
    OD->setObjectName(QStringLiteral("OD"));
    EOR = new QCheckBox(QStringLiteral("&Exit on run"), this);
    EOR->setObjectName(QStringLiteral("EOR"));
    EOR->setEnabled(false);
    EXElist = new QListWidget(this);
    EXElist->setObjectName(QStringLiteral("EXElist"));
    EXEIcon = new QLabel(this);
    EXEIcon->setObjectName(QStringLiteral("EXEIcon"));

    // A file list box starts on the process's current directory.
    m_listFolder = QFile::encodeName(QDir::currentPath());

    connect(EXElist, &QListWidget::currentRowChanged, this, [this] { runHandler([this] { EXElist_Click(); }); });
    connect(Run, &QPushButton::clicked, this, [this] { runHandler([this] { Run_Click(); }); });
    connect(OD, &QPushButton::clicked, this, [this] { runHandler([this] { OD_Click(); }); });
    connect(Cancel, &QPushButton::clicked, this, [this] { runHandler([this] { Cancel_Click(); }); });
}

void frmTarvic::Form_Load()
{
    lblNoINF->setText(QStringLiteral("Autorun.inf on drive ") + TargetDrive
                      + QStringLiteral(" does not exist or the file does not \r"
                                       "contain the correct information, choose a program to run\r"
                                       " from drive ")
                      + TargetDrive + QStringLiteral("."));
    if (Pellor.DriveStatus(TargetDrive) == 1)
        return;
    if (Pellor.DriveStatus(TargetDrive) == 0)
        return;
    setListFolder(TargetDrive + QStringLiteral("\\"));
}

void frmTarvic::setListFolder(const QString &folder)
{
    const Resolved r = m_paths.resolve(folder);
    if (!r.found || !r.folder)
        throw RuntimeError(Err::PathNotFound, QStringLiteral("Path not found: %1").arg(folder));
    m_listFolder = r.native;
}

void frmTarvic::escapePressed()
{
    Cancel->click();
}

void frmTarvic::EXElist_Click()
{
    Run->setEnabled(true);
    EOR->setEnabled(true);
}

void frmTarvic::Run_Click()
{
    m_paths.ChDir(TargetDrive);
    m_paths.ChDrive(TargetDrive);
    const QString name = EXElist->currentItem() ? EXElist->currentItem()->text() : QString();
    if (Pellor.FileExists(name)) {
        m_starter.start(name, WindowStyle::Minimised);
        if (EOR->isChecked())
            unload();
    } else {
        m_boxes.show(QStringLiteral("Could not run the program '") + name + QStringLiteral("'"), Mb::Critical,
                     QStringLiteral("Run Error"));
    }
}

void frmTarvic::OD_Click()
{
    m_starter.start(QStringLiteral("explorer ") + TargetDrive, WindowStyle::Normal);
}

void frmTarvic::Cancel_Click()
{
    unload();
}

} // namespace tarvic
