#pragma once

#include "ui/form.h"
#include "ui/frame.h"

#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvic {

class FilePicker;
class FolderPicker;
class SettingsStore;

// The configuration window: the two players and the folders they start in. The
// four boxes are the working copy of the settings; closing the window in any way
// saves them: a box whose text differs from what it showed at load with its text,
// any other with what the file holds at the save, so that changes made meanwhile
// by hand or by another window stay.
class frmConfigure : public Form
{
    Q_OBJECT
public:
    frmConfigure(SettingsStore &settings, FilePicker &EXE, FolderPicker &DirDlg);

    Frame *fraOpts;
    QLabel *lblEXE;
    QLineEdit *txtEXE;
    QPushButton *Browse1;
    QLabel *lblSI;
    QLineEdit *txtSI;
    QPushButton *Browse2;
    Frame *fraAudio;
    QLabel *lblCDPlayer;
    QLineEdit *txtAudio;
    QPushButton *Browse3;
    QLabel *lblCDSI;
    QLineEdit *txtCDSI;
    QPushButton *Browse4;
    QLabel *Label1;
    QPushButton *cmdClose;

protected:
    void Form_Load() override;
    void Form_Unload() override;
    void escapePressed() override;
    void changeEvent(QEvent *event) override;

private:
    void placeControls();

    void EXEget(QLineEdit *txt, const QString &Desc);
    void DIRget(QLineEdit *dir, const QString &Desc);

    void Browse1_Click();
    void Browse2_Click();
    void Browse3_Click();
    void Browse4_Click();
    void cmdClose_Click();

    SettingsStore &m_settings;
    QStringList m_loaded;   // the four texts as Form_Load showed them
    FilePicker &EXE;
    FolderPicker &DirDlg;
};

} // namespace tarvic
