#pragma once

#include "configure/pickers.h"

#include <QSortFilterProxyModel>
#include <memory>

class QFileDialog;
class QFileInfo;

namespace tarvic {

// The "Application (*.exe)" filter on Linux, where most programs have no
// extension: folders (to move through), files that may be executed, and names
// ending in .exe whatever their case.
class ProgramFilterProxy final : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    static bool isProgramEntry(const QFileInfo &info);

    // Off: every entry passes, as under "All files (*.*)".
    void setProgramsOnly(bool on);
    bool programsOnly() const { return m_programsOnly; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    bool m_programsOnly = true;
};

// The open-file dialog on the screen. A new dialog for each showing, opened on the
// file chosen last.
class QtFilePicker final : public FilePicker
{
public:
    static const QString ApplicationFilter;   // "Application (*.exe)"
    static const QString AllFilesFilter;      // "All files (*.*)"

    void setDialogTitle(const QString &title) override { m_title = title; }
    void ShowOpen() override;
    QString FileName() const override { return m_fileName; }

    // The dialog as ShowOpen shows it, ready to run.
    std::unique_ptr<QFileDialog> makeDialog() const;

private:
    QString m_title = QStringLiteral("Choose a Program");
    QString m_fileName;
};

// The folder picker on the screen: the prompt is the dialog's title.
class QtFolderPicker final : public FolderPicker
{
public:
    QString BrowseForFolder(const QString &Desc, short options) override;

    std::unique_ptr<QFileDialog> makeDialog(const QString &Desc, short options) const;
    // What the dialog's choice gives under the options: "" for none.
    static QString result(const QString &chosen, short options);
};

} // namespace tarvic
