// main() of every test executable: one application object per process and a
// private temporary home, so no test touches the real settings or folders.
#include "testsupport.h"

#include <gtest/gtest.h>

#ifdef EXEL_TEST_GUI
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <cstdlib>

namespace exel::test {
namespace {
QTemporaryDir *g_home = nullptr;
}

QString tempHome()
{
    return g_home ? g_home->path() : QDir::tempPath();
}

} // namespace exel::test

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/exel-test-XXXXXX"));
    exel::test::g_home = &home;
    const QString root = home.path();
    for (const char *sub : {"config", "state", "runtime", "program", "log"})
        QDir(root).mkpath(QLatin1String(sub));
    QFile::setPermissions(root + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                 | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", (root + QStringLiteral("/state")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toLocal8Bit());
    qputenv("EXEL_HOME", (root + QStringLiteral("/program")).toLocal8Bit());
    qputenv("TOLCOM_LOG_DIR", (root + QStringLiteral("/log")).toLocal8Bit());

#ifdef EXEL_TEST_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    exel::test::g_home = nullptr;
    return rc;
}
