#include "ui/form.h"

#include "ui/program_icon.h"
#include "ui/untrapped.h"

#include <QCloseEvent>
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
}

bool Form::event(QEvent *event)
{
    // A window manager frames the window only once it is on the screen; as soon as
    // the frame is known, the window is centred again, title bar and all.
    const QEvent::Type type = event->type();
    const bool placedOrDrawn = type == QEvent::Move || type == QEvent::Resize || type == QEvent::Paint
                               || type == QEvent::WindowActivate;
    if (m_centred && !m_centredWithFrame && placedOrDrawn && !frame().isNull()) {
        m_centredWithFrame = true;
        centre();
    }
    return QDialog::event(event);
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
    QRect whole(QPoint(), size().grownBy(borders));
    whole.moveCenter(screen->availableGeometry().center());
    // The window itself is placed, not its frame: managers agree on where a window
    // goes, less so on where a frame asked for goes.
    window->setPosition(whole.topLeft() + QPoint(borders.left(), borders.top()));
}

} // namespace tarvic
