#pragma once

#include "components/ini_tool.h"
#include "components/pellor.h"
#include "ui/form.h"

#include <QPixmap>

class QCheckBox;
class QLabel;
class QPushButton;

namespace tarvic {

class CaptionLabel;
class FileListBox;
class MessageBoxes;
class ProgramStarter;
class Twips;

// The controls hosted on the chooser window that draw nothing. The start-up asks
// them long before it knows whether it needs the window, so they exist without it.
struct frmTarvicControls
{
    explicit frmTarvicControls(DrivePaths &paths) : Pellor(paths), getAutorun(paths) {}
    tarvic::Pellor Pellor;
    tarvic::INITool getAutorun;
};

// The chooser window: lists the programs of the disc and runs the chosen one. It
// also hosts the drive services and the INI reader that the start-up asks.
class frmTarvic : public Form
{
    Q_OBJECT
public:
    frmTarvic(const QString &TargetDrive, frmTarvicControls &controls, DrivePaths &paths, ProgramStarter &starter,
              MessageBoxes &boxes);

    tarvic::Pellor &Pellor;
    tarvic::INITool &getAutorun;

    // lblNoINF->text() is the caption exactly as set, carriage returns included.
    CaptionLabel *lblNoINF;
    QPushButton *Run;
    QPushButton *Cancel;
    QPushButton *OD;
    QCheckBox *EOR;
    FileListBox *EXElist;
    QLabel *EXEIcon;

    // The folder the list shows, as a native path.
    QByteArray listFolder() const;
    // Pixels per twip of the current layout, by the rule of every window (Twips).
    double pixelsPerTwip() const { return m_pixelsPerTwip; }

    // The first showing points the list at the drive's root when the drive holds a
    // disc, whatever folder the list showed at load; a failure there (RuntimeError)
    // reaches the caller of show() and the window stays hidden.
    void setVisible(bool visible) override;

protected:
    void Form_Load() override;
    void escapePressed() override;
    void changeEvent(QEvent *event) override;

private:
    void setListFolder(const QString &folder);
    void arrange();
    void placeIcon();

    void EXElist_Click();
    void Run_Click();
    void OD_Click();
    void Cancel_Click();

    // The start-up's own variable, not a copy: the window may be created before
    // the drive is known, and must see it once it is.
    const QString &TargetDrive;
    DrivePaths &m_paths;
    ProgramStarter &m_starter;
    MessageBoxes &m_boxes;
    QPixmap m_picture;
    double m_pixelsPerTwip = 1.0 / 15;
    bool m_arranged = false;
    bool m_shown = false;
    bool m_listOnDrive = false;
};

} // namespace tarvic
