// FieldSplit and ConfigurationTitle, table-driven.
#include "xelcfgloadutilities.h"

#include <gtest/gtest.h>

using exel::XelCfgLoadUtilities;

TEST(FieldSplit, table)
{
    struct Case {
        QString line;
        QStringList fields;
    } cases[] = {
        { "ctl,a,1,2", { "CTL", "A", "1", "2" } },
        { " SRC , cam 1 ,LEV1, 3 ", { "SRC", "CAM 1", "LEV1", "3" } },
        { "SRC,NAME,, ", { "SRC", "NAME", "" } }, // one trailing empty field dropped
        { "SNS,SET,", { "SNS", "SET" } },
        { "SNS,SET,,X", { "SNS", "SET", "", "X" } }, // inner empty fields kept
        { "WORD", { "WORD" } },
        { "", { "" } },
        { ",", { "" } },
    };
    for (const Case &c : cases)
        EXPECT_EQ(XelCfgLoadUtilities::FieldSplit(c.line), c.fields) << c.line.toStdString();
}

TEST(ConfigurationTitle, table)
{
    EXPECT_EQ(XelCfgLoadUtilities::ConfigurationTitle("/home/a/SITE.A.CFG"), "SITE");
    EXPECT_EQ(XelCfgLoadUtilities::ConfigurationTitle("C:\\CFG\\MAIN.CFG"), "MAIN");
    EXPECT_EQ(XelCfgLoadUtilities::ConfigurationTitle("D:PLAIN"), "PLAIN");
    EXPECT_EQ(XelCfgLoadUtilities::ConfigurationTitle("/x.y/noext"), "noext");
}
