#include "chooser/frmtarvic.h"

#include "chooser/caption_label.h"
#include "chooser/file_list_box.h"
#include "platform/program_starter.h"
#include "platform/runtime_error.h"
#include "ui/message_boxes.h"
#include "ui/twips.h"
#include "ui/untrapped.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace tarvic {

namespace {

// The design, in twips.
struct Place
{
    int left, top, width, height;
};
constexpr int ClientWidth = 4680, ClientHeight = 3360;
constexpr Place LabelPlace{120, 120, 555, 195};
constexpr Place RunPlace{120, 840, 1095, 375};
constexpr Place CancelPlace{120, 1320, 1095, 375};
constexpr Place ODPlace{120, 1800, 1095, 375};
constexpr Place ListPlace{1320, 840, 3255, 2430};
// Drawn 1215 wide, the check box would reach 15 twips into the list; it stops there.
constexpr Place EORPlace{120, 2280, ListPlace.left - 120, 255};
constexpr Place IconPlace{360, 2640, 495, 495};

QRect rectOf(const Twips &t, const Place &p)
{
    return t.rect(p.left, p.top, p.width, p.height);
}

} // namespace

frmTarvic::frmTarvic(const QString &TargetDrive, frmTarvicControls &controls, DrivePaths &paths,
                     ProgramStarter &starter, MessageBoxes &boxes)
    : Pellor(controls.Pellor), getAutorun(controls.getAutorun), TargetDrive(TargetDrive), m_paths(paths),
      m_starter(starter), m_boxes(boxes)
{
    setObjectName(QStringLiteral("frmTarvic"));
    setWindowTitle(QStringLiteral("Tarvic"));

    lblNoINF = new CaptionLabel(QStringLiteral("lblNoINF"), this);
    lblNoINF->setObjectName(QStringLiteral("lblNoINF"));
    Run = new QPushButton(QStringLiteral("&Run"), this);
    Run->setObjectName(QStringLiteral("Run"));
    Run->setEnabled(false);
    Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    Cancel->setObjectName(QStringLiteral("Cancel"));
    OD = new QPushButton(QStringLiteral("&Open drive"), this);
    OD->setObjectName(QStringLiteral("OD"));
    EOR = new QCheckBox(QStringLiteral("&Exit on run"), this);
    EOR->setObjectName(QStringLiteral("EOR"));
    EOR->setEnabled(false);
    EXElist = new FileListBox(this);
    EXElist->setObjectName(QStringLiteral("EXElist"));
    EXEIcon = new QLabel(this);
    EXEIcon->setObjectName(QStringLiteral("EXEIcon"));
    EXEIcon->setFocusPolicy(Qt::NoFocus);

    // Enter goes to the focused button; from anywhere else to Run, the default.
    for (QPushButton *b : {Run, Cancel, OD})
        b->setAutoDefault(true);
    Run->setDefault(true);
    setTabOrder(Run, Cancel);
    setTabOrder(Cancel, OD);
    setTabOrder(OD, EOR);
    setTabOrder(EOR, EXElist);

    // A file list box starts on the process's current directory; one that cannot
    // be read simply shows nothing.
    try {
        EXElist->setFolder(QFile::encodeName(QDir::currentPath()));
    } catch (const RuntimeError &) {
    }

    connect(EXElist, &QListWidget::itemSelectionChanged, this, [this] {
        if (!EXElist->selectedFileName().isEmpty())
            runHandler([this] { EXElist_Click(); });
    });
    connect(Run, &QPushButton::clicked, this, [this] { runHandler([this] { Run_Click(); }); });
    connect(OD, &QPushButton::clicked, this, [this] { runHandler([this] { OD_Click(); }); });
    connect(Cancel, &QPushButton::clicked, this, [this] { runHandler([this] { Cancel_Click(); }); });

}

QByteArray frmTarvic::listFolder() const
{
    return EXElist->folder();
}

void frmTarvic::arrange()
{
    m_arranged = true;
    const Twips t(font());
    m_pixelsPerTwip = t.pixelsPerTwip();
    setFixedSize(t.px(ClientWidth), t.px(ClientHeight));
    Run->setGeometry(rectOf(t, RunPlace));
    Cancel->setGeometry(rectOf(t, CancelPlace));
    OD->setGeometry(rectOf(t, ODPlace));
    EOR->setGeometry(rectOf(t, EORPlace));
    EXElist->setGeometry(rectOf(t, ListPlace));
    // The label grows from its corner to the size of its text.
    lblNoINF->move(t.px(LabelPlace.left), t.px(LabelPlace.top));
    lblNoINF->adjustSize();
    placeIcon();
}

void frmTarvic::placeIcon()
{
    const Twips t(m_pixelsPerTwip);
    if (m_picture.isNull()) {
        EXEIcon->setGeometry(rectOf(t, IconPlace));
        return;
    }
    // The picture is shown unscaled and the box takes its size.
    EXEIcon->setGeometry(QRect(QPoint(t.px(IconPlace.left), t.px(IconPlace.top)),
                               m_picture.deviceIndependentSize().toSize()));
}

void frmTarvic::changeEvent(QEvent *event)
{
    Form::changeEvent(event);
    if (m_arranged && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
        arrange();
}

void frmTarvic::setVisible(bool visible)
{
    if (visible && !m_shown && !isUnloading()) {
        m_shown = true;
        // Laid out only now: on the paths that start a player the window is never
        // shown, and measuring fonts would cost those paths their start-up time.
        arrange();
        // A disc put in during the wait for it was not there at load: list the root
        // now, so the list shows what Run and the icon look for.
        if (!m_listOnDrive) {
            const int status = Pellor.DriveStatus(TargetDrive);
            if (status != 0 && status != 1)
                setListFolder(TargetDrive + QStringLiteral("\\"));
        }
        // Cancel, while Run is disabled.
        for (QWidget *w : {static_cast<QWidget *>(Run), static_cast<QWidget *>(Cancel), static_cast<QWidget *>(OD),
                           static_cast<QWidget *>(EOR), static_cast<QWidget *>(EXElist)}) {
            if (w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
                w->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    Form::setVisible(visible);
}

void frmTarvic::Form_Load()
{
    lblNoINF->setText(QStringLiteral("Autorun.inf on drive ") + TargetDrive
                      + QStringLiteral(" does not exist or the file does not \r"
                                       "contain the correct information, choose a program to run\r"
                                       " from drive ")
                      + TargetDrive + QStringLiteral("."));
    if (m_arranged)
        arrange();
    if (Pellor.DriveStatus(TargetDrive) == 1)
        return;
    if (Pellor.DriveStatus(TargetDrive) == 0)
        return;
    setListFolder(TargetDrive + QStringLiteral("\\"));
}

void frmTarvic::setListFolder(const QString &folder)
{
    const Resolved r = m_paths.resolve(folder);
    // An audio CD has no file system, so its root holds no programs to list.
    if (!r.found && r.drive && m_paths.drives().status(*r.drive) >= 2 && !m_paths.drives().root(*r.drive)) {
        EXElist->clear();
        m_listOnDrive = true;
        return;
    }
    if (!r.found || !r.folder || r.virtualFile)
        throw RuntimeError(Err::PathNotFound, QStringLiteral("Path not found: %1").arg(folder));
    EXElist->setFolder(r.native);
    m_listOnDrive = r.drive.has_value();
}

void frmTarvic::escapePressed()
{
    Cancel->click();
}

void frmTarvic::EXElist_Click()
{
    Run->setEnabled(true);
    EOR->setEnabled(true);
    // The entry's own file: looked up again by the path rules, a name such as
    // "C:\x.exe" or "..\x.exe" would lead to another one.
    const ListedFile *entry = EXElist->selectedFile();
    m_picture = Pellor.FileIcon(entry ? Pellor.fileInCurrentFolder(TargetDrive, entry->raw) : Resolved{});
    EXEIcon->setPixmap(m_picture);
    placeIcon();
}

void frmTarvic::Run_Click()
{
    m_paths.ChDir(TargetDrive);
    m_paths.ChDrive(TargetDrive);
    const ListedFile *entry = EXElist->selectedFile();
    const Resolved file = entry ? Pellor.fileInCurrentFolder(TargetDrive, entry->raw) : Resolved{};
    if (file.found) {
        m_starter.startProgram(file.native, WindowStyle::Minimised);
        if (EOR->isChecked())
            unload();
    } else {
        m_boxes.show(QStringLiteral("Could not run the program '") + EXElist->selectedFileName() + QStringLiteral("'"),
                     Mb::Critical, QStringLiteral("Run Error"));
    }
}

void frmTarvic::OD_Click()
{
    m_starter.start(QStringLiteral("explorer ") + TargetDrive, WindowStyle::Normal);
}

void frmTarvic::Cancel_Click()
{
    unload();
}

} // namespace tarvic
