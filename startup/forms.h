#pragma once

#include "chooser/frmtarvic.h"
#include "startup/services.h"

#include <QList>
#include <QObject>
#include <QPointer>

namespace tarvic {

class frmConfigure;

// The two windows, each a single instance that comes into being, loaded, on first
// reference; one whose load fails does not come into being. Tells when the last
// loaded window has been unloaded. The chooser's controls that draw nothing are at
// hand before it: asking them builds no window.
class Forms : public QObject
{
    Q_OBJECT
public:
    Forms(Services &services, const QString &TargetDrive);
    ~Forms() override;

    tarvic::frmTarvicControls &frmTarvicControls() { return m_tarvicControls; }
    tarvic::frmTarvic &frmTarvic();
    tarvic::frmConfigure &frmConfigure();
    bool isTarvicLoaded() const { return !m_tarvic.isNull(); }
    bool isConfigureLoaded() const { return !m_configure.isNull(); }
    bool anyLoaded() const { return isTarvicLoaded() || isConfigureLoaded(); }

    // Unloads the chooser window; nothing happens when it is not loaded.
    void unloadTarvic();

Q_SIGNALS:
    void lastUnloaded();

private:
    void track(Form *form, QPointer<Form> &slot);
    void loadOrDrop(Form *form);

    Services &m_services;
    const QString &m_targetDrive;
    tarvic::frmTarvicControls m_tarvicControls;
    QPointer<Form> m_tarvic;
    QPointer<Form> m_configure;
    QList<QPointer<Form>> m_created;
};

} // namespace tarvic
