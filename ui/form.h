#pragma once

#include <QAbstractNativeEventFilter>
#include <QDialog>
#include <QMargins>

namespace tarvic {

// A window with the life of a classic form: loaded once (Form_Load), shown
// modelessly, and unloaded (Form_Unload, then gone) by a button, Esc or its close
// control. Unloading deletes the window later, once control is back in the loop.
class Form : public QDialog, private QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit Form(QWidget *parent = nullptr);

    // Runs Form_Load the first time; failures reach the caller.
    void load();
    // Runs Form_Unload, hides and destroys the window; failures reach the caller.
    void unload();
    bool isUnloading() const { return m_unloading; }

Q_SIGNALS:
    void unloaded();

protected:
    virtual void Form_Load() {}
    virtual void Form_Unload() {}
    // What Esc does; a window with a cancel button presses it.
    virtual void escapePressed();

    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    void setVisible(bool visible) override;
    void reject() override;

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    // Centres the window as far as its frame is known.
    void centre();
    // Centres it again when its frame is other than the one it was centred with.
    void followFrame();
    // The borders that the window manager adds; none while they are not known.
    QMargins frame() const;

    bool m_loaded = false;
    bool m_unloading = false;
    bool m_centred = false;
    QMargins m_centredWith;          // the frame of the last centring
    bool m_frameLookPending = false;
    bool m_iconSet = false;
};

} // namespace tarvic
