// Two real editor processes on one configuration database.
#include "dialogs.h"
#include "testsupport.h"
#include "xelcfgdb.h"
#include "xelcfgopen.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <gtest/gtest.h>

using namespace exel;

namespace {

// Waits (polling, bounded) until done() holds; false when it never did.
template <typename F> bool waitFor(F done, int ms = 60000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

class TwoEditors : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_home = test::tempHome() + QStringLiteral("/two-editors");
        QDir(m_home).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_home + "/program"));
        ASSERT_TRUE(QDir().mkpath(m_home + "/config"));
        m_db = m_home + "/program/CFGDB.mdb";
    }
    void TearDown() override
    {
        for (QProcess *p : { &m_first, &m_second })
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(10000);
            }
    }
    void start(QProcess &p)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("EXEL_HOME", m_home + "/program");
        env.insert("XDG_CONFIG_HOME", m_home + "/config");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(XELCFG_BINARY), {});
    }
    // The number of controllers, read without disturbing the editor that holds the file.
    int controllers()
    {
        int n = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
            db.setDatabaseName(m_db);
            db.setConnectOptions("QSQLITE_OPEN_READONLY");
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec("SELECT COUNT(*) FROM Controller") && q.next())
                    n = q.value(0).toInt();
            }
        }
        QSqlDatabase::removeDatabase("peek");
        return n;
    }
    QByteArray fileHash() const { return QCryptographicHash::hash(test::readFile(m_db), QCryptographicHash::Sha256); }

    QString m_home, m_db;
    QProcess m_first, m_second;
};

// Guards against a second editor on the same CFGDB.mdb: both could add the same
// controller name, and a write during the other's transaction froze the window.
TEST_F(TwoEditors, theSecondSaysWhoHoldsTheDatabaseAndOpensNothing)
{
    start(m_first);
    ASSERT_TRUE(m_first.waitForStarted(10000));
    const qint64 firstPid = m_first.processId();
    // The first editor holds the lock and has loaded the default configuration.
    ASSERT_TRUE(waitFor([&] {
        QLockFile lock(m_db + ".lock");
        qint64 pid = 0;
        return lock.getLockInfo(&pid, nullptr, nullptr) && pid == firstPid && controllers() == 1;
    })) << m_first.readAllStandardError().toStdString();
    const QByteArray before = fileHash();

    // The second editor process: refused, with the holder named, before it touches the file.
    start(m_second);
    ASSERT_TRUE(m_second.waitForStarted(10000));
    QByteArray said;
    ASSERT_TRUE(waitFor([&] {
        said += m_second.readAllStandardError();
        return said.contains("Close the other editor") || m_second.state() == QProcess::NotRunning;
    })) << said.toStdString();
    const QString text = QString::fromLocal8Bit(said);
    EXPECT_TRUE(text.contains("is already open in another editor: process " + QString::number(firstPid) + " (xelcfg)"))
        << said.toStdString();
    const QString user = QFileInfo(m_db + ".lock").owner();
    EXPECT_TRUE(text.contains(" of user " + user)) << said.toStdString();
    EXPECT_EQ(fileHash(), before) << "the second editor wrote to the database";
    EXPECT_EQ(m_first.state(), QProcess::Running);

    // The same refusal seen by an editor in this process: the box, and no database.
    {
        ScriptedDialogs dialogs;
        XelCfgDb db(&dialogs, m_db);
        EXPECT_FALSE(openConfigurationDatabase(db, dialogs));
        EXPECT_FALSE(db.isOpen());
        ASSERT_EQ(dialogs.count(), 1);
        EXPECT_EQ(dialogs.shown()[0].title, "Database In Use");
        EXPECT_TRUE(dialogs.lastText().startsWith("The configuration database " + m_db
            + " is already open in another editor: process " + QString::number(firstPid) + " (xelcfg)"))
            << dialogs.lastText().toStdString();
    }

    // An editor that died leaves its lock behind; the next one takes it over.
    m_second.kill();
    m_second.waitForFinished(10000);
    m_first.kill();
    ASSERT_TRUE(m_first.waitForFinished(10000));
    ASSERT_TRUE(QFileInfo::exists(m_db + ".lock"));
    ScriptedDialogs dialogs;
    XelCfgDb db(&dialogs, m_db);
    EXPECT_TRUE(openConfigurationDatabase(db, dialogs)) << dialogs.lastText().toStdString();
    EXPECT_EQ(db.Controllers(), QStringList { "CNTRL1" });
}

} // namespace
