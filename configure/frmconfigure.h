#pragma once

#include "platform/form.h"

class QLineEdit;
class QPushButton;

namespace tarvic {

class FilePicker;
class FolderPicker;
class SettingsStore;

// The configuration window: the two players and the folders they start in.
class frmConfigure : public Form
{
    Q_OBJECT
public:
    frmConfigure(SettingsStore &settings, FilePicker &EXE, FolderPicker &DirDlg);

    QLineEdit *txtEXE;
    QLineEdit *txtSI;
    QLineEdit *txtAudio;
    QLineEdit *txtCDSI;
    QPushButton *cmdClose;

protected:
    void Form_Load() override;
    void Form_Unload() override;
    void escapePressed() override;

private:
    SettingsStore &m_settings;
    FilePicker &EXE;
    FolderPicker &DirDlg;
};

} // namespace tarvic
