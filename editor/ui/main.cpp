// xelcfg: the configuration editor program.
#include "dialogs.h"
#include "helpwindow.h"
#include "qtdialogs.h"
#include "settingsstore.h"
#include "xelcfg.h"
#include "xelcfgdb.h"
#include "xelcfgopen.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("XelCfg"));
    exel::QtDialogs qtDialogs;
    exel::setDialogs(&qtDialogs);
    exel::SettingsStore settings;

    exel::XelCfgDb db(&qtDialogs);
    if (!exel::openConfigurationDatabase(db, qtDialogs))
        return 1;
    exel::XelCfg window(db, qtDialogs, settings);
    window.show();
    window.startUp();
    const int rc = app.exec();
    exel::HelpWindow::closeHelp();
    exel::setDialogs(nullptr);
    return rc;
}
