#include "configure/frmconfigure.h"

#include "configure/pickers.h"
#include "settings/settings_store.h"
#include "ui/twips.h"
#include "ui/untrapped.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <limits>

namespace tarvic {

namespace {

template<typename W, typename... Args>
W *named(const char *name, Args &&...args)
{
    auto *w = new W(std::forward<Args>(args)...);
    w->setObjectName(QLatin1String(name));
    return w;
}

QLineEdit *textBox(const char *name, QWidget *frame)
{
    auto *t = named<QLineEdit>(name, frame);
    // A text box has no length limit; QLineEdit would cut text at 32767 characters.
    t->setMaxLength(std::numeric_limits<int>::max());
    return t;
}

QPushButton *browseButton(const char *name, QWidget *frame)
{
    auto *b = named<QPushButton>(name, QStringLiteral("..."), frame);
    // With the focus on it, Enter opens its picker instead of closing the window.
    b->setAutoDefault(true);
    return b;
}

} // namespace

frmConfigure::frmConfigure(SettingsStore &settings, FilePicker &EXE, FolderPicker &DirDlg)
    : m_settings(settings), EXE(EXE), DirDlg(DirDlg)
{
    setObjectName(QStringLiteral("frmConfigure"));
    setWindowTitle(QStringLiteral("Program Configuration"));

    fraOpts = named<Frame>("fraOpts", QStringLiteral("Video DVDs"), this);
    lblEXE = named<QLabel>("lblEXE", QStringLiteral("Default &DVD player:"), fraOpts);
    txtEXE = textBox("txtEXE", fraOpts);
    Browse1 = browseButton("Browse1", fraOpts);
    lblSI = named<QLabel>("lblSI", QStringLiteral("&Start in:"), fraOpts);
    txtSI = textBox("txtSI", fraOpts);
    Browse2 = browseButton("Browse2", fraOpts);

    fraAudio = named<Frame>("fraAudio", QStringLiteral("Audio CDs"), this);
    lblCDPlayer = named<QLabel>("lblCDPlayer", QStringLiteral("Default &CD Player:"), fraAudio);
    txtAudio = textBox("txtAudio", fraAudio);
    Browse3 = browseButton("Browse3", fraAudio);
    lblCDSI = named<QLabel>("lblCDSI", QStringLiteral("Start &in:"), fraAudio);
    txtCDSI = textBox("txtCDSI", fraAudio);
    Browse4 = browseButton("Browse4", fraAudio);

    Label1 = named<QLabel>("Label1",
                           QStringLiteral("Choose a program that will be run when a Video DVD or Audio CD is inserted"),
                           this);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    cmdClose = named<QPushButton>("cmdClose", QStringLiteral("&Exit"), this);
    cmdClose->setAutoDefault(true);
    cmdClose->setDefault(true);

    lblEXE->setBuddy(txtEXE);
    lblSI->setBuddy(txtSI);
    lblCDPlayer->setBuddy(txtAudio);
    lblCDSI->setBuddy(txtCDSI);

    QWidget *const order[] = {txtEXE, Browse1, txtSI, Browse2, txtAudio, Browse3, txtCDSI, Browse4, cmdClose};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    txtEXE->setFocus();

    placeControls();

    connect(Browse1, &QPushButton::clicked, this, [this] { runHandler([this] { Browse1_Click(); }); });
    connect(Browse2, &QPushButton::clicked, this, [this] { runHandler([this] { Browse2_Click(); }); });
    connect(Browse3, &QPushButton::clicked, this, [this] { runHandler([this] { Browse3_Click(); }); });
    connect(Browse4, &QPushButton::clicked, this, [this] { runHandler([this] { Browse4_Click(); }); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { runHandler([this] { cmdClose_Click(); }); });
}

void frmConfigure::placeControls()
{
    // Places in twips; inside a frame they count from the frame's outer corner,
    // which is where a frame puts its children's origin.
    const Twips t(font());
    setFixedSize(t.px(4695), t.px(4215));

    // Both frames hold the same rows: a player and its start-in folder.
    const auto placeFrame = [&t](Frame *frame, int top, QLabel *lblPlayer, QLineEdit *txtPlayer,
                                 QPushButton *browsePlayer, QLabel *lblFolder, QLineEdit *txtFolder,
                                 QPushButton *browseFolder) {
        frame->setGeometry(t.rect(120, top, 4455, 1455));
        lblPlayer->move(t.px(120), t.px(240));
        txtPlayer->setGeometry(t.rect(120, 480, 3735, 285));
        browsePlayer->setGeometry(t.rect(3960, 360, 375, 375));
        lblFolder->move(t.px(120), t.px(840));
        txtFolder->setGeometry(t.rect(120, 1080, 3735, 285));
        browseFolder->setGeometry(t.rect(3960, 960, 375, 375));
    };
    placeFrame(fraOpts, 120, lblEXE, txtEXE, Browse1, lblSI, txtSI, Browse2);
    placeFrame(fraAudio, 1680, lblCDPlayer, txtAudio, Browse3, lblCDSI, txtCDSI, Browse4);

    Label1->setGeometry(t.rect(120, 3240, 4500, 435));
    cmdClose->setGeometry(t.rect(1680, 3720, 1215, 375));

    // These labels size themselves to their text.
    for (QLabel *label : {lblEXE, lblSI, lblCDPlayer, lblCDSI})
        label->adjustSize();
}

void frmConfigure::changeEvent(QEvent *event)
{
    Form::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        placeControls();
}

void frmConfigure::Form_Load()
{
    txtEXE->setText(m_settings.read(Key::VideoDVD));
    txtSI->setText(m_settings.read(Key::DVDSI));
    txtAudio->setText(m_settings.read(Key::AudioCD));
    txtCDSI->setText(m_settings.read(Key::CDSI));
    m_loaded = {txtEXE->text(), txtSI->text(), txtAudio->text(), txtCDSI->text()};
}

void frmConfigure::Form_Unload()
{
    // One replacement of the whole file: a failure leaves all four old values, never
    // half a configuration. The texts go as the boxes hold them: QLineEdit keeps
    // line breaks that came by setText or paste, and typing cannot add one. A box
    // the user left as it was saves the file's value read under the save's lock,
    // not the one loaded, which a hand edit or another window may have changed since.
    const auto edited = [this](int i, const QLineEdit *box) -> std::optional<QString> {
        return box->text() != m_loaded.value(i) ? std::optional(box->text()) : std::nullopt;
    };
    m_settings.write({{Key::VideoDVD, edited(0, txtEXE)},
                      {Key::DVDSI, edited(1, txtSI)},
                      {Key::AudioCD, edited(2, txtAudio)},
                      {Key::CDSI, edited(3, txtCDSI)}});
}

void frmConfigure::escapePressed()
{
    cmdClose->click();
}

void frmConfigure::EXEget(QLineEdit *txt, const QString &Desc)
{
    // Every failure of the pick ends it quietly; a cancel arrives as one.
    try {
        EXE.setDialogTitle(Desc);
        EXE.ShowOpen();
        txt->setText(EXE.FileName());
    } catch (...) {
    }
}

void frmConfigure::DIRget(QLineEdit *dir, const QString &Desc)
{
    // 17: only folders that really exist (1), with an edit box to type a path (16).
    const QString folder = DirDlg.BrowseForFolder(Desc, 17);
    static_assert((FolderOptions::OnlyRealFolders | FolderOptions::EditBox) == 17);
    if (!folder.isEmpty())
        dir->setText(folder);
}

void frmConfigure::Browse1_Click()
{
    EXEget(txtEXE, QStringLiteral("Choose a DVD Video Player Application"));
}

void frmConfigure::Browse2_Click()
{
    DIRget(txtSI, QStringLiteral("Choose a folder for the DVD Video player application:"));
}

void frmConfigure::Browse3_Click()
{
    EXEget(txtAudio, QStringLiteral("Choose a CD Audio Player Application"));
}

void frmConfigure::Browse4_Click()
{
    DIRget(txtCDSI, QStringLiteral("Choose a folder for the CD Audio player application:"));
}

void frmConfigure::cmdClose_Click()
{
    unload();
}

} // namespace tarvic
