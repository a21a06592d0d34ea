// The program's link host and settings dialog.
#include "panelhost.h"

#include "frmconnect.h"
#include "frmhublink.h"

namespace exel {

namespace {
class HublinkHost : public LinkHost {
public:
    HublinkHost(SettingsStore &settings, Dialogs &dialogs, Clock &clock, QWidget *parent)
        : m_form(new frmHublink(settings, dialogs, clock, parent))
    {
    }
    ~HublinkHost() override { delete m_form; }
    Hublink &link() override { return m_form->link(); }
    bool simulator() const override { return m_form->link().simulator(); }

private:
    frmHublink *m_form;
};
} // namespace

LinkFactory hublinkFactory(SettingsStore &settings, Dialogs &dialogs, Clock &clock)
{
    return [&settings, &dialogs, &clock](QWidget *parent) -> std::unique_ptr<LinkHost> {
        return std::make_unique<HublinkHost>(settings, dialogs, clock, parent);
    };
}

SettingsDialogRunner communicationsDialog(SettingsStore &settings)
{
    return [&settings](QWidget *parent) {
        CommSettingsForm::settingsChanged = false;
        FormConfig dlg(settings, parent);
        dlg.exec();
        return CommSettingsForm::settingsChanged;
    };
}

} // namespace exel
