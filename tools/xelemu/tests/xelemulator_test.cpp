// The controller emulator's core driven in-process: every command, the
// controller prefix, query continuations, repeats, locks and injected faults.
#include "configreader.h"
#include "hublinkprotocol.h"
#include "testsupport.h"
#include "xelemulator.h"

#include <gtest/gtest.h>

using namespace exel;

namespace {

StatandConfig routerModel()
{
    StatandConfig model;
    QString error;
    EXPECT_TRUE(
        XelEmulator::loadModel(test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg"), model, error))
        << error.toStdString();
    return model;
}

class XelEmulatorTest : public ::testing::Test {
protected:
    XelEmulatorTest()
        : emu(routerModel())
    {
        emu.setLogger([this](const QString &l) { logLines << l; });
    }

    // Sends one framed command; the raw reply bytes.
    QByteArray ask(const QString &command)
    {
        const std::vector<EmuReply> r = emu.receive(HublinkFrame(command).toLatin1());
        if (r.empty())
            return {};
        EXPECT_EQ(r.size(), 1u);
        return r.front().bytes;
    }

    // Sends one command and runs the panel's answer check on the reply.
    QString answer(const QString &command)
    {
        const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(ask(command)));
        EXPECT_TRUE(a.good()) << command.toStdString();
        return a.body;
    }

    XelEmulator emu;
    QStringList logLines;
};

} // namespace

TEST_F(XelEmulatorTest, status_of_an_unrouted_output_reads_as_no_source_on_every_level)
{
    EXPECT_EQ(ask(QStringLiteral("Y001")),
        QByteArray("00100000000000") + HublinkChecksumChars(u"00100000000000").toLatin1() + "\r\n");
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(answer(QStringLiteral("Y001")), s, err));
    EXPECT_EQ(s.levels, 3);
    EXPECT_EQ(s.intSrc, (std::vector<int16_t> { -1, -1, -1, 0 }));
}

TEST_F(XelEmulatorTest, take_then_status_reports_the_inputs_per_level)
{
    EXPECT_EQ(ask(QStringLiteral("H005003016000")), QByteArray("G\r\n"));
    EXPECT_EQ(emu.crosspoint(0, 1, 5), 3);
    EXPECT_EQ(emu.crosspoint(0, 2, 5), 16);
    EXPECT_EQ(emu.crosspoint(0, 3, 5), 0);
    // A take with fewer groups than levels leaves the rest alone.
    EXPECT_EQ(ask(QStringLiteral("H005000")), QByteArray("G\r\n"));
    EXPECT_EQ(emu.crosspoint(0, 2, 5), 16);
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(answer(QStringLiteral("Y005")), s, err));
    EXPECT_EQ(s.intSrc, (std::vector<int16_t> { 2, 15, -1, 0 }));
}

TEST_F(XelEmulatorTest, take_out_of_range_is_refused_and_changes_nothing)
{
    ASSERT_TRUE(emu.setCrosspoint(0, 1, 11, 4));
    EXPECT_EQ(ask(QStringLiteral("H011001017")), QByteArray("E\r\n")); // AUD has 16 inputs
    EXPECT_EQ(emu.crosspoint(0, 1, 11), 4); // level 1 untouched
    EXPECT_EQ(ask(QStringLiteral("H011000000001")), QByteArray("E\r\n")); // TC has 10 outputs
    EXPECT_EQ(ask(QStringLiteral("H013001")), QByteArray("E\r\n")); // no output 13
    EXPECT_EQ(ask(QStringLiteral("H001001001001001")), QByteArray("E\r\n")); // four groups, three levels
    EXPECT_EQ(ask(QStringLiteral("H00100")), QByteArray("E\r\n"));
    EXPECT_EQ(ask(QStringLiteral("H000001")), QByteArray("E\r\n"));
    EXPECT_EQ(ask(QStringLiteral("Y013")), QByteArray("E\r\n"));
    EXPECT_EQ(ask(QStringLiteral("Y1")), QByteArray("E\r\n"));
    EXPECT_EQ(ask(QStringLiteral("ZZ")), QByteArray("E\r\n"));
}

TEST_F(XelEmulatorTest, output_beyond_a_narrower_level_reports_none_there)
{
    ASSERT_TRUE(emu.setCrosspoint(0, 1, 12, 8));
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(answer(QStringLiteral("Y012")), s, err));
    EXPECT_EQ(s.intSrc, (std::vector<int16_t> { 7, -1, -1, 0 }));
}

TEST_F(XelEmulatorTest, lock_toggle_shows_in_lock_table_and_blocks_takes)
{
    EXPECT_EQ(answer(QStringLiteral("WS")), QStringLiteral("000000000000"));
    EXPECT_EQ(ask(QStringLiteral("LS005")), QByteArray("G\r\n"));
    std::vector<bool> locks;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeLocks(answer(QStringLiteral("WS")), locks, err));
    ASSERT_EQ(locks.size(), 13u);
    EXPECT_TRUE(locks[4]);
    EXPECT_EQ(std::count(locks.begin(), locks.end(), true), 1);
    EXPECT_EQ(ask(QStringLiteral("H005001")), QByteArray("L\r\n"));
    EXPECT_EQ(emu.crosspoint(0, 1, 5), 0);
    EXPECT_EQ(ask(QStringLiteral("LS005")), QByteArray("G\r\n"));
    EXPECT_FALSE(emu.locked(0, 5));
    EXPECT_EQ(ask(QStringLiteral("H005001")), QByteArray("G\r\n"));
    EXPECT_EQ(ask(QStringLiteral("LS013")), QByteArray("E\r\n"));
}

TEST_F(XelEmulatorTest, prefix_selects_the_controller_and_unknown_addresses_stay_silent)
{
    ASSERT_TRUE(emu.setCrosspoint(3, 1, 5, 2));
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(answer(QStringLiteral("3Y005")), s, err));
    EXPECT_EQ(s.levels, 1);
    EXPECT_EQ(s.intSrc[0], 1);
    EXPECT_EQ(answer(QStringLiteral("3WS")), QStringLiteral("00000000"));
    EXPECT_EQ(answer(QStringLiteral("03WS")), QStringLiteral("00000000"));
    EXPECT_TRUE(ask(QStringLiteral("7Y001")).isEmpty());
    EXPECT_TRUE(logLines.last().contains(QStringLiteral("no controller")));
    EXPECT_EQ(answer(QStringLiteral("KCI")), QStringLiteral("K*E*D*MAIN,0,3"));
    EXPECT_EQ(answer(QStringLiteral("3KCI")), QStringLiteral("K*E*D*AUX,3,1"));
}

TEST(XelEmulatorPrefix, without_prefix_the_only_controller_answers_wherever_it_sits)
{
    StatandConfig model;
    LoadConfigLines(model, { QStringLiteral("CTL,ONE,5,1"), QStringLiteral("LVL,V,ONE,1,4,4") }, QStringLiteral("T"));
    XelEmulator emu(model);
    EXPECT_FALSE(emu.receive(HublinkFrame(u"Y001").toLatin1()).empty());
    EXPECT_FALSE(emu.receive(HublinkFrame(u"5Y001").toLatin1()).empty());
    EXPECT_TRUE(emu.receive(HublinkFrame(u"4Y001").toLatin1()).empty());
}

TEST_F(XelEmulatorTest, damaged_requests_get_no_answer_and_are_logged)
{
    EXPECT_TRUE(emu.receive("Y001>;\r\n").empty());
    EXPECT_TRUE(logLines.last().contains(QStringLiteral("bad checksum")));
    EXPECT_TRUE(emu.receive("Y\r\n").empty());
    EXPECT_EQ(logLines.size(), 2);
    // Over-long garbage is skipped to its line end; the next request works.
    EXPECT_TRUE(emu.receive(QByteArray(5000, 'x')).empty());
    const std::vector<EmuReply> r = emu.receive("\r\nY001>:\r\n");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].bytes.startsWith("001"));
}

TEST_F(XelEmulatorTest, requests_split_across_reads_and_lf_only_endings_are_understood)
{
    EXPECT_TRUE(emu.receive("Y0").empty());
    EXPECT_TRUE(emu.receive("01>").empty());
    std::vector<EmuReply> r = emu.receive(":\r");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(emu.receive("\n").empty()); // the LF after CR is no second request
    r = emu.receive(HublinkFrame(u"WS").toLatin1().chopped(2) + "\n" + HublinkFrame(u"KCI").toLatin1());
    EXPECT_EQ(r.size(), 2u);
}

TEST_F(XelEmulatorTest, status_flags_pack_two_levels_per_character)
{
    ASSERT_TRUE(emu.setFlag(0, 1, 2, true));
    ASSERT_TRUE(emu.setFlag(0, 3, 2, true));
    EXPECT_TRUE(answer(QStringLiteral("Y002")).startsWith(QStringLiteral("00244")));
    ASSERT_TRUE(emu.setFlag(0, 2, 2, true));
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(answer(QStringLiteral("Y002")), s, err));
    EXPECT_EQ(s.bolErr, (std::vector<bool> { true, true, true, false }));
}

TEST(XelEmulatorLayout, status_answers_decode_to_every_level_count)
{
    // One controller of n levels: level i routes output 1 from input i, odd levels flagged.
    for (int n = 1; n <= 40; ++n) {
        SCOPED_TRACE(n);
        QStringList lines { QStringLiteral("CTL,C,0,%1").arg(n) };
        for (int i = 1; i <= n; ++i)
            lines << QStringLiteral("LVL,L%1,C,%1,64,4").arg(i);
        StatandConfig model;
        ASSERT_TRUE(LoadConfigLines(model, lines, QStringLiteral("T")).ok());
        XelEmulator emu(model);
        for (int i = 1; i <= n; ++i) {
            ASSERT_TRUE(emu.setCrosspoint(0, i, 1, i));
            ASSERT_TRUE(emu.setFlag(0, i, 1, i % 2 == 0));
        }
        const std::vector<EmuReply> r = emu.receive(HublinkFrame(u"Y001").toLatin1());
        ASSERT_EQ(r.size(), 1u);
        const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(r[0].bytes));
        ASSERT_TRUE(a.good());
        HublinkStatus s;
        ErrorInfo err;
        ASSERT_TRUE(HublinkDecodeStatus(a.body, s, err));
        ASSERT_EQ(s.levels, n);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(s.intSrc[static_cast<size_t>(i)], i);
            EXPECT_EQ(s.bolErr[static_cast<size_t>(i)], i % 2 == 1);
        }
    }
}

TEST_F(XelEmulatorTest, level_query_continues_with_kq_until_the_last_record)
{
    EXPECT_EQ(answer(QStringLiteral("KQLEV")), QStringLiteral("K*M*D*(LEV,VID,1)"));
    EXPECT_EQ(answer(QStringLiteral("KQ")), QStringLiteral("K*M*D*(LEV,AUD,2)"));
    EXPECT_EQ(answer(QStringLiteral("KQ")), QStringLiteral("K*E*D*(LEV,TC,3)"));
    EXPECT_EQ(answer(QStringLiteral("KQ")), QStringLiteral("K*E*N"));
    EXPECT_EQ(answer(QStringLiteral("3KQLEV")), QStringLiteral("K*E*D*(LEV,XV,1)"));
}

TEST_F(XelEmulatorTest, source_destination_tie_and_extra_level_records)
{
    QStringList src { answer(QStringLiteral("KQSRC")) };
    while (src.last().startsWith(QStringLiteral("K*M*")))
        src << answer(QStringLiteral("KQ"));
    EXPECT_EQ(src,
        (QStringList { QStringLiteral("K*M*D*(SRC,CAM1,1,1,1,1)"), QStringLiteral("K*M*D*(SRC,CAM2,2,2,,)"),
            QStringLiteral("K*E*D*(SRC,VTR,3,3,3,)") }));
    EXPECT_EQ(answer(QStringLiteral("KQDST")), QStringLiteral("K*E*D*(DST,MON1,1,1,1,1)"));
    EXPECT_EQ(answer(QStringLiteral("KQRTY")), QStringLiteral("K*E*D*(RTY,TIE,7,9)"));
    EXPECT_EQ(answer(QStringLiteral("KQSTL")), QStringLiteral("K*E*D*(STL,CAM2,AUD)"));
    EXPECT_EQ(answer(QStringLiteral("3KQSTL")), QStringLiteral("K*E*N"));
}

TEST_F(XelEmulatorTest, qsr_repeats_the_last_answer_even_after_a_damaged_one)
{
    EXPECT_EQ(ask(QStringLiteral("QSR")), QByteArray("E\r\n")); // nothing to repeat yet
    const QByteArray first = ask(QStringLiteral("KQLEV"));
    emu.injectFault(EmuFault::Garbage, 1);
    const QByteArray damaged = ask(QStringLiteral("KQ"));
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(damaged)).kind, HublinkAnswer::Kind::Bad);
    EXPECT_EQ(
        HublinkCheckAnswer(QString::fromLatin1(ask(QStringLiteral("QSR")))).body, QStringLiteral("K*M*D*(LEV,AUD,2)"));
    EXPECT_EQ(
        HublinkCheckAnswer(QString::fromLatin1(ask(QStringLiteral("QSR")))).body, QStringLiteral("K*M*D*(LEV,AUD,2)"));
    EXPECT_EQ(answer(QStringLiteral("KQ")), QStringLiteral("K*E*D*(LEV,TC,3)"));
    EXPECT_NE(first, damaged);
}

TEST_F(XelEmulatorTest, counted_faults_hit_the_next_answers_then_stop)
{
    emu.injectFault(EmuFault::Silence, 2);
    EXPECT_TRUE(ask(QStringLiteral("WS")).isEmpty());
    EXPECT_TRUE(ask(QStringLiteral("WS")).isEmpty());
    EXPECT_FALSE(ask(QStringLiteral("WS")).isEmpty());

    emu.injectFault(EmuFault::BadChecksum, 2);
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(ask(QStringLiteral("Y001")))).kind, HublinkAnswer::Kind::Bad);
    // A short acknowledgement has no checksum to spoil: it grows a wrong one.
    const QByteArray g = ask(QStringLiteral("H001"));
    EXPECT_TRUE(g.startsWith('G'));
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(g)).kind, HublinkAnswer::Kind::Bad);

    emu.injectFault(EmuFault::Partial, 1);
    const QByteArray partial = ask(QStringLiteral("Y001"));
    EXPECT_FALSE(partial.isEmpty());
    EXPECT_FALSE(partial.contains('\n'));
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(partial)).kind, HublinkAnswer::Kind::Incomplete);

    emu.injectFault(EmuFault::Slow, 1);
    emu.setSlowDelayMs(750);
    std::vector<EmuReply> r = emu.receive(HublinkFrame(u"WS").toLatin1());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].delayMs, 750);
    EXPECT_TRUE(HublinkCheckAnswer(QString::fromLatin1(r[0].bytes)).good());

    emu.injectFault(EmuFault::Hangup, 1);
    r = emu.receive(HublinkFrame(u"WS").toLatin1());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].hangup);
    EXPECT_TRUE(r[0].bytes.isEmpty());
    EXPECT_TRUE(HublinkCheckAnswer(QString::fromLatin1(ask(QStringLiteral("WS")))).good());
}

TEST_F(XelEmulatorTest, fault_rates_apply_per_answer_until_cleared)
{
    emu.setSeed(7);
    emu.setFaultRate(EmuFault::Silence, 0.5);
    int silent = 0;
    for (int i = 0; i < 400; ++i)
        silent += ask(QStringLiteral("WS")).isEmpty() ? 1 : 0;
    EXPECT_GT(silent, 140);
    EXPECT_LT(silent, 260);
    emu.clearFaults();
    for (int i = 0; i < 50; ++i)
        ASSERT_FALSE(ask(QStringLiteral("WS")).isEmpty());
}

TEST_F(XelEmulatorTest, control_commands_change_the_router_as_another_panel_would)
{
    EXPECT_EQ(emu.control(QStringLiteral("route 0 2 4 9")).lines, QStringList { QStringLiteral("OK") });
    EXPECT_EQ(emu.crosspoint(0, 2, 4), 9);
    EXPECT_TRUE(emu.control(QStringLiteral("route 0 2 4 17")).lines.last().startsWith(QStringLiteral("ERR")));
    EXPECT_TRUE(emu.control(QStringLiteral("route 0 4 1 1")).lines.last().startsWith(QStringLiteral("ERR")));
    EXPECT_TRUE(emu.control(QStringLiteral("route 9 1 1 1")).lines.last().startsWith(QStringLiteral("ERR")));
    EXPECT_EQ(emu.control(QStringLiteral("lock 3 2 on")).lines.last(), QStringLiteral("OK locked"));
    EXPECT_EQ(emu.control(QStringLiteral("lock 3 2 toggle")).lines.last(), QStringLiteral("OK unlocked"));
    EXPECT_EQ(emu.control(QStringLiteral("lock 3 2 on")).lines.last(), QStringLiteral("OK locked"));
    EXPECT_EQ(emu.control(QStringLiteral("flag 0 1 1 on")).lines.last(), QStringLiteral("OK"));
    EXPECT_EQ(emu.control(QStringLiteral("dump")).lines,
        (QStringList { QStringLiteral("X 0 1 1 0 1"), QStringLiteral("X 0 2 4 9 0"), QStringLiteral("L 3 2"),
            QStringLiteral("END") }));
    EXPECT_EQ(emu.control(QStringLiteral("fault silence 1")).lines.last().left(2), QStringLiteral("OK"));
    EXPECT_TRUE(ask(QStringLiteral("WS")).isEmpty());
    EXPECT_TRUE(emu.control(QStringLiteral("fault sulk")).lines.last().startsWith(QStringLiteral("ERR")));
    EXPECT_TRUE(emu.control(QStringLiteral("rate garbage 2")).lines.last().startsWith(QStringLiteral("ERR")));
    EXPECT_EQ(emu.control(QStringLiteral("hangup")).action, EmuControlResult::Action::Hangup);
    EXPECT_EQ(emu.control(QStringLiteral("quit")).action, EmuControlResult::Action::Quit);
    EXPECT_TRUE(emu.control(QStringLiteral("frobnicate")).lines.last().startsWith(QStringLiteral("ERR")));
    emu.control(QStringLiteral("preset diagonal"));
    EXPECT_EQ(emu.crosspoint(0, 3, 9), 0); // TC has 8 inputs: output 9 stays unrouted
    EXPECT_EQ(emu.crosspoint(0, 3, 8), 8);
}
