// The terminal members: auto-receive routing to the screen, displayed text,
// rows, selection and capture.
#include "controltest.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace controltest;

TEST(TolCommTerminal, auto_receive_routes_input_to_the_screen_not_to_ComInput)
{
    enginetest::PtyPort pty(5);
    ASSERT_TRUE(pty.ok());
    TolComm comm;
    comm.setProperty("CommPort", 5);
    comm.setProperty("Interval", 10);
    comm.setProperty("PortOpen", true);
    comm.setProperty("AutoReceive", true);
    ASSERT_TRUE(comm.property("PortOpen").toBool());
    EXPECT_EQ(comm.property("AutoProcess").toInt() & 1, 1);
    EXPECT_EQ(comm.property("RThreshold").toInt(), 1);
    pty.send("hello\r\n");
    ASSERT_TRUE(waitFor([&] { return comm.property("ScrollContents").toString().contains("hello"); }));
    EXPECT_EQ(comm.property("ComInput").toString(), "");

    // Switching it off gives input back to ComInput and the host's threshold back.
    comm.setProperty("AutoReceive", false);
    EXPECT_EQ(comm.property("RThreshold").toInt(), 0);
    pty.send("data");
    ASSERT_TRUE(enginetest::waitQueued(comm.property("CommHandle").toUInt(), 4));
    EXPECT_EQ(comm.property("ComInput").toString(), "data");
}

TEST(TolCommTerminal, displayed_text_rows_and_selection)
{
    TolComm comm;
    comm.setProperty("DisplayLine", "one");
    comm.setProperty("DisplayLine", "two");
    comm.setProperty("Display", "thr\bree");
    EXPECT_EQ(comm.property("Contents").toString(), "one\ntwo\nthree");
    EXPECT_EQ(comm.property("CursorRow").toInt(), 2);
    EXPECT_EQ(comm.property("CursorColumn").toInt(), 5);
    comm.setProperty("Rows", 2);
    EXPECT_EQ(comm.property("Contents").toString(), "two\nthree");
    EXPECT_EQ(comm.property("ScrollContents").toString(), "one\ntwo\nthree");

    comm.setProperty("SelStart", 4);
    comm.setProperty("SelLength", 3);
    EXPECT_EQ(comm.property("SelText").toString(), "two");
    comm.setProperty("SelText", "TWO!");
    EXPECT_EQ(comm.property("ScrollContents").toString(), "one\nTWO!\nthree");
    comm.setProperty("SelStart", 1000);
    EXPECT_EQ(comm.property("SelText").toString(), "");

    comm.setProperty("Contents", "");
    EXPECT_EQ(comm.property("ScrollContents").toString(), "");
}

TEST(TolCommTerminal, capture_file_receives_the_screen_text)
{
    const QString path = exel::test::tempHome() + "/capture.txt";
    QFile::remove(path); // capture appends
    TolComm comm;
    comm.setProperty("CaptureFilename", path);
    ASSERT_EQ(comm.lastError(), 0);
    comm.setProperty("DisplayLine", "logged");
    comm.setProperty("CaptureFilename", "");
    comm.setProperty("DisplayLine", "not logged");
    EXPECT_EQ(exel::test::readFile(path), QByteArray("logged\n"));

    comm.setProperty("CaptureFilename", exel::test::tempHome() + "/no/such/folder/capture.txt");
    EXPECT_NE(comm.lastError(), 0);
    EXPECT_EQ(comm.property("CaptureFilename").toString(), "");
}
