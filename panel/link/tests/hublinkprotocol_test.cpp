// Checksums, answer check, command texts and reply decoders of the controller protocol.
#include "hublinkprotocol.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace exel;

namespace {

QString statusReply(const QString &dst, const QString &statusPart, const QStringList &inputs)
{
    return dst + statusPart + inputs.join(QString());
}

} // namespace

TEST(HublinkChecksum, y001_example_uses_colon_range_not_hex_letters)
{
    EXPECT_EQ(HublinkChecksum(u"Y001"), 234);
    EXPECT_EQ(HublinkChecksumChars(u"Y001"), QStringLiteral(">:"));
    EXPECT_EQ(HublinkFrame(u"Y001"), QStringLiteral("Y001>:\r\n"));
}

TEST(HublinkChecksum, sum_wraps_modulo_256_and_empty_is_00)
{
    EXPECT_EQ(HublinkChecksumChars(u""), QStringLiteral("00"));
    // 'z' (122) + 'z' + 'z' = 366 -> 110 = 0x6E
    EXPECT_EQ(HublinkChecksum(u"zzz"), 110);
    EXPECT_EQ(HublinkChecksumChars(u"zzz"), QStringLiteral("6>"));
    // Characters outside Latin-1 count as the '?' that goes out instead.
    EXPECT_EQ(HublinkChecksum(QString(QChar(0x20AC))), int('?'));
    EXPECT_EQ(HublinkChecksum(QString(QChar(0xFF))), 0xFF);
}

TEST(HublinkAnswerCheck, table)
{
    struct Case {
        const char *received;
        HublinkAnswer::Kind kind;
        const char *body;
    };
    const Case cases[] = {
        { "Y001>:\r\n", HublinkAnswer::Kind::Good, "Y001" },
        { "Y001>;\r\n", HublinkAnswer::Kind::Bad, "" },
        { "Y001:>\r\n", HublinkAnswer::Kind::Bad, "" }, // nibbles swapped
        { "Y001>:", HublinkAnswer::Kind::Incomplete, "" }, // no line end
        { "Y001>:\r", HublinkAnswer::Kind::Incomplete, "" },
        { "Y001>:\n\r", HublinkAnswer::Kind::Incomplete, "" },
        { "G\r\n", HublinkAnswer::Kind::Good, "G" }, // short: no checksum
        { "GX\r\n", HublinkAnswer::Kind::Good, "G" }, // 4 chars: first only
        { "\r\n", HublinkAnswer::Kind::Good, "\r" },
        { "A00\r\n", HublinkAnswer::Kind::Bad, "" }, // 5 chars: checksum checked
        { "AAA\r\n", HublinkAnswer::Kind::Bad, "" }, // not digits at all
        { "Y001>:\r\nJUNK", HublinkAnswer::Kind::Good, "Y001" },
        { "Y001>:\r\nG\r\n", HublinkAnswer::Kind::Good, "Y001" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.received);
        const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(c.received));
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.body, QString::fromLatin1(c.body));
    }
}

TEST(HublinkAnswerCheck, frame_round_trips_for_every_byte_value)
{
    for (int b = 1; b < 256; ++b) {
        if (b == '\r' || b == '\n')
            continue;
        const QString body = QStringLiteral("K*E*D*") + QChar(b) + QStringLiteral("X");
        const HublinkAnswer a = HublinkCheckAnswer(HublinkFrame(body));
        ASSERT_TRUE(a.good()) << b;
        EXPECT_EQ(a.body, body);
    }
}

TEST(HublinkReceiveBuffer, line_end_split_across_chunks_is_found)
{
    HublinkReceiveBuffer buf;
    EXPECT_FALSE(buf.append(u"Y001>:\r"));
    EXPECT_EQ(buf.answer().kind, HublinkAnswer::Kind::Incomplete);
    EXPECT_TRUE(buf.append(u"\n"));
    EXPECT_TRUE(buf.answer().good());
    EXPECT_EQ(buf.answer().body, QStringLiteral("Y001"));
    buf.clear();
    EXPECT_TRUE(buf.isEmpty());
    EXPECT_FALSE(buf.hasLineEnd());
    EXPECT_FALSE(buf.append(u"\n\r")); // LF CR is not a line end
    EXPECT_TRUE(buf.append(u"\n"));
}

TEST(HublinkReceiveBuffer, endless_text_without_line_end_is_capped)
{
    HublinkReceiveBuffer buf;
    const QString chunk(4096, QLatin1Char('x'));
    for (int i = 0; i < 40; ++i)
        EXPECT_FALSE(buf.append(chunk));
    EXPECT_TRUE(buf.overflowed());
    EXPECT_EQ(buf.text().size(), HublinkReceiveBuffer::kMaxChars);
    EXPECT_EQ(buf.answer().kind, HublinkAnswer::Kind::Incomplete);
}

TEST(HublinkCommands, texts_and_prefixes)
{
    EXPECT_EQ(HublinkYCommand(0, 0).text, QStringLiteral("Y001"));
    EXPECT_EQ(HublinkYCommand(0, 4).text, QStringLiteral("Y005"));
    EXPECT_EQ(HublinkYCommand(3, 4).text, QStringLiteral("3Y005"));
    EXPECT_EQ(HublinkYCommand(12, 998).text, QStringLiteral("12Y999"));
    EXPECT_EQ(HublinkWCommand(0).text, QStringLiteral("WS"));
    EXPECT_EQ(HublinkWCommand(7).text, QStringLiteral("7WS"));
    EXPECT_EQ(HublinkLCommand(0, 9).text, QStringLiteral("LS010"));
    EXPECT_EQ(HublinkLCommand(2, 9).text, QStringLiteral("2LS010"));
    EXPECT_EQ(HublinkHCommand(0, 3, 1, { 4, -1, 0 }).text, QStringLiteral("H002005000001"));
    EXPECT_EQ(HublinkHCommand(5, 2, 0, { 998, 10, 77 }).text, QStringLiteral("5H001999011"));
}

TEST(HublinkCommands, take_with_all_sources_none_sends_only_000_groups)
{
    const HublinkCommand c = HublinkHCommand(0, 4, 6, { -1, -1, -1, -1 });
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.text, QStringLiteral("H007000000000000"));
}

TEST(HublinkCommands, numbers_three_digits_cannot_carry_are_refused_not_wrapped)
{
    EXPECT_FALSE(HublinkYCommand(0, 999).ok); // would be "1000"
    EXPECT_FALSE(HublinkYCommand(0, -1).ok); // would be "000"
    EXPECT_FALSE(HublinkYCommand(-1, 0).ok); // would be "-1Y001"
    EXPECT_FALSE(HublinkLCommand(0, 32767).ok);
    EXPECT_FALSE(HublinkHCommand(0, 1, 0, { 999 }).ok);
    EXPECT_FALSE(HublinkHCommand(0, 1, 0, { -2 }).ok); // would be "-01"
    EXPECT_FALSE(HublinkHCommand(0, 3, 0, { 1, 2 }).ok); // fewer sources than levels
    EXPECT_FALSE(HublinkHCommand(0, -1, 0, {}).ok);
    const HublinkCommand c = HublinkYCommand(0, 999);
    EXPECT_TRUE(c.text.isEmpty());
    EXPECT_TRUE(c.error.contains(QStringLiteral("1000")));
}

TEST(HublinkDecodeStatus, lengths_give_the_level_counts)
{
    struct Case {
        int restLength;
        int levels;
    };
    // 3 + 8 -> 2, 3 + 14 -> 4, 3 + 18 -> 5, 3 + 28 -> 8, and the layouts in between.
    const Case cases[] = { { 2, 0 }, { 3, 1 }, { 5, 1 }, { 8, 2 }, { 11, 3 }, { 14, 4 }, { 18, 5 }, { 21, 6 },
        { 25, 7 }, { 28, 8 }, { 32, 9 }, { 35, 10 }, { 16, 5 }, { 15, 4 } };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.restLength);
        HublinkStatus s;
        ErrorInfo err;
        ASSERT_TRUE(HublinkDecodeStatus(QStringLiteral("001") + QString(c.restLength, QLatin1Char('0')), s, err));
        EXPECT_EQ(s.levels, c.levels);
        EXPECT_EQ(s.intSrc.size(), size_t(c.levels) + 1);
        EXPECT_EQ(s.bolErr.size(), size_t(c.levels) + 1);
    }
}

TEST(HublinkDecodeStatus, short_reply_gives_two_empty_elements_and_no_levels)
{
    for (const char *reply : { "", "G", "0010" }) {
        HublinkStatus s;
        ErrorInfo err;
        ASSERT_TRUE(HublinkDecodeStatus(QString::fromLatin1(reply), s, err));
        EXPECT_EQ(s.levels, 0);
        EXPECT_EQ(s.intSrc, (std::vector<int16_t> { 0, 0 }));
        EXPECT_EQ(s.bolErr, (std::vector<bool> { false, false }));
    }
}

TEST(HublinkDecodeStatus, flags_pair_per_status_character_and_sources_are_0_based)
{
    // Levels 0..4: status "5" = 4+1 (levels 0 and 1 flagged), "1" (level 3 only), "4" (level 4).
    const QString reply = statusReply(QStringLiteral("007"), QStringLiteral("514"),
        { QStringLiteral("001"), QStringLiteral("000"), QStringLiteral("012"), QStringLiteral("999"),
            QStringLiteral("100") });
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(reply, s, err));
    ASSERT_EQ(s.levels, 5);
    EXPECT_EQ(s.intSrc, (std::vector<int16_t> { 0, -1, 11, 998, 99, 0 }));
    EXPECT_EQ(s.bolErr, (std::vector<bool> { true, true, false, true, true, false }));
}

TEST(HublinkDecodeStatus, status_bits_come_from_code_modulo_16)
{
    // '8' is 56 -> 8: bits 2-3 set for the even level, none for the odd one.
    // '<' is 60 -> 12 and 'C' is 67 -> 3.
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(
        HublinkDecodeStatus(QStringLiteral("001") + QStringLiteral("8C") + QStringLiteral("001002003"), s, err));
    ASSERT_EQ(s.levels, 3);
    EXPECT_EQ(s.bolErr, (std::vector<bool> { true, false, false, false }));
    ASSERT_TRUE(HublinkDecodeStatus(QStringLiteral("001") + QStringLiteral("<0") + QStringLiteral("001002"), s, err));
    EXPECT_EQ(s.bolErr, (std::vector<bool> { true, false, false }));
}

TEST(HublinkDecodeStatus, missing_digits_at_the_end_read_as_no_source)
{
    // 3 + 4 characters: one level, status "00", then only "01" of its number.
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(QStringLiteral("0010001"), s, err));
    ASSERT_EQ(s.levels, 1);
    EXPECT_EQ(s.intSrc[0], 0);
    ASSERT_TRUE(HublinkDecodeStatus(QStringLiteral("00100"), s, err));
    EXPECT_EQ(s.levels, 0);
}

TEST(HublinkDecodeStatus, reply_claiming_more_than_16_bit_levels_is_an_overflow)
{
    HublinkStatus s;
    ErrorInfo err;
    EXPECT_FALSE(HublinkDecodeStatus(QStringLiteral("001") + QString(120000, QLatin1Char('0')), s, err));
    EXPECT_EQ(err.number, 6);
}

TEST(HublinkDecodeLocks, arrays)
{
    struct Case {
        const char *reply;
        std::vector<bool> locks;
    };
    const Case cases[] = {
        { "", { false, false } },
        { "0", { false, false } },
        { "1", { true, false } },
        { "0100", { false, true, false, false, false } },
        { "0X0L", { false, true, false, true, false } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply);
        std::vector<bool> locks;
        ErrorInfo err;
        ASSERT_TRUE(HublinkDecodeLocks(QString::fromLatin1(c.reply), locks, err));
        EXPECT_EQ(locks, c.locks);
    }
    std::vector<bool> locks;
    ErrorInfo err;
    EXPECT_FALSE(HublinkDecodeLocks(QString(40000, QLatin1Char('0')), locks, err));
    EXPECT_EQ(err.number, 6);
}

// Guards against answers the protocol allows being taken for late ones: a
// lock table may mark locks with any character but "0", query answers start
// with whatever the controller writes, take and lock answers are returned
// unchanged. Only the echo of a status answer, and what went unanswered,
// tell a late answer apart.
TEST(HublinkLateAnswer, late_answers_are_told_apart_by_what_the_protocol_defines)
{
    // Status: the output asked about is echoed, whatever the address prefix.
    EXPECT_TRUE(HublinkAnswerFits(u"Y007", u"00700005005000"));
    EXPECT_TRUE(HublinkAnswerFits(u"3Y007", u"0070000"));
    EXPECT_FALSE(HublinkAnswerFits(u"Y007", u"00600005005000"));
    EXPECT_FALSE(HublinkAnswerFits(u"Y007", u"00110100000"));
    // Every other answer fits, whatever its characters.
    for (const char16_t *body : { u"0000100000000000", u"0L00LL0000", u"00700005005000", u"R740*E*D*(LEV,V,1)" })
        for (const char16_t *cmd : { u"WS", u"3WS", u"H007001", u"LS007", u"KQDST", u"KQ", u"KCI", u"QSR" })
            EXPECT_TRUE(HublinkAnswerFits(cmd, body))
                << QString::fromUtf16(cmd).toStdString() << " " << QString::fromUtf16(body).toStdString();
    // Short answers carry nothing to match.
    for (const char16_t *cmd : { u"Y001", u"WS", u"H001002", u"LS001", u"KCI", u"QSR" })
        EXPECT_TRUE(HublinkAnswerFits(cmd, u"G")) << QString::fromUtf16(cmd).toStdString();

    struct Case {
        const char16_t *command;
        const char16_t *body;
        QStringList unanswered;
        bool late;
    };
    const Case cases[] = {
        // Nothing unanswered: only a status answer with the wrong echo is late.
        { u"WS", u"0010000086", {}, false },
        { u"Y002", u"0010000086", {}, true },
        { u"H002001", u"0010000086", {}, false },
        // The late status answer of an unanswered question, before the next one's own.
        { u"WS", u"0014000900", { "Y001" }, true },
        { u"3WS", u"0014000900", { "3Y001" }, true },
        { u"H005003", u"0014000900", { "Y009", "Y001" }, true },
        { u"KQLEV", u"0014000900", { "Y001" }, true },
        { u"Y001", u"0014000900", { "Y001" }, false }, // asked again: that is its answer
        { u"Y002", u"0014000900", { "Y001" }, true },
        // Answers that do not echo the unanswered output are this question's.
        { u"WS", u"0L00L00000", { "Y001" }, false },
        { u"KQLEV", u"R740*E*D*(LEV,VIDEO,1)", { "Y001" }, false },
        { u"LS003", u"NO SUCH OUTPUT", { "Y001" }, false },
        { u"WS", u"G", { "Y001" }, false }, // short
        // An unanswered command other than a status question leaves nothing to match.
        { u"WS", u"0014000900", { "WS", "H001002" }, false },
    };
    for (const Case &c : cases)
        EXPECT_EQ(HublinkLateAnswer(c.command, c.body, c.unanswered), c.late)
            << QString::fromUtf16(c.command).toStdString() << " " << QString::fromUtf16(c.body).toStdString()
            << " after " << c.unanswered.join(',').toStdString();
}

TEST(HublinkReceiveBuffer, first_line_dropped_keeps_what_followed)
{
    HublinkReceiveBuffer b;
    ASSERT_TRUE(b.append(u"001AB\r\nG\r"));
    b.dropFirstLine();
    EXPECT_EQ(b.text(), QStringLiteral("G\r"));
    EXPECT_FALSE(b.hasLineEnd());
    EXPECT_TRUE(b.append(u"\n"));
    EXPECT_EQ(b.answer().body, QStringLiteral("G"));
    b.dropFirstLine();
    EXPECT_TRUE(b.isEmpty());
}
