#include "configure/qt_pickers.h"

#include "platform/runtime_error.h"

#include <QFileDialog>

namespace tarvic {

void QtFilePicker::ShowOpen()
{
    QFileDialog dialog(nullptr, m_title);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Application (*.exe)"), QStringLiteral("All files (*)")});
    if (!m_fileName.isEmpty())
        dialog.selectFile(m_fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        throw RuntimeError(32755, QStringLiteral("Cancel was selected."));
    m_fileName = dialog.selectedFiles().constFirst();
}

QString QtFolderPicker::BrowseForFolder(const QString &Desc, short)
{
    return QFileDialog::getExistingDirectory(nullptr, Desc);
}

} // namespace tarvic
