#pragma once

#include <QByteArray>
#include <QList>
#include <QListWidget>
#include <QString>

namespace tarvic {

// One file that a FileListBox shows.
struct ListedFile
{
    QByteArray raw;     // the name as the folder holds it
    QString name;       // decoded, for the eye: names that are no UTF-8 may look alike
};

// A list of the program files ("*.exe", any case) of one folder, like the classic
// file list box: plain files only, hidden and system files left out, sorted by
// name without regard to case, at most one entry selected.
class FileListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit FileListBox(QWidget *parent = nullptr);

    // Reads the folder (a native path) and shows its programs, nothing selected.
    // Throws RuntimeError when the folder cannot be read; the list is then empty.
    void setFolder(const QByteArray &folder);
    const QByteArray &folder() const { return m_folder; }

    // The bare name of the selected entry; empty when none is selected.
    QString selectedFileName() const;
    // The selected entry; none when none is selected.
    const ListedFile *selectedFile() const;

    // The programs of a folder in list order; the work behind setFolder.
    static QList<ListedFile> programsIn(const QByteArray &folder);
    // How a name is shown: characters that would break the line or reorder the
    // text are replaced, so every name reads as one plain line.
    static QString displayName(const QString &name);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event = nullptr) const override;

private:
    QByteArray m_folder;
    QList<ListedFile> m_files;   // in row order
};

} // namespace tarvic
