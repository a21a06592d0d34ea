// The Videohub block reader and request parser: framing, bounds and every
// kind of item, table-driven.
#include "videohubprotocol.h"

#include <gtest/gtest.h>

using namespace exel::hub;

namespace {

std::vector<VideohubBlock> readAll(const QByteArray &bytes, VideohubBlockReader::Fault *fault = nullptr)
{
    VideohubBlockReader reader;
    std::vector<VideohubBlock> out;
    const auto f = reader.feed(bytes.constData(), bytes.size(), out);
    if (fault)
        *fault = f;
    return out;
}

VideohubRequest parse(const QByteArray &bytes, int inputs = 40, int outputs = 20)
{
    const auto blocks = readAll(bytes);
    return blocks.size() == 1 ? parseVideohubBlock(blocks.front(), inputs, outputs) : VideohubRequest {};
}

} // namespace

TEST(VideohubBlockReader, blocksAcrossAnySplitAndLineEnding)
{
    const QByteArray text = "PING:\n\nVIDEO OUTPUT ROUTING:\r\n3 5\r\n4 6\r\n\r\n\n\nVIDEO OUTPUT LOCKS:\n";
    // Fed one byte at a time it reads the same as in one piece.
    VideohubBlockReader reader;
    std::vector<VideohubBlock> out;
    for (const char c : text)
        reader.feed(&c, 1, out);
    ASSERT_EQ(out.size(), 2u); // the lock block has no end yet
    EXPECT_EQ(out[0].header, QByteArray("PING:"));
    EXPECT_TRUE(out[0].items.empty());
    EXPECT_EQ(out[1].header, QByteArray("VIDEO OUTPUT ROUTING:"));
    EXPECT_EQ(out[1].items, (std::vector<QByteArray> { "3 5", "4 6" }));
    reader.feed("\n", 1, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].header, QByteArray("VIDEO OUTPUT LOCKS:"));
}

TEST(VideohubBlockReader, overLongLinesHugeBlocksAndBinaryAreFaults)
{
    VideohubBlockReader::Fault f {};
    readAll(QByteArray(VideohubBlockReader::kMaxLine, 'A') + "\n", &f);
    EXPECT_EQ(f, VideohubBlockReader::Fault::None); // exactly the limit is fine
    readAll(QByteArray(VideohubBlockReader::kMaxLine + 1, 'A'), &f);
    EXPECT_EQ(f, VideohubBlockReader::Fault::LineTooLong); // no line end needed to notice

    QByteArray big = "VIDEO OUTPUT ROUTING:\n";
    for (int i = 0; i <= VideohubBlockReader::kMaxItems; ++i)
        big += "1 1\n";
    readAll(big, &f);
    EXPECT_EQ(f, VideohubBlockReader::Fault::BlockTooLong);

    const auto labels = readAll("INPUT LABELS:\n0 Kamera \xc3\xa9\tzwei\n\n", &f);
    EXPECT_EQ(f, VideohubBlockReader::Fault::None); // UTF-8 and tabs are text
    EXPECT_EQ(labels.size(), 1u);
    readAll(QByteArray("PING:\n\0\n", 8), &f);
    EXPECT_EQ(f, VideohubBlockReader::Fault::Binary);
    readAll("\x1b[2J", &f);
    EXPECT_EQ(f, VideohubBlockReader::Fault::Binary);

    // A fault is final: nothing after it is read.
    VideohubBlockReader reader;
    std::vector<VideohubBlock> out;
    reader.feed("\x01", 1, out);
    EXPECT_EQ(reader.feed("PING:\n\n", 7, out), VideohubBlockReader::Fault::Binary);
    EXPECT_TRUE(out.empty());
}

TEST(VideohubRequestParser, kindsAndBounds)
{
    using Kind = VideohubRequest::Kind;
    struct Case {
        const char *text;
        Kind kind;
    };
    const Case cases[] = {
        { "PING:\n\n", Kind::Ping },
        { "PING:\n1 2\n\n", Kind::Bad },
        { "VIDEO OUTPUT ROUTING:\n\n", Kind::Query },
        { "INPUT LABELS:\n\n", Kind::Query },
        { "VIDEOHUB DEVICE:\n\n", Kind::Query },
        { "END PRELUDE:\n\n", Kind::Bad }, // not something to ask for
        { "VIDEO MONITORING OUTPUT ROUTING:\n0 1\n\n", Kind::Bad }, // a block this device has not
        { "SERIAL PORT ROUTING:\n\n", Kind::Bad },
        { "video output routing:\n1 2\n\n", Kind::Bad }, // headers are upper case
        { "VIDEO OUTPUT ROUTING\n1 2\n\n", Kind::Bad }, // no colon
        { "VIDEO OUTPUT ROUTING:\n19 39\n\n", Kind::Routing }, // the last output and input
        { "VIDEO OUTPUT ROUTING:\n20 0\n\n", Kind::Bad }, // one past the outputs
        { "VIDEO OUTPUT ROUTING:\n0 40\n\n", Kind::Bad }, // one past the inputs
        { "VIDEO OUTPUT ROUTING:\n-1 0\n\n", Kind::Bad },
        { "VIDEO OUTPUT ROUTING:\n1\n\n", Kind::Bad },
        { "VIDEO OUTPUT ROUTING:\n1 2 3\n\n", Kind::Bad },
        { "VIDEO OUTPUT ROUTING:\n1 0x2\n\n", Kind::Bad },
        { "VIDEO OUTPUT ROUTING:\n00001 2\n\n", Kind::Bad }, // more digits than any port has
        { "VIDEO OUTPUT ROUTING:\n1  2\n\n", Kind::Routing }, // runs of spaces split alike
        { "VIDEO OUTPUT LOCKS:\n3 O\n4 U\n5 F\n\n", Kind::Locks },
        { "VIDEO OUTPUT LOCKS:\n3 L\n\n", Kind::Bad }, // L is the server's word only
        { "VIDEO OUTPUT LOCKS:\n3 o\n\n", Kind::Bad },
        { "VIDEO OUTPUT LOCKS:\n3 OU\n\n", Kind::Bad },
        { "OUTPUT LABELS:\n19 Monitor wall left\n\n", Kind::Labels },
        { "OUTPUT LABELS:\n20 x\n\n", Kind::Bad },
        { "INPUT LABELS:\n39\n\n", Kind::Labels }, // an empty label
        { "CONFIGURATION:\nTake Mode: true\n\n", Kind::Bad },
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse(c.text).kind, c.kind) << c.text;
}

TEST(VideohubRequestParser, itemsInOrderAndOneBadItemRefusesTheBlock)
{
    const VideohubRequest r = parse("VIDEO OUTPUT ROUTING:\n3 5\n0 0\n3 7\n\n");
    ASSERT_EQ(r.kind, VideohubRequest::Kind::Routing);
    EXPECT_EQ(r.routes, (std::vector<std::pair<int, int>> { { 3, 5 }, { 0, 0 }, { 3, 7 } }));

    const VideohubRequest bad = parse("VIDEO OUTPUT ROUTING:\n3 5\n99 1\n4 4\n\n");
    EXPECT_EQ(bad.kind, VideohubRequest::Kind::Bad);
    EXPECT_TRUE(bad.routes.empty()); // nothing of it may be applied
    EXPECT_TRUE(bad.problem.contains(QStringLiteral("99 1")));

    const VideohubRequest locks = parse("VIDEO OUTPUT LOCKS:\n3 O\n4 F\n\n");
    EXPECT_EQ(locks.locks, (std::vector<std::pair<int, char>> { { 3, 'O' }, { 4, 'F' } }));

    const VideohubRequest labels = parse("INPUT LABELS:\n2 Cam \xc3\xa9\n\n");
    ASSERT_EQ(labels.labels.size(), 1u);
    EXPECT_TRUE(labels.inputLabels);
    EXPECT_EQ(labels.labels[0].second, QString::fromUtf8("Cam \xc3\xa9"));
}

TEST(VideohubWriter, blocksEndWithABlankLine)
{
    QByteArray out;
    appendVideohubBlock(out, "VIDEO OUTPUT ROUTING", { videohubItem(3, "5"), videohubItem(10, "0") });
    appendVideohubBlock(out, "END PRELUDE", {});
    EXPECT_EQ(out, QByteArray("VIDEO OUTPUT ROUTING:\n3 5\n10 0\n\nEND PRELUDE:\n\n"));
    // What the writer makes, the reader reads back.
    const auto blocks = readAll(out);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(parseVideohubBlock(blocks[0], 20, 20).routes, (std::vector<std::pair<int, int>> { { 3, 5 }, { 10, 0 } }));
}
