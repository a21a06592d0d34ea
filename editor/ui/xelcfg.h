// XelCfg: the configuration editor's main window. Index tabs over the
// controllers, levels, sources, destinations and name sets, each edited in a
// grid and applied or cancelled per page; the File and Help menus.
#pragma once

#include "xelcfggridpage.h"
#include "xelcfgloadutilities.h"

#include <QMainWindow>

class QAction;
class QPushButton;
class QSqlQueryModel;
class QTabWidget;
class QTableView;

namespace exel {

class Dialogs;
class SettingsStore;
class Thermo;

class XelCfg : public QMainWindow {
    Q_OBJECT
public:
    enum Page { PageControllers, PageLevels, PageSources, PageDestinations, PageNameSets };

    XelCfg(XelCfgDb &db, Dialogs &dialogs, SettingsStore &settings, QWidget *parent = nullptr);
    ~XelCfg() override;

    static QString applicationTitle() { return QStringLiteral("XelCfg"); }

    // Start-up: the stored configuration or the default database, then the grids.
    void startUp();
    // Re-reads every grid from the database.
    void refreshAll();
    void updateCaption();

    XelCfgGridPage *page(Page p) const { return m_pages[p]; }
    QTabWidget *tabs() const { return m_tabs; }
    Thermo *thermo() const { return m_thermo; }

    // Menu commands (also used by tests).
    void mnuFileNew_Click();
    void mnuFileOpen_Click();
    void mnuFileSave_Click();
    void mnuFileLDC_Click();
    void mnuHelpContents_Click();
    void mnuHelpAbout_Click();
    // Name-set members.
    void btnAdd_Click();
    void btnDelete_Click();

    // Checks made when a page is left (pending changes, level order) and
    // entered (controllers before levels). False keeps the user where he is.
    // checkOrder false: only pending changes (closing the program).
    bool leavePageCheck(int page, bool checkOrder = true);
    bool enterPageCheck(int page);
    // Switches page through both checks; false when a check refused.
    bool showPage(int page);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildGridPage(
        Page p, GridKind kind, const QString &gridName, const QString &applyName, const QString &cancelName);
    QWidget *buildNameSetPage();
    void buildMenus();
    void configureView(QTableView *view, XelCfgGridPage *page);
    void refreshMembers();
    qint64 selectedNameSetId() const;
    bool applyPage(int page);
    // Before the database is replaced or the editor closes: offers to apply
    // the page and to save applied work to a file. False: the user cancelled
    // (or the save did not happen), so nothing must be replaced.
    bool keepWork();
    // Applies the current page and exports through the file dialog; true when
    // a file was written.
    bool saveConfiguration();
    void showControllersUnlessEntered();
    bool checkLevelOrder();
    void onCurrentChanged(int index);

    XelCfgDb &m_db;
    Dialogs &m_dialogs;
    SettingsStore &m_settings;
    Thermo *m_thermo;
    XelCfgLoadUtilities m_io;
    QTabWidget *m_tabs;
    XelCfgGridPage *m_pages[5] = {};
    QTableView *m_views[5] = {};
    QTableView *m_dbgNameSet = nullptr;
    QTableView *m_dbgNSSources = nullptr;
    QTableView *m_dbgNSDestinations = nullptr;
    QSqlQueryModel *m_members = nullptr;
    QSqlQueryModel *m_sources = nullptr;
    QSqlQueryModel *m_destinations = nullptr;
    int m_currentPage = 0;
    bool m_switching = false;
};

} // namespace exel
