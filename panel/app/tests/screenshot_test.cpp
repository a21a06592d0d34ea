// Pictures of the main window at its default size, with the default system
// and with the demonstration house router, saved beside the test program
// (screenshots/*.png) for a person to look at; and the checks a person would
// make first: every key caption fits its key, nothing lies outside the window.
#include "fakehublink.h"
#include "panelfixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

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
