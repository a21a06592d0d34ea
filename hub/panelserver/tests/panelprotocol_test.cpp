// The panel server's protocol pieces, table-driven: request framing and
// checksums, command parsing, and answers that the panel's own decoders read
// back to the state they were written from.
#include "hublinkprotocol.h"
#include "panelprotocol.h"

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

namespace {
QByteArray framed(const char *body)
{
    return HublinkFrame(QString::fromLatin1(body)).toLatin1();
}
} // namespace

TEST(PanelReader, framing)
{
    struct Case {
        QByteArray in;
        std::vector<PanelRequest::Kind> kinds;
        QStringList bodies; // of the Command requests
    };
    using K = PanelRequest::Kind;
    const std::vector<Case> cases {
        { framed("Y001"), { K::Command }, { "Y001" } },
        { framed("Y001") + framed("2WS"), { K::Command, K::Command }, { "Y001", "2WS" } },
        { "Y001>;\r\n", { K::BadChecksum }, {} },
        { "Y\r\n", { K::BadChecksum }, {} },
        { "\r\n\r\n\n", {}, {} },
        { "Y001>:\r", { K::Command }, { "Y001" } }, // CR alone ends a line
        { "Y001>:", {}, {} }, // no line end yet
        { QByteArray(600, 'x') + "\r\n" + framed("WS"), { K::TooLong, K::Command }, { "WS" } },
    };
    for (const Case &c : cases) {
        PanelRequestReader r;
        std::vector<PanelRequest> out;
        r.feed(c.in, out);
        ASSERT_EQ(out.size(), c.kinds.size()) << c.in.constData();
        QStringList bodies;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].kind, c.kinds[i]) << c.in.constData();
            if (out[i].kind == K::Command)
                bodies << out[i].body;
        }
        EXPECT_EQ(bodies, c.bodies) << c.in.constData();
    }
}

TEST(PanelReader, splitAnywhere_sameRequests)
{
    const QByteArray all = framed("Y001") + "junk\r\n" + framed("H002003000");
    for (qsizetype cut = 0; cut <= all.size(); ++cut) {
        PanelRequestReader r;
        std::vector<PanelRequest> out;
        r.feed(all.left(cut), out);
        r.feed(all.mid(cut), out);
        ASSERT_EQ(out.size(), 3u) << cut;
        EXPECT_EQ(out[2].body, QStringLiteral("H002003000"));
    }
    // An endless line without a line end never holds more than the limit.
    PanelRequestReader r;
    std::vector<PanelRequest> out;
    for (int i = 0; i < 100; ++i)
        r.feed(QByteArray(1000, 'a'), out);
    EXPECT_LE(r.pending(), PanelRequestReader::kMaxLine);
    EXPECT_EQ(out.size(), 1u);
}

TEST(PanelParser, commands)
{
    using K = PanelCommand::Kind;
    struct Case {
        const char *body;
        K kind;
        int address;
        int output;
        std::vector<int16_t> inputs;
    };
    const std::vector<Case> cases {
        { "Y001", K::Status, 0, 1, {} },
        { "3Y120", K::Status, 3, 120, {} },
        { "Y000", K::Malformed, 0, 0, {} },
        { "Y01", K::Malformed, 0, -1, {} },
        { "Y0a1", K::Malformed, 0, -1, {} },
        { "WS", K::Locks, 0, 0, {} },
        { "12WS", K::Locks, 12, 0, {} },
        { "LS004", K::LockToggle, 0, 4, {} },
        { "LS04", K::Malformed, 0, -1, {} },
        { "H002003000", K::Take, 0, 2, { 3, 0 } },
        { "H002", K::Take, 0, 2, {} },
        { "H00200", K::Malformed, 0, 2, {} },
        { "H002x03", K::Malformed, 0, 2, {} },
        { "KCI", K::Identity, 0, 0, {} },
        { "KQSRC", K::Query, 0, 0, {} },
        { "KQ", K::QueryNext, 0, 0, {} },
        { "QSR", K::Repeat, 0, 0, {} },
        { "ZZ", K::Unknown, 0, 0, {} },
        { "", K::Unknown, 0, 0, {} },
        { "999999WS", K::BadAddress, 0, 0, {} },
        { "40000WS", K::BadAddress, 0, 0, {} },
    };
    for (const Case &c : cases) {
        const PanelCommand p = parsePanelCommand(QString::fromLatin1(c.body));
        EXPECT_EQ(p.kind, c.kind) << c.body;
        if (p.kind == K::BadAddress)
            continue;
        EXPECT_EQ(p.address, c.address) << c.body;
        if (c.kind != K::Malformed || c.output > 0) {
            EXPECT_EQ(p.output, c.output) << c.body;
        }
        EXPECT_EQ(p.inputs, c.inputs) << c.body;
    }
}

TEST(PanelWriter, statusAnswer_decodesBackForEveryWidth)
{
    for (int n = 1; n <= 9; ++n) {
        OutputStatus s;
        for (int i = 0; i < n; ++i) {
            s.input.push_back(static_cast<int16_t>((i * 7) % 12));
            s.flag.push_back(i % 3 == 1);
        }
        s.readAt = 0;
        const QByteArray bytes = statusAnswer(42, s);
        const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(bytes));
        ASSERT_TRUE(a.good()) << n;
        EXPECT_TRUE(a.body.startsWith(QStringLiteral("042")));
        EXPECT_TRUE(HublinkAnswerFits(u"Y042", a.body));
        HublinkStatus st;
        ErrorInfo error;
        ASSERT_TRUE(HublinkDecodeStatus(a.body, st, error));
        ASSERT_EQ(st.levels, n);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(st.intSrc[static_cast<size_t>(i)], s.input[static_cast<size_t>(i)] - 1) << n << ' ' << i;
            EXPECT_EQ(st.bolErr[static_cast<size_t>(i)], s.flag[static_cast<size_t>(i)]) << n << ' ' << i;
        }
    }
}

TEST(PanelWriter, locksAndRelayedAnswers)
{
    const QByteArray bytes = locksAnswer({ false, true, false });
    const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(bytes));
    ASSERT_TRUE(a.good());
    EXPECT_EQ(a.body, QStringLiteral("010"));
    EXPECT_EQ(relayAnswer(QStringLiteral("G")), QByteArray("G\r\n"));
    EXPECT_EQ(relayAnswer(QStringLiteral("L")), QByteArray("L\r\n"));
    EXPECT_EQ(
        HublinkCheckAnswer(QString::fromLatin1(relayAnswer(QStringLiteral("K*E*N")))).body, QStringLiteral("K*E*N"));
}
