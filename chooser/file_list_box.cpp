#include "chooser/file_list_box.h"

#include "platform/drive_paths.h"
#include "platform/runtime_error.h"

#include <QFile>
#include <QKeyEvent>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <memory>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvic {

namespace {

bool matchesPattern(const char *name, size_t length)
{
    // "*.exe" without regard to case; a leading dot hides the file anyway.
    if (length < 5 || name[0] == '.')
        return false;
    const char *ext = name + length - 4;
    return ext[0] == '.' && (ext[1] | 0x20) == 'e' && (ext[2] | 0x20) == 'x' && (ext[3] | 0x20) == 'e';
}

// The hidden and system attributes that FAT-like file systems keep. The folder is
// asked once whether it knows them at all, so other file systems cost nothing.
class Attributes
{
public:
    explicit Attributes(int folderFd) : m_folderFd(folderFd) {}

    bool hiddenOrSystem(const char *name)
    {
        if (m_state == Unsupported)
            return false;
        const int fd = ::openat(m_folderFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        __u32 attributes = 0;
        const int rc = ::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes);
        const int err = errno;
        ::close(fd);
        if (rc != 0) {
            if (err == ENOTTY || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP)
                m_state = Unsupported;
            return false;
        }
        return (attributes & (ATTR_HIDDEN | ATTR_SYS)) != 0;
    }

private:
    enum { Unknown, Unsupported } m_state = Unknown;
    int m_folderFd;
};

QString reasonFor(const QByteArray &folder, int err)
{
    return QStringLiteral("%1 (%2)").arg(QFile::decodeName(folder), systemReason(err));
}

} // namespace

FileListBox::FileListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideMiddle);   // the ".exe" stays in sight
    setUniformItemSizes(true);
    setWordWrap(false);
}

QList<ListedFile> FileListBox::programsIn(const QByteArray &folder)
{
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            throw RuntimeError(Err::PermissionDenied, QStringLiteral("Permission denied: ") + reasonFor(folder, err));
        throw RuntimeError(Err::PathNotFound, QStringLiteral("Path not found: ") + reasonFor(folder, err));
    }
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(folderFd), ::closedir);
    if (!dir) {
        const int err = errno;
        ::close(folderFd);
        throw RuntimeError(Err::PathNotFound, QStringLiteral("Path not found: ") + reasonFor(folder, err));
    }

    Attributes attributes(folderFd);
    std::optional<QByteArray> realFolder;   // for links only, found when the first one turns up
    bool realFolderLooked = false;

    struct Entry
    {
        QString key;
        ListedFile file;
    };
    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        const dirent *d = ::readdir(dir.get());
        if (!d) {
            const int err = errno;
            if (err != 0)
                throw RuntimeError(Err::PathNotFound, QStringLiteral("Path not found: ") + reasonFor(folder, err));
            break;
        }
        const size_t length = std::strlen(d->d_name);
        if (!matchesPattern(d->d_name, length))
            continue;
        unsigned char type = d->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {
            if (::fstatat(folderFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_DIR;
        }
        if (type == DT_LNK) {
            // A link counts when it leads to a plain file that stays in the folder's tree.
            if (::fstatat(folderFd, d->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                continue;
            if (!realFolderLooked) {
                realFolder = canonical(folder);
                realFolderLooked = true;
            }
            const std::optional<QByteArray> target = canonical(folder + '/' + QByteArray(d->d_name, qsizetype(length)));
            if (!realFolder || !target || !staysInside(*target, *realFolder))
                continue;
        } else if (type != DT_REG) {
            continue;
        }
        if (attributes.hiddenOrSystem(d->d_name))
            continue;
        const QByteArray raw(d->d_name, qsizetype(length));
        QString name = QFile::decodeName(raw);
        QString key = name.toCaseFolded();
        entries.push_back(Entry{std::move(key), ListedFile{raw, std::move(name)}});
    }

    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.file.raw < b.file.raw;
    });
    QList<ListedFile> files;
    files.reserve(qsizetype(entries.size()));
    for (Entry &e : entries)
        files << std::move(e.file);
    return files;
}

QString FileListBox::displayName(const QString &name)
{
    QString shown = name;
    for (QChar &c : shown) {
        const char16_t u = c.unicode();
        const bool bidi = (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F
            || u == 0x061C;
        const QChar::Category cat = c.category();
        if (bidi || cat == QChar::Other_Control || cat == QChar::Separator_Line || cat == QChar::Separator_Paragraph)
            c = QChar::ReplacementCharacter;
    }
    return shown;
}

void FileListBox::setFolder(const QByteArray &folder)
{
    clear();
    m_files.clear();
    m_folder = folder;
    m_files = programsIn(folder);
    QStringList shown;
    shown.reserve(m_files.size());
    for (const ListedFile &f : std::as_const(m_files))
        shown << displayName(f.name);
    addItems(shown);
}

QString FileListBox::selectedFileName() const
{
    const ListedFile *file = selectedFile();
    return file ? file->name : QString();
}

const ListedFile *FileListBox::selectedFile() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return nullptr;
    const int row = selected.first().row();
    return row >= 0 && row < m_files.size() ? &m_files.at(row) : nullptr;
}

void FileListBox::keyPressEvent(QKeyEvent *event)
{
    // Tabbing in marks an entry without selecting it. As in a Windows list box the
    // first arrow key selects that entry instead of passing over it, and Home, End,
    // Page Up and Page Down select the entry they land on, even the marked one.
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool arrow = key == Qt::Key_Up || key == Qt::Key_Down;
    const bool jump = key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_PageUp || key == Qt::Key_PageDown;
    const QModelIndex current = currentIndex();
    if (plain && arrow && current.isValid() && !selectionModel()->isSelected(current)) {
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
    const QModelIndex landed = currentIndex();
    if (plain && jump && landed.isValid() && !selectionModel()->isSelected(landed))
        selectionModel()->setCurrentIndex(landed, QItemSelectionModel::ClearAndSelect);
}

QItemSelectionModel::SelectionFlags FileListBox::selectionCommand(const QModelIndex &index, const QEvent *event) const
{
    // Once chosen, an entry stays chosen: Ctrl+click or Ctrl+Space only move it.
    const QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
    if (flags & QItemSelectionModel::Deselect)
        return QItemSelectionModel::NoUpdate;
    if (flags & QItemSelectionModel::Toggle)
        return QItemSelectionModel::ClearAndSelect;
    return flags;
}

} // namespace tarvic
