#pragma once

#include <QString>

namespace tarvic {

// The number and text with which the open-file dialog reports its Cancel button.
constexpr int CancelSelected = 32755;

// The open-file dialog: one instance keeps its title, filter and last file.
class FilePicker
{
public:
    virtual ~FilePicker() = default;
    // The title of every later showing.
    virtual void setDialogTitle(const QString &title) = 0;
    // Shows the modal dialog. Throws RuntimeError(CancelSelected, "Cancel was
    // selected.") when the user chooses nothing; FileName() is then unchanged.
    virtual void ShowOpen() = 0;
    // The full path of the file chosen last; empty before the first choice.
    virtual QString FileName() const = 0;
};

// Option bits of BrowseForFolder, after the classic folder browser's flags that
// callers of this interface know: 1 returns only folders that really exist on a
// file system, 16 offers an edit box in which a path can be typed.
namespace FolderOptions {
constexpr short OnlyRealFolders = 1;
constexpr short EditBox = 16;
}

// The folder picker: the chosen folder's path, or the empty string for none.
class FolderPicker
{
public:
    virtual ~FolderPicker() = default;
    // Shows Desc as its prompt; `options` is a set of FolderOptions bits, and bits
    // it does not know are ignored.
    virtual QString BrowseForFolder(const QString &Desc, short options) = 0;
};

} // namespace tarvic
