#include "configure/qt_pickers.h"

#include "platform/runtime_error.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSettings>

namespace tarvic {

namespace {

// QFileDialog keeps its history, sidebar and view in QtProject.conf in the user's
// configuration folder, read when a dialog is made and written when it goes; the
// program has no files there but Halvane.ini. Nothing else here uses QSettings, so
// its per-user folder becomes one that cannot exist: the dialogs start from their
// defaults and keep what they learn for the life of the process only.
void keepDialogHistoryInMemory()
{
    static const bool done = [] {
        const QString nowhere = QStringLiteral("/dev/null/tarvic-keeps-no-dialog-history");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

// ---- the "Application" filter

bool ProgramFilterProxy::isProgramEntry(const QFileInfo &info)
{
    if (info.isDir())
        return true;
    return info.fileName().endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive) || info.isExecutable();
}

void ProgramFilterProxy::setProgramsOnly(bool on)
{
    if (m_programsOnly == on)
        return;
    m_programsOnly = on;
    invalidateFilter();
}

bool ProgramFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (!m_programsOnly)
        return true;
    const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
    if (!files)
        return true;
    return isProgramEntry(files->fileInfo(files->index(sourceRow, 0, sourceParent)));
}

// ---- the open-file dialog

const QString QtFilePicker::ApplicationFilter = QStringLiteral("Application (*.exe)");
const QString QtFilePicker::AllFilesFilter = QStringLiteral("All files (*.*)");

std::unique_ptr<QFileDialog> QtFilePicker::makeDialog() const
{
    keepDialogHistoryInMemory();
    auto dialog = std::make_unique<QFileDialog>(QApplication::activeWindow(), m_title);
    // Our own dialog: the platform's cannot take the proxy that shows programs.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);

    auto *proxy = new ProgramFilterProxy(dialog.get());
    dialog->setProxyModel(proxy);
    dialog->setNameFilters({ApplicationFilter, AllFilesFilter});
    dialog->selectNameFilter(ApplicationFilter);

    // The patterns in the filter texts are for the eye only: "*.exe" would hide
    // programs without an extension and "*.*" every name without a dot. The file
    // model lists everything and the proxy chooses. filterSelected comes after the
    // dialog has handed the new pattern to the model, so it is undone here.
    auto *files = qobject_cast<QFileSystemModel *>(proxy->sourceModel());
    QFileDialog *d = dialog.get();
    const auto applyFilter = [files, proxy](const QString &filter) {
        if (files)
            files->setNameFilters({});
        proxy->setProgramsOnly(filter == ApplicationFilter);
    };
    applyFilter(d->selectedNameFilter());
    QObject::connect(d, &QFileDialog::filterSelected, d, applyFilter);

    if (!m_fileName.isEmpty())
        dialog->selectFile(m_fileName);
    return dialog;
}

void QtFilePicker::ShowOpen()
{
    const std::unique_ptr<QFileDialog> dialog = makeDialog();
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        throw RuntimeError(CancelSelected, QStringLiteral("Cancel was selected."));
    m_fileName = QDir::toNativeSeparators(dialog->selectedFiles().constFirst());
}

// ---- the folder picker

std::unique_ptr<QFileDialog> QtFolderPicker::makeDialog(const QString &Desc, short options) const
{
    keepDialogHistoryInMemory();
    auto dialog = std::make_unique<QFileDialog>(QApplication::activeWindow(), Desc);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (!(options & FolderOptions::EditBox)) {
        // Without the edit box the folder can only be chosen from the tree.
        for (const char *name : {"fileNameEdit", "fileNameLabel"})
            if (auto *w = dialog->findChild<QWidget *>(QLatin1String(name)))
                w->hide();
    }
    return dialog;
}

QString QtFolderPicker::result(const QString &chosen, short options)
{
    if (chosen.isEmpty())
        return {};
    if ((options & FolderOptions::OnlyRealFolders) && !QFileInfo(chosen).isDir())
        return {};
    return QDir::toNativeSeparators(chosen);
}

QString QtFolderPicker::BrowseForFolder(const QString &Desc, short options)
{
    const std::unique_ptr<QFileDialog> dialog = makeDialog(Desc, options);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return result(dialog->selectedFiles().constFirst(), options);
}

} // namespace tarvic
