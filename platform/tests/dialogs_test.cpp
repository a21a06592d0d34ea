// The dialog interface's filter conversion and the scripted stand-in.
#include "dialogs.h"

#include <gtest/gtest.h>

using namespace exel;

TEST(Dialogs, designFiltersBecomeQtFiltersInTheSameOrder)
{
    EXPECT_EQ(qtFileFilter(QStringLiteral("Data Files (*.DAT)|*.DAT|Config Files (*.CFG)|*.CFG|All files (*.*)|*.*")),
              QStringLiteral("Data Files (*.DAT *.dat);;Config Files (*.CFG *.cfg);;All files (*)"));
}

TEST(Dialogs, scriptedAnswersInOrderThenDefaults)
{
    ScriptedDialogs d;
    d.queueAnswer(MsgAnswer::Cancel);
    EXPECT_EQ(d.messageBox("one", MsgButtons::OkCancel, MsgIcon::Exclamation, "T"), MsgAnswer::Cancel);
    EXPECT_EQ(d.messageBox("two", MsgButtons::OkCancel, MsgIcon::None, ""), MsgAnswer::Ok);
    EXPECT_EQ(d.messageBox("three", MsgButtons::YesNo, MsgIcon::Question, ""), MsgAnswer::Yes);
    EXPECT_FALSE(d.inputBox("name?", "", "").has_value());
    d.queueInput(QStringLiteral("STUDIO"));
    EXPECT_EQ(d.inputBox("name?", "", "").value(), QStringLiteral("STUDIO"));
    EXPECT_EQ(d.messageTexts(), (QStringList{"one", "two", "three"}));
    EXPECT_EQ(d.shown()[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(d.shown()[0].title, QStringLiteral("T"));
}
