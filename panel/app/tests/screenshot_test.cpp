// Pictures of the main window at its default size, with the default system
// and with the demonstration house router, saved beside the test program
// (screenshots/*.png) for a person to look at; and the checks a person would
// make first: every key caption fits its key, nothing lies outside the window.
#include "fakehublink.h"
#include "frmabout.h"
#include "frmpreset.h"
#include "helpwindow.h"
#include "panelfixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

using namespace exel;
using exel::testing::FakeHublink;

namespace {

QString shotPath(const QString &name)
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + name;
}

void expectReadable(XelForm &f)
{
    auto fits = [](QPushButton *b) {
        const int room = b->width() - 8; // the style's frame and padding
        return b->fontMetrics().horizontalAdvance(b->text()) <= room;
    };
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(fits(f.destinationKey(i))) << f.destinationKey(i)->text().toStdString();
        EXPECT_TRUE(fits(f.sourceKey(i))) << f.sourceKey(i)->text().toStdString();
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(fits(f.levelKey(i))) << f.levelKey(i)->text().toStdString();
    for (QWidget *w : f.findChildren<QWidget *>()) {
        if (!w->isVisible() || w->isWindow())
            continue;
        const QRect r(w->mapTo(&f, QPoint(0, 0)), w->size());
        EXPECT_TRUE(f.rect().contains(r)) << w->objectName().toStdString() << " lies outside the window";
    }
}

void showAndGrab(XelForm &f, const QString &file)
{
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    QApplication::processEvents();
    const QPixmap shot = f.grab();
    EXPECT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(shotPath(file)));
}

} // namespace

TEST(Screenshots, defaultSystem)
{
    FakeHublink link;
    test::PanelUnderTest p(&link);
    XelForm &f = p.start();
    showAndGrab(f, QStringLiteral("panel-default.png"));
    expectReadable(f);
}

TEST(Screenshots, houseRouterWithSelectionsAndStatus)
{
    FakeHublink link;
    test::PanelUnderTest p(&link);
    p.setting(QStringLiteral("ConfigFile"), test::sourceDir() + QStringLiteral("/panel/app/demo/house.cfg"));
    XelForm &f = p.start();
    ASSERT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();
    ASSERT_EQ(f.systemCombo()->currentText(), QStringLiteral("STUDIO-A"));
    // Some live routes, a flagged one and a lock, as an operator would see them.
    link.setReportedLevels(1, 3);
    link.setReportedLevels(2, 1);
    for (int16_t out = 0; out < 8; ++out)
        for (int16_t lev = 0; lev < 2; ++lev)
            link.setCrosspoint(1, out, lev, out, lev == 1 && out == 2);
    f.destinationKey(1)->click();
    f.Timer1_Timer();
    f.model().SetLocked(f.model().FindDestination(QStringLiteral("STA-MON2")), true);
    f.UpdateAllStatus();
    showAndGrab(f, QStringLiteral("panel-house.png"));
    expectReadable(f);
    EXPECT_EQ(f.statusSource(0)->text(), QStringLiteral("CAM1"));

    // The widest name set, and the window made small and large again.
    f.cmbSystem_Click(f.systemCombo()->findText(QStringLiteral("ALL")));
    f.Timer2_Timer();
    showAndGrab(f, QStringLiteral("panel-house-all.png"));
    expectReadable(f);
    f.resize(f.minimumSizeHint());
    showAndGrab(f, QStringLiteral("panel-house-small.png"));
    f.resize(1600, 1000);
    showAndGrab(f, QStringLiteral("panel-house-large.png"));
    expectReadable(f);
}

TEST(Screenshots, helpOpensAtItsContentsAndAboutShowsTheProduct)
{
    FakeHublink link;
    test::PanelUnderTest p(&link);
    QFile::copy(test::sourceDir() + QStringLiteral("/panel/app/help/VelmorXel.hlp"),
        p.folder + QStringLiteral("/VelmorXel.hlp"));
    XelForm &f = p.start();
    f.mnuContents_Click();
    HelpWindow *help = HelpWindow::instance();
    ASSERT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), QStringLiteral("32-Bit Xelvard Help"));
    EXPECT_EQ(help->browser()->textCursor().position(), 0) << "opened at its contents";
    const QString text = help->browser()->toPlainText();
    for (const char *topic : { "Taking a route", "Salvos", "dialout", "No Response from Controller.", "xelcfg" })
        EXPECT_TRUE(text.contains(QLatin1String(topic))) << topic;
    help->resize(760, 640);
    EXPECT_TRUE(help->grab().save(shotPath(QStringLiteral("help.png"))));

    frmAbout about(&f);
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_TRUE(about.grab().save(shotPath(QStringLiteral("about.png"))));

    // Exit closes the help window with the program.
    f.close();
    EXPECT_FALSE(f.isVisible());
    QApplication::processEvents();
    EXPECT_FALSE(HelpWindow::instance()->isVisible());
}

TEST(Screenshots, salvoEditorWithRoutes)
{
    FakeHublink link;
    test::PanelUnderTest p(&link);
    p.setting(QStringLiteral("ConfigFile"), test::sourceDir() + QStringLiteral("/panel/app/demo/house.cfg"));
    XelForm &f = p.start();
    f.btnPreset_Click();
    auto *ed = f.findChild<frmPreset *>();
    ASSERT_NE(ed, nullptr);
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(0, 0, 3, 1), true);
    ed->fillSelected(f.model().FindSource(QStringLiteral("CAM3")));
    ed->grdPreset->clearSelection();
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(8, 0, 9, 3), true);
    ed->fillSelected(f.model().FindSource(QStringLiteral("VTR2")));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ed));
    EXPECT_TRUE(ed->grab().save(shotPath(QStringLiteral("salvo-editor.png"))));
    // Every level column is wide enough for the widest source name.
    for (int c = 0; c < ed->grdPreset->columnCount(); ++c)
        EXPECT_GE(ed->grdPreset->columnWidth(c), ed->fontMetrics().horizontalAdvance(QStringLiteral("STB-PGM")));
}
