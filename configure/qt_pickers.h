#pragma once

#include "configure/pickers.h"

namespace tarvic {

// The open-file dialog on the screen.
class QtFilePicker final : public FilePicker
{
public:
    void setDialogTitle(const QString &title) override { m_title = title; }
    void ShowOpen() override;
    QString FileName() const override { return m_fileName; }

private:
    QString m_title = QStringLiteral("Choose a Program");
    QString m_fileName;
};

// The folder picker on the screen.
class QtFolderPicker final : public FolderPicker
{
public:
    QString BrowseForFolder(const QString &Desc, short options) override;
};

} // namespace tarvic
