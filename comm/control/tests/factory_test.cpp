// Creation by ProgID and per-user registration of the library.
#include "controlfactory.h"
#include "tolcomm.h"

#include <testsupport.h>

#include <QFileInfo>

#include <gtest/gtest.h>

TEST(TolCommFactory, creates_a_new_control_by_progid)
{
    QWidget host;
    QWidget *w = exel::createControl("TolLinkware.TolComm", &host);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parent(), &host);
    EXPECT_NE(qobject_cast<TolComm *>(w), nullptr);
    // Set up as a new control.
    EXPECT_EQ(w->property("ModemTitle").toString(), "Generic modem");
    EXPECT_NE(w->property("CommHandle").toUInt(), 0u);
    // ProgIDs are not case-sensitive; unknown ones give nothing.
    EXPECT_NE(exel::createControl("tollinkware.tolcomm", &host), nullptr);
    EXPECT_EQ(exel::createControl("TolLinkware.Other", &host), nullptr);
    EXPECT_TRUE(exel::registeredControlClasses().contains("TolLinkware.TolComm"));
}

TEST(TolCommFactory, registration_records_and_removes_the_library_per_user)
{
    const QString ini = exel::registrationFile();
    EXPECT_TRUE(ini.startsWith(exel::test::tempHome())) << ini.toStdString();
    ASSERT_EQ(DllRegisterServer(), 0);
    const QString lib = exel::registeredLibrary("TolLinkware.TolComm");
    EXPECT_TRUE(QFileInfo(lib).isAbsolute());
    EXPECT_TRUE(QFileInfo::exists(lib));
    EXPECT_TRUE(lib.contains("libtolcom.so")) << lib.toStdString();
    ASSERT_EQ(DllUnregisterServer(), 0);
    EXPECT_EQ(exel::registeredLibrary("TolLinkware.TolComm"), "");
    EXPECT_TRUE(QFileInfo::exists(ini));
}
