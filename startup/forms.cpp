#include "startup/forms.h"

#include "chooser/frmtarvic.h"
#include "configure/frmconfigure.h"
#include "platform/drive_paths.h"
#include "ui/gui.h"

namespace tarvic {

Forms::Forms(Services &services, const QString &TargetDrive)
    : m_services(services), m_targetDrive(TargetDrive), m_tarvicControls(services.paths)
{
}

Forms::~Forms()
{
    // Windows unloaded while no event loop ran are still waiting for deletion.
    for (const QPointer<Form> &f : std::as_const(m_created))
        delete f.data();
}

void Forms::track(Form *form, QPointer<Form> &slot)
{
    slot = form;
    m_created << form;
    connect(form, &Form::unloaded, this, [this, &slot] {
        slot.clear();
        if (!anyLoaded())
            Q_EMIT lastUnloaded();
    });
}

frmTarvic &Forms::frmTarvic()
{
    if (!m_tarvic) {
        needGui();
        auto *f = new tarvic::frmTarvic(m_targetDrive, m_tarvicControls, m_services.paths, m_services.starter,
                                        m_services.boxes);
        track(f, m_tarvic);
        loadOrDrop(f);
    }
    return static_cast<tarvic::frmTarvic &>(*m_tarvic);
}

frmConfigure &Forms::frmConfigure()
{
    if (!m_configure) {
        needGui();
        auto *f = new tarvic::frmConfigure(m_services.settings, m_services.filePicker, m_services.folderPicker);
        track(f, m_configure);
        loadOrDrop(f);
    }
    return static_cast<tarvic::frmConfigure &>(*m_configure);
}

void Forms::loadOrDrop(Form *form)
{
    // A window whose load failed is gone: left loaded and never shown, it would
    // keep the process alive with nothing on the screen.
    try {
        form->load();
    } catch (...) {
        delete form;
        throw;
    }
}

void Forms::unloadTarvic()
{
    if (m_tarvic)
        m_tarvic->unload();
}

} // namespace tarvic
