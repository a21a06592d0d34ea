// The main window's salvo panel and the salvo editor with a scripted link:
// the list, firing with its confirmation and busy deferral, the editor's
// fill, clear, block take and save.
#include "fakehublink.h"
#include "frmpreset.h"
#include "panelfixture.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

using namespace exel;
using exel::testing::FakeHublink;
using Kind = FakeHublink::Kind;

namespace {

// One controller (address 1) with two levels; MON1 has equal output numbers
// on both, MON2 different ones, MON3 is on VID only.
const QStringList kRouter = {
    "CTL,MAIN,1,2",
    "LVL,VID,MAIN,1,16,16",
    "LVL,AUD,MAIN,2,16,16",
    "SRC,CAM1,VID,1",
    "SRC,CAM1,AUD,1",
    "SRC,CAM2,VID,2",
    "SRC,CAM2,AUD,2",
    "SRC,VTR,VID,3",
    "SRC,VTR,AUD,5",
    "DST,MON1,VID,1",
    "DST,MON1,AUD,1",
    "DST,MON2,VID,2",
    "DST,MON2,AUD,3",
    "DST,MON3,VID,4",
    "SNS,ALL,CAM1",
    "SNS,ALL,CAM2",
    "SNS,ALL,VTR",
    "SND,ALL,MON1",
    "SND,ALL,MON2",
    "SND,ALL,MON3",
};

struct SalvoPanel : test::PanelUnderTest {
    FakeHublink link;
    SalvoPanel()
        : test::PanelUnderTest(&link)
    {
        setting(QStringLiteral("ConfigFile"), test::writeConfig(folder, QStringLiteral("R.CFG"), kRouter));
    }
    void salvo(const QString &name, const QStringList &lines)
    {
        test::writeFile(folder + QLatin1Char('/') + name + QStringLiteral(".PRE"),
            (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());
    }
    frmPreset *editor()
    {
        form->btnPreset_Click();
        return form->findChild<frmPreset *>();
    }
};

// The takes sent, as "output:input per level" with 0-based wire numbers.
QStringList takes(const FakeHublink &link)
{
    QStringList out;
    for (const FakeHublink::Call &c : link.callsOf(Kind::H)) {
        QStringList src;
        for (int16_t s : c.src)
            src << QString::number(s);
        out << QStringLiteral("%1:%2").arg(c.dst).arg(src.join(QLatin1Char(',')));
    }
    return out;
}

} // namespace

TEST(SalvoPanel, listsStoredSalvosSortedAndRefreshesAfterASave)
{
    SalvoPanel p;
    p.salvo(QStringLiteral("news"), {});
    p.salvo(QStringLiteral("Alpha"), {});
    test::writeFile(p.folder + QStringLiteral("/notes.txt"), "x");
    XelForm &f = p.start();
    ASSERT_EQ(f.presetCombo()->count(), 2);
    EXPECT_EQ(f.presetCombo()->itemText(0), QStringLiteral("Alpha"));
    EXPECT_EQ(f.presetCombo()->itemText(1), QStringLiteral("news"));

    p.salvo(QStringLiteral("Morning"), {});
    f.InitPresets();
    EXPECT_EQ(f.presetCombo()->count(), 3);
    EXPECT_EQ(f.presetCombo()->itemText(1), QStringLiteral("Morning"));
}

TEST(SalvoPanel, fireAsksFirstAndSendsEveryRouteOneCommandPerOutput)
{
    SalvoPanel p;
    p.salvo(QStringLiteral("Show"),
        { "* opening", "MON1, CAM2, VID", "MON1,CAM2,AUD", "MON2, VTR, AUD", "MON3, CAM1, AUD" });
    XelForm &f = p.start();
    p.link.clearCalls();
    f.presetCombo()->setCurrentText(QStringLiteral("Show"));
    f.btnTakePreset_Click();
    ASSERT_EQ(p.dialogs.count(), 1);
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Taking Salvo Show\nAre you Sure?"));
    EXPECT_EQ(p.dialogs.shown().back().buttons, MsgButtons::OkCancel);
    EXPECT_EQ(p.dialogs.shown().back().icon, MsgIcon::Exclamation);
    // MON1 both levels in one command; MON2 AUD only (VID left "000");
    // MON3 has no AUD output, so nothing for it.
    EXPECT_EQ(takes(p.link), (QStringList { "0:1,1", "2:-1,4" }));
    EXPECT_EQ(f.model().Status(0, 0).source, f.model().FindSource(QStringLiteral("CAM2")));
    EXPECT_TRUE(f.timer1Active());
}

TEST(SalvoPanel, cancelSendsNothingAndABadFileIsReported)
{
    SalvoPanel p;
    p.salvo(QStringLiteral("Show"), { "MON1, CAM2, VID" });
    XelForm &f = p.start();
    p.link.clearCalls();
    p.dialogs.queueAnswer(MsgAnswer::Cancel);
    f.btnTakePreset_Click();
    EXPECT_TRUE(takes(p.link).isEmpty());

    f.presetCombo()->setEditable(true);
    f.presetCombo()->setEditText(QStringLiteral("Gone"));
    f.btnTakePreset_Click();
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Cannot Fire Salvo Gone.  File Format Error!"));
    EXPECT_TRUE(takes(p.link).isEmpty());
}

TEST(SalvoPanel, fireWhileBusyFiresExactlyOnceLater)
{
    SalvoPanel p;
    p.salvo(QStringLiteral("Show"), { "MON1, CAM2, VID" });
    XelForm &f = p.start();
    p.link.clearCalls();
    p.link.busy = true;
    f.btnTakePreset_Click();
    EXPECT_TRUE(f.salvoTakeRequested());
    EXPECT_EQ(p.dialogs.count(), 0);
    f.Timer2_Timer();
    EXPECT_TRUE(takes(p.link).isEmpty());
    p.link.busy = false;
    f.Timer2_Timer();
    f.Timer2_Timer();
    EXPECT_EQ(takes(p.link), QStringList { "0:1,-1" });
    EXPECT_EQ(p.dialogs.count(), 1);
    EXPECT_FALSE(f.salvoTakeRequested());
}

TEST(SalvoEditor, fillsSelectedCellsOnlyWhereTheRouteExistsAndClears)
{
    SalvoPanel p;
    XelForm &f = p.start();
    frmPreset *ed = p.editor();
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(ed->grdPreset->rowCount(), 3);
    EXPECT_EQ(ed->grdPreset->columnCount(), 2);
    EXPECT_EQ(ed->listSource->count(), 3);
    EXPECT_EQ(ed->listDestination->count(), 3);

    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(0, 0, 2, 1), true);
    ed->fillSelected(f.model().FindSource(QStringLiteral("VTR")));
    const SalvoTable &t = ed->getPresetInfo();
    const int16_t vtr = static_cast<int16_t>(f.model().FindSource(QStringLiteral("VTR")));
    EXPECT_EQ(t.at(0, 1), vtr);
    EXPECT_EQ(t.at(1, 2), vtr);
    EXPECT_EQ(t.at(2, 1), vtr);
    EXPECT_EQ(t.at(2, 2), -1) << "MON3 has no AUD output";
    EXPECT_EQ(ed->grdPreset->item(0, 0)->text(), QStringLiteral("VTR"));

    ed->grdPreset->clearSelection();
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(1, 0, 1, 1), true);
    ed->ClearSelectedPreset();
    EXPECT_EQ(ed->getPresetInfo().at(1, 1), -1);
    EXPECT_EQ(ed->getPresetInfo().at(0, 1), vtr);
    ed->ClearAllPreset();
    for (int r = 0; r < 3; ++r)
        for (int c = 1; c <= 2; ++c)
            EXPECT_EQ(ed->getPresetInfo().at(r, c), -1);
}

TEST(SalvoEditor, takeSelectedSendsOnlyTheBlock)
{
    SalvoPanel p;
    XelForm &f = p.start();
    frmPreset *ed = p.editor();
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(0, 0, 1, 1), true);
    ed->fillSelected(f.model().FindSource(QStringLiteral("CAM2")));
    p.link.clearCalls();

    // Block: MON2 only, AUD column only.
    ed->grdPreset->clearSelection();
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(1, 1, 1, 1), true);
    ed->TakeSelectedPreset_Click();
    EXPECT_EQ(takes(p.link), QStringList { "2:-1,1" });

    p.link.clearCalls();
    ed->TakeAllPreset_Click();
    EXPECT_EQ(takes(p.link), (QStringList { "0:1,1", "1:1,-1", "2:-1,1" }));
}

TEST(SalvoEditor, takeWhileTheLinkIsBusyIsSentOnceLater)
{
    SalvoPanel p;
    XelForm &f = p.start();
    frmPreset *ed = p.editor();
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(0, 0, 0, 0), true);
    ed->fillSelected(f.model().FindSource(QStringLiteral("CAM2")));
    p.link.clearCalls();
    p.link.busy = true;
    ed->TakeAllPreset_Click();
    EXPECT_TRUE(takes(p.link).isEmpty());
    EXPECT_EQ(f.model().Status(0, 0).source, -1) << "nothing shown as taken that was not sent";
    p.link.busy = false;
    f.Timer2_Timer();
    f.Timer2_Timer();
    EXPECT_EQ(takes(p.link), QStringList { "0:1,-1" });
    EXPECT_EQ(f.model().Status(0, 0).source, f.model().FindSource(QStringLiteral("CAM2")));
}

TEST(SalvoEditor, followsANewSystemAndTheNameSetShown)
{
    SalvoPanel p;
    XelForm &f = p.start();
    frmPreset *ed = p.editor();
    ASSERT_EQ(ed->grdPreset->rowCount(), 3);
    f.mnuFileDefault_Click();
    f.Timer2_Timer();
    EXPECT_EQ(ed->grdPreset->rowCount(), 16);
    EXPECT_EQ(ed->grdPreset->columnCount(), 4);
    EXPECT_EQ(ed->listDestination->count(), 16);
    EXPECT_EQ(ed->getPresetInfo().rows(), 16);
}

TEST(SalvoEditor, savesThroughTheSaveDialogAndTheMainListFollows)
{
    SalvoPanel p;
    XelForm &f = p.start();
    frmPreset *ed = p.editor();
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(0, 0, 0, 1), true);
    ed->fillSelected(f.model().FindSource(QStringLiteral("CAM1")));

    // Answer the modal save dialog: first a name the rule refuses, then a good one.
    QStringList titles;
    auto answer = [&](const QString &name) {
        QTimer::singleShot(0, [&titles, name] {
            auto *dlg = qobject_cast<frmPreSv *>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            titles << dlg->windowTitle();
            dlg->txtPreset->setText(name);
            dlg->cmdOK->click();
            if (dlg->isVisible())
                dlg->cmdCancel->click();
        });
    };
    answer(QStringLiteral("../evil"));
    ed->savePreset();
    EXPECT_FALSE(QFile::exists(p.folder + QStringLiteral("/../evil.PRE")));
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Invalid Salvo Name"));
    EXPECT_EQ(p.dialogs.shown().back().title, QStringLiteral("Salvo Save"));

    answer(QStringLiteral("Opening"));
    ed->savePreset();
    EXPECT_EQ(titles, (QStringList { " Salvo Save", " Salvo Save" }));
    EXPECT_EQ(test::readFile(p.folder + QStringLiteral("/Opening.PRE")),
        QByteArray("MON1, CAM1, VID\r\nMON1, CAM1, AUD\r\n"));
    EXPECT_EQ(f.presetCombo()->findText(QStringLiteral("Opening")), 0);
    EXPECT_EQ(ed->PresetFileList->currentText(), QStringLiteral("Opening"));

    // Loaded back into a cleared editor.
    ed->ClearAllPreset();
    ed->loadPreset(QStringLiteral("Opening"));
    EXPECT_EQ(ed->getPresetInfo().at(0, 2), f.model().FindSource(QStringLiteral("CAM1")));
}

TEST(SalvoEditor, statusShowsTheLiveRoutesOfItsDestinations)
{
    SalvoPanel p;
    XelForm &f = p.start();
    p.link.setReportedLevels(1, 2);
    p.link.setCrosspoint(1, 0, 0, 1); // MON1 VID from CAM2
    f.Timer1_Timer();
    frmPreset *ed = p.editor();
    ed->StatusPreset();
    EXPECT_EQ(ed->getPresetInfo().at(0, 1), f.model().FindSource(QStringLiteral("CAM2")));
    EXPECT_EQ(ed->grdPreset->item(0, 0)->text(), QStringLiteral("CAM2"));
}

// Guards against "Edit Salvos..." pressed again discarding the salvo being edited.
TEST(SalvoEditor, pressedAgainWhileOpenItComesForwardWithItsSalvo)
{
    SalvoPanel p;
    XelForm &f = p.start();
    frmPreset *ed = p.editor();
    ASSERT_TRUE(ed->isVisible());
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(0, 0, 0, 1), true);
    const int16_t cam2 = static_cast<int16_t>(f.model().FindSource(QStringLiteral("CAM2")));
    ed->fillSelected(cam2);
    f.btnPreset_Click();
    EXPECT_EQ(f.findChildren<frmPreset *>().size(), 1);
    EXPECT_EQ(ed->getPresetInfo().at(0, 1), cam2);
    EXPECT_EQ(ed->getPresetInfo().at(0, 2), cam2);
    EXPECT_EQ(ed->grdPreset->item(0, 0)->text(), QStringLiteral("CAM2"));

    // Closed and opened again: a fresh salvo for the system shown.
    ed->close();
    f.btnPreset_Click();
    EXPECT_TRUE(ed->isVisible());
    EXPECT_EQ(ed->getPresetInfo().at(0, 1), -1);
}

// Guards against the name field cutting a listed name to 20 characters, so
// that Save wrote a salvo other than the one chosen.
TEST(SalvoEditor, aLongNameChosenInTheSaveListIsSavedUnderThatName)
{
    SalvoPanel p;
    XelForm &f = p.start();
    const QString longName = QStringLiteral("Evening News Opening Titles");
    p.salvo(longName, { "MON2, CAM1, VID" });
    frmPreset *ed = p.editor();
    ed->grdPreset->setRangeSelected(QTableWidgetSelectionRange(0, 0, 0, 0), true);
    ed->fillSelected(f.model().FindSource(QStringLiteral("VTR")));
    QString typed;
    QTimer::singleShot(0, [&] {
        auto *dlg = qobject_cast<frmPreSv *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        const QList<QListWidgetItem *> items = dlg->lstPreset->findItems(longName, Qt::MatchExactly);
        if (items.isEmpty()) {
            dlg->cmdCancel->click();
            return;
        }
        dlg->lstPreset->setCurrentItem(items.front());
        typed = dlg->txtPreset->text();
        dlg->cmdOK->click();
        if (dlg->isVisible())
            dlg->cmdCancel->click();
    });
    ed->savePreset();
    EXPECT_EQ(typed, longName);
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("File Exists.\nDo You wish to overwrite file?"));
    EXPECT_EQ(test::readFile(p.folder + QLatin1Char('/') + longName + QStringLiteral(".PRE")),
        QByteArray("MON1, VTR, VID\r\n"));
    EXPECT_EQ(QDir(p.folder).entryList({ "*.PRE" }, QDir::Files).size(), 1) << "no second, shortened salvo";
}
