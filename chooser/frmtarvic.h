#pragma once

#include "components/ini_tool.h"
#include "components/pellor.h"
#include "platform/form.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tarvic {

class MessageBoxes;
class ProgramStarter;

// The chooser window: lists the programs of the disc and runs the chosen one. It
// also hosts the drive services and the INI reader that the start-up asks.
class frmTarvic : public Form
{
    Q_OBJECT
public:
    frmTarvic(const QString &TargetDrive, DrivePaths &paths, ProgramStarter &starter, MessageBoxes &boxes);

    tarvic::Pellor Pellor;
    tarvic::INITool getAutorun;

    QLabel *lblNoINF;
    QPushButton *Run;
    QPushButton *Cancel;
    QPushButton *OD;
    QCheckBox *EOR;
    QListWidget *EXElist;
    QLabel *EXEIcon;

    // The folder the list shows, as a native path.
    QByteArray listFolder() const { return m_listFolder; }

protected:
    void Form_Load() override;
    void escapePressed() override;

private:
    void setListFolder(const QString &folder);

    void EXElist_Click();
    void Run_Click();
    void OD_Click();
    void Cancel_Click();

    const QString &TargetDrive;
    DrivePaths &m_paths;
    ProgramStarter &m_starter;
    MessageBoxes &m_boxes;
    QByteArray m_listFolder;
};

} // namespace tarvic
