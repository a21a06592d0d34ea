// The main window: tabs and grids, captions, menus and the page checks.
#include "dialogs.h"
#include "helpwindow.h"
#include "programfolder.h"
#include "qtdialogs.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermo.h"
#include "xelcfg.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <gtest/gtest.h>

using namespace exel;

namespace {

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = test::tempHome() + QStringLiteral("/win-%1").arg(++s_serial);
        QDir().mkpath(m_dir);
        m_settings = std::make_unique<SettingsStore>(m_dir);
        m_db = std::make_unique<XelCfgDb>(&m_dialogs, m_dir + "/CFGDB.mdb");
        ASSERT_TRUE(m_db->Init());
        m_win = std::make_unique<XelCfg>(*m_db, m_dialogs, *m_settings);
        m_win->startUp();
    }
    static inline int s_serial = 0;
    QString m_dir;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<XelCfgDb> m_db;
    std::unique_ptr<XelCfg> m_win;
};

TEST_F(Window, tabsGridsAndCaption)
{
    QTabWidget *tabs = m_win->tabs();
    ASSERT_EQ(tabs->count(), 5);
    QStringList captions;
    for (int i = 0; i < 5; ++i)
        captions << tabs->tabText(i);
    EXPECT_EQ(captions.join('|'), "&Controllers|&Levels|&Sources|&Destinations|Name Sets");
    EXPECT_EQ(m_win->windowTitle(), "XelCfg - <Default>");
    for (const char *name : { "dbgController", "dbgLevel", "dbgSource", "dbgDestination", "dbgNameSetList",
             "dbgNameSet", "dbgNSSources", "dbgNSDestinations" })
        EXPECT_NE(m_win->findChild<QTableView *>(name), nullptr) << name;
    for (const char *name : { "btnApplyCtl", "btnCancelCtl", "btnApplyLevel", "btnCancelLevel", "btnApplySource",
             "btnCancelSource", "btnApplyDest", "btnCancelDest", "btnAdd", "btnDelete" })
        EXPECT_NE(m_win->findChild<QPushButton *>(name), nullptr) << name;
    for (const char *name :
        { "mnuFileNew", "mnuFileOpen", "mnuFileSave", "mnuFileLDC", "mnuFileExit", "mnuHelpContents", "mnuHelpAbout" })
        EXPECT_NE(m_win->findChild<QAction *>(name), nullptr) << name;
    QTableView *levels = m_win->findChild<QTableView *>("dbgLevel");
    for (int c = 0; c < 5; ++c)
        EXPECT_TRUE(levels->isColumnHidden(c)) << c;
    EXPECT_FALSE(levels->isColumnHidden(5));
    EXPECT_EQ(levels->model()->rowCount(), 4);
}

TEST_F(Window, fileNew_emptiesAndKeepsLevelsPageClosed)
{
    m_win->showPage(XelCfg::PageLevels);
    ASSERT_EQ(m_win->tabs()->currentIndex(), XelCfg::PageLevels);
    m_win->mnuFileNew_Click();
    EXPECT_EQ(m_win->windowTitle(), "XelCfg - Untitled");
    EXPECT_EQ(m_db->Controllers(), QStringList());
    EXPECT_EQ(m_win->tabs()->currentIndex(), XelCfg::PageControllers);
    EXPECT_EQ(m_dialogs.lastText(), "Controllers must be configured before levels.");
    m_dialogs.clear();
    EXPECT_FALSE(m_win->showPage(XelCfg::PageLevels));
    EXPECT_EQ(m_win->tabs()->currentIndex(), XelCfg::PageControllers);
    EXPECT_EQ(m_dialogs.lastText(), "Controllers must be configured before levels.");
}

TEST_F(Window, leavingAPageWithChanges_asksToApply)
{
    XelCfgGridPage *ctl = m_win->page(XelCfg::PageControllers);
    ASSERT_TRUE(ctl->model()->setData(ctl->model()->index(0, 4), "MAIN"));
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    EXPECT_FALSE(m_win->showPage(XelCfg::PageSources));
    EXPECT_EQ(m_win->tabs()->currentIndex(), XelCfg::PageControllers);
    m_dialogs.queueAnswer(MsgAnswer::Yes);
    EXPECT_TRUE(m_win->showPage(XelCfg::PageSources));
    EXPECT_EQ(m_db->Controllers(), QStringList { "MAIN" });
    // The level page followed the rename.
    EXPECT_EQ(m_win->page(XelCfg::PageLevels)->model()->cell(0, 7), "MAIN");
}

TEST_F(Window, deletedLevel_offersReordering)
{
    ASSERT_TRUE(m_win->showPage(XelCfg::PageLevels));
    XelCfgGridPage *lv = m_win->page(XelCfg::PageLevels);
    ASSERT_TRUE(lv->toggleDelete(1));
    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::No);
    QPushButton *apply = m_win->findChild<QPushButton *>("btnApplyLevel");
    apply->click();
    ASSERT_GE(m_dialogs.count(), 2);
    EXPECT_EQ(m_dialogs.shown()[0].text, "Level Numbers Are Not Consecutive. Perform Automatic Reordering?");
    EXPECT_EQ(m_dialogs.shown()[0].title, "Level Number Ordering");
    EXPECT_EQ(m_dialogs.shown()[1].text, "Level numbers must be consecutive.");
    EXPECT_FALSE(m_db->ValidLevelOrder());
    // Leaving the page asks again; refusing keeps the technician on it.
    m_dialogs.queueAnswer(MsgAnswer::No);
    EXPECT_FALSE(m_win->showPage(XelCfg::PageSources));
    EXPECT_EQ(m_win->tabs()->currentIndex(), XelCfg::PageLevels);
    m_dialogs.queueAnswer(MsgAnswer::Yes);
    EXPECT_TRUE(m_win->showPage(XelCfg::PageSources));
    EXPECT_TRUE(m_db->ValidLevelOrder());
    EXPECT_EQ(m_db->Levels()[1].name, "LEVEL3");
    EXPECT_EQ(m_win->page(XelCfg::PageSources)->model()->columnCount(), 4 + 1 + 3);
}

TEST_F(Window, loadDefaultAsksFirst)
{
    m_win->mnuFileNew_Click();
    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::No);
    m_win->mnuFileLDC_Click();
    EXPECT_EQ(m_dialogs.lastText(), "Are you sure you want to open the default configuration?");
    EXPECT_EQ(m_dialogs.shown()[0].title, "Confirm Load");
    EXPECT_TRUE(m_db->Controllers().isEmpty());
    m_win->mnuFileLDC_Click(); // default answer Yes
    EXPECT_EQ(m_db->Controllers(), QStringList { "CNTRL1" });
    EXPECT_EQ(m_win->windowTitle(), "XelCfg - <Default>");
}

TEST_F(Window, saveAppliesPageThenExportsAndOpenReadsBack)
{
    XelCfgGridPage *ctl = m_win->page(XelCfg::PageControllers);
    ASSERT_TRUE(ctl->model()->setData(ctl->model()->index(0, 4), "STUDIO"));
    const QString path = m_dir + "/STUDIO.CFG";
    m_dialogs.queueFile(path);
    m_dialogs.queueAnswer(MsgAnswer::Ok); // make it the default
    m_win->mnuFileSave_Click();
    EXPECT_TRUE(test::readFile(path).contains("CTL,STUDIO,0,4\r\n"));
    EXPECT_EQ(m_win->windowTitle(), "XelCfg - STUDIO");
    EXPECT_EQ(m_settings->GetSetting(kAppName, kVarsSection, "ConfigFile"), path);

    m_win->mnuFileNew_Click();
    m_dialogs.queueFile(path);
    m_win->mnuFileOpen_Click();
    EXPECT_EQ(m_db->Controllers(), QStringList { "STUDIO" });
    EXPECT_EQ(m_win->windowTitle(), "XelCfg - STUDIO");
    EXPECT_EQ(m_win->thermo()->value(), 100);
    EXPECT_EQ(m_win->thermo()->title(), "Loading SND");
}

TEST_F(Window, nameSetMembers_addAndDelete)
{
    ASSERT_TRUE(m_win->showPage(XelCfg::PageNameSets));
    QTableView *list = m_win->findChild<QTableView *>("dbgNameSetList");
    QTableView *members = m_win->findChild<QTableView *>("dbgNameSet");
    QTableView *sources = m_win->findChild<QTableView *>("dbgNSSources");
    list->setCurrentIndex(list->model()->index(0, 4));
    EXPECT_EQ(members->model()->rowCount(), 32);
    members->selectRow(0);
    m_win->btnDelete_Click();
    EXPECT_EQ(members->model()->rowCount(), 31);
    const qint64 all = m_db->nameSetID("ALL");
    EXPECT_EQ(m_db->nameSetMembers(all, "SRC").size() + m_db->nameSetMembers(all, "DST").size(), 31);
    sources->selectAll();
    m_win->btnAdd_Click();
    EXPECT_EQ(m_db->nameSetMembers(all, "SRC").size(), 16);
}

// Every "#name" link of a help file leads to an anchor of the same file.
QStringList brokenHelpLinks(const QString &html, int *checked = nullptr)
{
    QSet<QString> anchors;
    for (const auto &m : QRegularExpression(QStringLiteral("<a name=\"([^\"]+)\"")).globalMatch(html))
        anchors.insert(m.captured(1));
    QStringList broken;
    for (const auto &m : QRegularExpression(QStringLiteral("href=\"#([^\"]+)\"")).globalMatch(html)) {
        if (checked)
            ++*checked;
        if (!anchors.contains(m.captured(1)))
            broken << m.captured(1);
    }
    return broken;
}

TEST_F(Window, helpContentsOpensTheEditorsHelpAtItsContents)
{
    const QString source = test::sourceDir() + QStringLiteral("/editor/ui/velmorxel.hlp");
    ASSERT_TRUE(QFile::copy(source, programFolder() + QStringLiteral("/velmorxel.hlp"))
        || QFile::exists(programFolder() + QStringLiteral("/velmorxel.hlp")));
    m_win->findChild<QAction *>("mnuHelpContents")->trigger();
    HelpWindow *help = HelpWindow::instance();
    ASSERT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), QStringLiteral("XelCfg Help"));
    EXPECT_EQ(help->browser()->textCursor().position(), 0) << "opened at its contents";
    const QString text = help->browser()->toPlainText();
    for (const char *topic :
        { "Building a configuration step by step", "Making a configuration the panel's default",
            "The configuration file format", "Troubleshooting", "Do you wish this to become the default configuration?",
            "Unable to Save Configuarion File:", "Load Default Configuration" })
        EXPECT_TRUE(text.contains(QLatin1String(topic))) << topic;
    int checked = 0;
    EXPECT_EQ(brokenHelpLinks(QString::fromUtf8(test::readFile(source)), &checked), QStringList());
    EXPECT_EQ(brokenHelpLinks(QString::fromUtf8(
                                  test::readFile(test::sourceDir() + QStringLiteral("/panel/app/help/VelmorXel.hlp"))),
                  &checked),
        QStringList());
    EXPECT_GT(checked, 20) << "the contents links were found";
    EXPECT_EQ(brokenHelpLinks(QStringLiteral("<a href=\"#gone\">x</a><a name=\"here\">")), QStringList { "gone" });

    // Exit closes the help window with the program.
    m_win->show();
    m_win->close();
    QApplication::processEvents();
    EXPECT_FALSE(HelpWindow::instance()->isVisible());
}

// Guards against applied work being lost without a word: the next start
// imports the default configuration over the database again.
TEST_F(Window, exitWithUnsavedWork_asksToSaveFirst)
{
    m_win->show();
    XelCfgGridPage *ctl = m_win->page(XelCfg::PageControllers);
    ASSERT_TRUE(ctl->model()->setData(ctl->model()->index(0, 4), "STUDIO"));
    m_win->findChild<QPushButton *>("btnApplyCtl")->click();
    ASSERT_TRUE(m_db->hasUnsavedChanges());
    const QString question = "The configuration has changes that have not been saved to a file.\nSave them now?";

    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    EXPECT_FALSE(m_win->close());
    ASSERT_EQ(m_dialogs.count(), 1);
    EXPECT_EQ(m_dialogs.lastText(), question);
    EXPECT_EQ(m_dialogs.shown()[0].buttons, MsgButtons::YesNoCancel);
    EXPECT_TRUE(m_win->isVisible());

    // Yes, then Cancel in the save dialog: nothing was saved, so the editor stays.
    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::Yes);
    EXPECT_FALSE(m_win->close());
    EXPECT_TRUE(m_win->isVisible());

    const QString path = m_dir + "/STUDIO.CFG";
    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::Yes);
    m_dialogs.queueFile(path);
    m_dialogs.queueAnswer(MsgAnswer::Cancel); // not the default
    EXPECT_TRUE(m_win->close());
    EXPECT_TRUE(test::readFile(path).contains("CTL,STUDIO,0,4\r\n"));
    EXPECT_FALSE(m_db->hasUnsavedChanges());

    // Saved work, or none at all, closes without a question.
    m_win->show();
    m_dialogs.clear();
    EXPECT_TRUE(m_win->close());
    EXPECT_EQ(m_dialogs.count(), 0);
}

// Guards against New, Open and Load Default replacing applied but unsaved work
// without asking.
TEST_F(Window, replacingTheDatabase_asksToSaveUnsavedWork)
{
    const QString file = m_dir + "/OTHER.CFG";
    ASSERT_TRUE(test::writeFile(file, "CTL,OTHER,1,1\r\n"));
    auto makeWork = [&] {
        m_win->mnuFileLDC_Click();
        XelCfgGridPage *ctl = m_win->page(XelCfg::PageControllers);
        ASSERT_TRUE(ctl->model()->setData(ctl->model()->index(0, 4), "WORK"));
        ASSERT_TRUE(ctl->Apply());
        m_dialogs.clear();
    };
    const QString question = "The configuration has changes that have not been saved to a file.\nSave them now?";

    makeWork();
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    m_win->mnuFileNew_Click();
    EXPECT_EQ(m_dialogs.lastText(), question);
    EXPECT_EQ(m_db->Controllers(), QStringList { "WORK" });

    m_dialogs.clear();
    m_dialogs.queueFile(file);
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    m_win->mnuFileOpen_Click();
    EXPECT_EQ(m_dialogs.lastText(), question);
    EXPECT_EQ(m_db->Controllers(), QStringList { "WORK" });

    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::Yes); // sure to load the default
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    m_win->mnuFileLDC_Click();
    EXPECT_EQ(m_dialogs.lastText(), question);
    EXPECT_EQ(m_db->Controllers(), QStringList { "WORK" });

    // No goes ahead without saving.
    m_dialogs.clear();
    m_dialogs.queueFile(file);
    m_dialogs.queueAnswer(MsgAnswer::No);
    m_win->mnuFileOpen_Click();
    EXPECT_EQ(m_db->Controllers(), QStringList { "OTHER" });
    EXPECT_FALSE(m_db->hasUnsavedChanges());

    // Yes saves first, then replaces.
    makeWork();
    const QString saved = m_dir + "/WORK.CFG";
    m_dialogs.queueAnswer(MsgAnswer::Yes);
    m_dialogs.queueFile(saved);
    m_dialogs.queueAnswer(MsgAnswer::Cancel); // not the default
    m_win->mnuFileNew_Click();
    EXPECT_TRUE(test::readFile(saved).contains("CTL,WORK,0,4\r\n"));
    EXPECT_TRUE(m_db->Controllers().isEmpty());
}

// Guards against File Open, then Cancel in the file dialog, dropping the
// page's unapplied edits.
TEST_F(Window, openThenCancel_changesNothing)
{
    XelCfgGridPage *ctl = m_win->page(XelCfg::PageControllers);
    ASSERT_TRUE(ctl->model()->setData(ctl->model()->index(0, 4), "PENDING"));
    m_dialogs.clear();
    m_win->mnuFileOpen_Click(); // no file queued: the dialog is cancelled
    ASSERT_EQ(m_dialogs.count(), 1);
    EXPECT_EQ(m_dialogs.shown()[0].kind, ScriptedDialogs::Kind::OpenFile);
    EXPECT_EQ(ctl->model()->cell(0, 4), "PENDING");
    EXPECT_TRUE(ctl->model()->hasPendingChanges());
    EXPECT_EQ(m_db->Controllers(), QStringList { "CNTRL1" });
}

// Guards against Save proposing "house.CFG" after "house.cfg" was opened: the
// save dialog gave the name the suffix of its filter's first pattern.
TEST_F(Window, saveProposesTheCurrentPathExactly)
{
    QtDialogs real;
    for (const char *name : { "house.cfg", "Mixed.Cfg", "HOUSE.CFG", "plain.dat", "nosuffix" }) {
        const QString path = m_dir + "/" + QLatin1String(name);
        ASSERT_TRUE(test::writeFile(path, "CTL,HOUSE,1,1\r\n"));
        XelCfgLoadUtilities io(*m_db, m_dialogs, *m_settings);
        ASSERT_TRUE(io.LoadConfigurationFile(path)) << name;
        // Reads what the real dialog proposes, then cancels it.
        QStringList proposed;
        QTimer reader;
        QObject::connect(&reader, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
                    proposed = dialog->selectedFiles();
                    dialog->reject();
                }
        });
        reader.start(10);
        EXPECT_EQ(real.saveFileName(io.saveRequest()), QString()) << name;
        reader.stop();
        EXPECT_EQ(proposed.join('|').toStdString(), path.toStdString());
    }
}

// Guards against the name-set buttons reading "<< &Add" and "&Delete >>".
TEST_F(Window, nameSetButtons_captions)
{
    EXPECT_EQ(m_win->findChild<QPushButton *>("btnAdd")->text(), "&Add");
    EXPECT_EQ(m_win->findChild<QPushButton *>("btnDelete")->text(), "&Delete");
}

} // namespace
