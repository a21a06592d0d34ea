// Opening the editor's database at start.
#include "xelcfgopen.h"

#include "dialogs.h"
#include "xelcfgdb.h"

namespace exel {

bool openConfigurationDatabase(XelCfgDb &db, Dialogs &dialogs, QString *message)
{
    if (db.Init())
        return true;
    QString text;
    QString title;
    if (db.heldElsewhere()) {
        // A second editor on the same file could store a name the first one
        // stores too, past both editors' uniqueness checks.
        text = QStringLiteral("The configuration database %1 is already open in another editor: %2.\n"
                              "Only one editor at a time can work on a configuration database. "
                              "Close the other editor, then start this one again.")
                   .arg(db.path(), db.holder());
        title = QStringLiteral("Database In Use");
    } else {
        text = QStringLiteral("Unable to open the configuration database ") + db.path() + QLatin1Char('\n')
            + db.lastError();
        title = QStringLiteral("Database Error");
    }
    if (message)
        *message = text;
    // On the terminal too, before the box waits, for an editor started from
    // one or by a script.
    qWarning("xelcfg: %s", qPrintable(text));
    dialogs.message(text, db.heldElsewhere() ? MsgIcon::Exclamation : MsgIcon::Critical, title);
    return false;
}

} // namespace exel
