#pragma once

#include <QString>

namespace tarvic {

// The open-file dialog: one instance keeps its title, filter and last file.
class FilePicker
{
public:
    virtual ~FilePicker() = default;
    virtual void setDialogTitle(const QString &title) = 0;
    // Shows the modal dialog; throws RuntimeError when the user cancels.
    virtual void ShowOpen() = 0;
    virtual QString FileName() const = 0;
};

// The folder picker: the chosen folder's path, or the empty string for none.
class FolderPicker
{
public:
    virtual ~FolderPicker() = default;
    virtual QString BrowseForFolder(const QString &Desc, short options) = 0;
};

} // namespace tarvic
