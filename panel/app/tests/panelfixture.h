// A main window under test: its own settings folder and program folder,
// dialogs answered by script and a link chosen by the test.
#pragma once

#include "testsupport.h"
#include "xelform.h"

#include <QDir>
#include <QPushButton>

#include <memory>

namespace exel::test {

// A fresh folder below the per-process temporary home.
inline QString freshFolder(const QString &stem)
{
    static int n = 0;
    const QString dir = tempHome() + QStringLiteral("/%1-%2").arg(stem).arg(++n);
    QDir().mkpath(dir);
    return dir;
}

// Writes a configuration file (CR LF lines) and returns its path.
inline QString writeConfig(const QString &folder, const QString &name, const QStringList &lines)
{
    const QString path = folder + QLatin1Char('/') + name;
    writeFile(path, (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());
    return path;
}

// A link host over a link the test owns; simulator on request.
class BorrowedLinkHost : public LinkHost {
public:
    BorrowedLinkHost(Hublink &link, bool simulator)
        : m_link(link)
        , m_simulator(simulator)
    {
    }
    Hublink &link() override { return m_link; }
    bool simulator() const override { return m_simulator; }

private:
    Hublink &m_link;
    bool m_simulator;
};

struct PanelUnderTest {
    std::unique_ptr<SettingsStore> settings;
    ScriptedDialogs dialogs;
    QString folder;
    int linkLoads = 0; // link windows created
    int settingsDialogs = 0; // communication settings dialogs shown
    bool settingsDialogAnswer = false;
    std::unique_ptr<XelForm> form;

    // link: the link every link window hands out (null: the factory must be set by the caller).
    explicit PanelUnderTest(Hublink *link, bool simulator = false)
        : settings(std::make_unique<SettingsStore>(freshFolder(QStringLiteral("cfg"))))
        , folder(freshFolder(QStringLiteral("prog")))
        , m_link(link)
        , m_simulator(simulator)
    {
    }

    PanelEnvironment environment()
    {
        PanelEnvironment env;
        env.settings = settings.get();
        env.dialogs = &dialogs;
        env.programFolder = folder;
        env.showSplash = false;
        env.linkFactory = [this](QWidget *) -> std::unique_ptr<LinkHost> {
            ++linkLoads;
            return std::make_unique<BorrowedLinkHost>(*m_link, m_simulator);
        };
        env.settingsDialog = [this](QWidget *) {
            ++settingsDialogs;
            return settingsDialogAnswer;
        };
        return env;
    }

    XelForm &start(PanelEnvironment env)
    {
        form = std::make_unique<XelForm>(std::move(env));
        form->Form_Load();
        return *form;
    }
    XelForm &start() { return start(environment()); }

    void setting(const QString &key, const QString &value)
    {
        settings->SaveSetting(kAppName, kVarsSection, key, value);
    }
    QString setting(const QString &key) const { return settings->GetSetting(kAppName, kVarsSection, key); }

    QStringList destinationCaptions() const
    {
        QStringList out;
        for (int i = 0; i < 16; ++i)
            out << form->destinationKey(i)->text();
        return out;
    }

private:
    Hublink *m_link;
    bool m_simulator;
};

} // namespace exel::test
