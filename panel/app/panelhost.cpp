// The program's link host and settings dialog.
#include "panelhost.h"

#include "frmconnect.h"
#include "frmhublink.h"
#include "hublinkcore.h"
#include "qtdialogs.h"

#include <QApplication>
#include <QRadioButton>

namespace exel {

namespace {
class HublinkHost : public LinkHost {
public:
    HublinkHost(SettingsStore &settings, Dialogs &dialogs, Clock &clock, QWidget *parent)
        : m_form(new frmHublink(settings, dialogs, clock, parent))
    {
    }
    ~HublinkHost() override
    {
        // The link window is never unloaded under one of the link's own
        // waits (a command, a dial, a hang-up): it leaves its parent and goes
        // once the link has returned.
        if (m_form->link().isCPUBusy()) {
            frmHublink *form = m_form;
            form->setParent(nullptr);
            form->link().whenIdle([form] { delete form; });
            return;
        }
        delete m_form;
    }
    Hublink &link() override { return m_form->link(); }
    bool simulator() const override { return m_form->link().simulator(); }
    void setStateListener(std::function<void()> listener) override
    {
        QObject::disconnect(m_listening);
        if (listener)
            m_listening = QObject::connect(&m_form->link(), &HublinkCore::offlineChanged, m_form,
                [listener = std::move(listener)](bool) { listener(); });
    }

private:
    frmHublink *m_form;
    QMetaObject::Connection m_listening;
};

// What the main window's current link reported when its port would not open.
QString portProblemOf(QWidget *parent)
{
    auto *form = qobject_cast<XelForm *>(parent);
    if (!form)
        return {};
    const auto *core = dynamic_cast<const HublinkCore *>(&form->link());
    if (!core || !core->isComError())
        return {};
    return core->openProblem();
}
} // namespace

void initPanelApplication(QtDialogs &dialogs, const QString &version)
{
    QApplication::setApplicationName(QStringLiteral("velmor_xel"));
    QApplication::setApplicationVersion(version);
    dialogs.setDefaultTitle(XelForm::kAppTitle);
}

QString portProblemHint(const QString &problem)
{
    if (problem.trimmed().isEmpty())
        return {};
    return problem.trimmed()
        + QStringLiteral("\nThe panel is not connected to a controller. Choose the port the controller is cabled to,"
                         " or Simulator to try the panel without one.");
}

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
        const QString hint = portProblemHint(portProblemOf(parent));
        if (!hint.isEmpty()) {
            dlg.setPortProblem(hint);
            dlg.CommSelect[4]->setFocus();
        }
        dlg.exec();
        return CommSettingsForm::settingsChanged;
    };
}

} // namespace exel
