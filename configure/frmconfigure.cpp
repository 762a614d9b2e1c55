#include "configure/frmconfigure.h"

#include "configure/pickers.h"
#include "platform/untrapped.h"
#include "settings/settings_store.h"

#include <QLineEdit>
#include <QPushButton>

namespace tarvic {

frmConfigure::frmConfigure(SettingsStore &settings, FilePicker &EXE, FolderPicker &DirDlg)
    : m_settings(settings), EXE(EXE), DirDlg(DirDlg)
{
    setObjectName(QStringLiteral("frmConfigure"));
    setWindowTitle(QStringLiteral("Program Configuration"));
    auto box = [this](const char *name) {
        auto *t = new QLineEdit(this);
        t->setObjectName(QLatin1String(name));
        return t;
    };
    txtEXE = box("txtEXE");
    txtSI = box("txtSI");
    txtAudio = box("txtAudio");
    txtCDSI = box("txtCDSI");
    cmdClose = new QPushButton(QStringLiteral("&Exit"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdClose, &QPushButton::clicked, this, [this] { runHandler([this] { unload(); }); });
}

void frmConfigure::Form_Load()
{
    txtEXE->setText(m_settings.read(Key::VideoDVD));
    txtSI->setText(m_settings.read(Key::DVDSI));
    txtAudio->setText(m_settings.read(Key::AudioCD));
    txtCDSI->setText(m_settings.read(Key::CDSI));
}

void frmConfigure::Form_Unload()
{
    m_settings.write({{Key::VideoDVD, txtEXE->text()},
                      {Key::DVDSI, txtSI->text()},
                      {Key::AudioCD, txtAudio->text()},
                      {Key::CDSI, txtCDSI->text()}});
}

void frmConfigure::escapePressed()
{
    cmdClose->click();
}

} // namespace tarvic
