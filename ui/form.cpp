#include "ui/form.h"

#include "ui/program_icon.h"
#include "ui/untrapped.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace tarvic {

Form::Form(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(false);
}

void Form::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    Form_Load();
}

void Form::unload()
{
    if (m_unloading)
        return;
    m_unloading = true;
    Form_Unload();
    hide();
    Q_EMIT unloaded();
    deleteLater();
}

void Form::escapePressed()
{
    unload();
}

void Form::reject()
{
    runHandler([this] { escapePressed(); });
}

void Form::closeEvent(QCloseEvent *event)
{
    // The window's own close control unloads it; unload() hides it itself.
    event->ignore();
    if (!m_unloading)
        runHandler([this] { unload(); });
}

void Form::setVisible(bool visible)
{
    // Set at first showing: reading the icon loads image plugins, which the paths
    // that never show a window should not pay for.
    if (visible && !m_iconSet) {
        m_iconSet = true;
        setWindowIcon(programIcon());
    }
    QDialog::setVisible(visible);
}

void Form::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    centre();
    // The frame is told by the window manager's messages, which Qt takes in without an
    // event of its own; they are watched from now on.
    QCoreApplication::instance()->installNativeEventFilter(this);
}

bool Form::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    // The X11 protocol's codes of the messages that follow a frame: the window put
    // into it (ReparentNotify), moved in it (ConfigureNotify), its extents told
    // (PropertyNotify of _NET_FRAME_EXTENTS). Looked at once Qt has taken them in.
    constexpr quint8 ReparentNotify = 21, ConfigureNotify = 22, PropertyNotify = 28;
    if (eventType != "xcb_generic_event_t" || m_frameLookPending)
        return false;
    const quint8 code = *static_cast<const quint8 *>(message) & 0x7f;
    if (code == ReparentNotify || code == ConfigureNotify || code == PropertyNotify) {
        m_frameLookPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_frameLookPending = false;
                followFrame();
            },
            Qt::QueuedConnection);
    }
    return false;
}

bool Form::event(QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Paint || type == QEvent::WindowActivate)
        followFrame();
    return QDialog::event(event);
}

void Form::followFrame()
{
    // A window manager frames the window only once it is on the screen, and on the way
    // the frame may read as what it is not yet (the window put into its frame, not yet
    // moved to its place there): whenever the frame reads otherwise than at the last
    // centring, the window is centred again, title bar and all. Moving the window
    // leaves its frame as it is, so a window the user moved stays where it was put.
    if (!m_centred || m_unloading)
        return;
    const QMargins now = frame();
    if (!now.isNull() && now != m_centredWith)
        centre();
}

QMargins Form::frame() const
{
    // While the manager reparents the window its frame may read as nonsense; a frame
    // counts once its borders are plausible.
    const QWindow *window = windowHandle();
    const QMargins m = window ? window->frameMargins() : QMargins();
    const bool plausible = m.left() >= 0 && m.top() >= 0 && m.right() >= 0 && m.bottom() >= 0 && m.left() < 100
                           && m.top() < 200 && m.right() < 100 && m.bottom() < 100;
    return plausible ? m : QMargins();
}

void Form::centre()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    QWindow *window = windowHandle();
    if (!screen || !window)
        return;
    const QMargins borders = frame();
    m_centredWith = borders;
    QRect whole(QPoint(), size().grownBy(borders));
    whole.moveCenter(screen->availableGeometry().center());
    // The window itself is placed, not its frame: managers agree on where a window
    // goes, less so on where a frame asked for goes.
    window->setPosition(whole.topLeft() + QPoint(borders.left(), borders.top()));
}

} // namespace tarvic
