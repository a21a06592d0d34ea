// velmor_xel: the router control panel.
#include "panelhost.h"
#include "programfolder.h"
#include "qtdialogs.h"
#include "xelform.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    exel::QtDialogs dialogs;
    exel::initPanelApplication(dialogs, QStringLiteral(EXEL_VERSION));
    exel::setDialogs(&dialogs);
    exel::SettingsStore settings;

    exel::PanelEnvironment env;
    env.settings = &settings;
    env.dialogs = &dialogs;
    env.programFolder = exel::programFolder();
    env.linkFactory = exel::hublinkFactory(settings, dialogs);
    env.settingsDialog = exel::communicationsDialog(settings);

    exel::XelForm form(env);
    form.show();
    form.Form_Load();
    const int rc = app.exec();
    exel::setDialogs(nullptr);
    return rc;
}
