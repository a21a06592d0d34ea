// TolCommCore without a window: a QCoreApplication only, the shipped
// libtolcom_core.so and libtolcom32.so, and every member driven by name as
// the router link drives it, over a pseudo-terminal whose far end is played
// here by a small Hayes modem and line peer that answers on the event loop.
#include "tolcom32.h"
#include "tolcommcore.h"

#include <testsupport.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// The far end of COM2: answers modem commands like a Hayes modem, and any
// other line with "=" followed by the line, all from the event loop (the
// core's waits pump it), so no thread is needed.
class PtyPeer {
public:
    PtyPeer()
    {
        int slave = -1;
        char name[256] = {};
        termios raw {};
        cfmakeraw(&raw);
        if (openpty(&m_master, &slave, name, &raw, nullptr) != 0)
            return;
        m_slave = slave;
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        const QString dir = exel::test::tempHome() + QStringLiteral("/dev");
        QDir().mkpath(dir);
        m_link = dir + QStringLiteral("/COM2");
        QFile::remove(m_link);
        QFile::link(QString::fromLocal8Bit(name), m_link);
        qputenv("TOLCOM_DEVICE_DIR", dir.toLocal8Bit());
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readLines(); });
    }
    ~PtyPeer()
    {
        hangUp();
        QFile::remove(m_link);
    }
    bool ok() const { return m_master >= 0; }
    // Every line the peer got, in order (without its carriage return).
    std::vector<std::string> lines;
    void hangUp()
    {
        m_notifier.reset();
        for (int *fd : { &m_master, &m_slave }) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

private:
    void readLines()
    {
        char buf[512];
        ssize_t n;
        while ((n = ::read(m_master, buf, sizeof buf)) > 0)
            m_pending.append(buf, size_t(n));
        size_t end;
        while ((end = m_pending.find('\r')) != std::string::npos) {
            const std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            lines.push_back(line);
            answer(line);
        }
    }
    void answer(const std::string &line)
    {
        std::string reply;
        if (line.rfind("ATD", 0) == 0)
            reply = "\r\nCONNECT 9600\r\n";
        else if (line.rfind("AT", 0) == 0)
            reply = "\r\nOK\r\n";
        else if (!line.empty())
            reply = "=" + line + "\r";
        if (!reply.empty())
            (void)!::write(m_master, reply.data(), reply.size());
    }

    int m_master = -1;
    int m_slave = -1;
    QString m_link;
    std::string m_pending;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Receives the core's signals by their names, as a host connects them.
class Host : public QObject {
    Q_OBJECT
public:
    explicit Host(QObject *comm)
    {
        connect(comm, SIGNAL(CarrierChanged()), this, SLOT(onCarrier()));
        connect(comm, SIGNAL(RuntimeError(int, QString)), this, SLOT(onError(int, QString)));
    }
    int carrierChanges = 0;
    std::vector<std::pair<int, QString>> errors;

public slots:
    void onCarrier() { ++carrierChanges; }
    void onError(int number, const QString &text) { errors.emplace_back(number, text); }
};

int invokeInt(QObject *o, const char *method, int arg)
{
    int r = -1;
    EXPECT_TRUE(QMetaObject::invokeMethod(o, method, Qt::DirectConnection, Q_RETURN_ARG(int, r), Q_ARG(int, arg)));
    return r;
}

int lastError(QObject *o)
{
    int r = -1;
    EXPECT_TRUE(QMetaObject::invokeMethod(o, "lastError", Qt::DirectConnection, Q_RETURN_ARG(int, r)));
    return r;
}

// Reads what arrived until it holds want (the link's own loop: wait, then read).
QString readUntil(QObject *comm, const QString &want)
{
    QString got;
    QElapsedTimer t;
    t.start();
    while (!got.contains(want) && t.elapsed() < 3000) {
        if (invokeInt(comm, "WaitForInput", 200) > 0 && comm->property("InBufferCount").toInt() > 0)
            got += comm->property("ComInput").toString();
    }
    return got;
}

} // namespace

TEST(TolCommCoreHeadless, runs_without_a_gui_application)
{
    ASSERT_NE(QCoreApplication::instance(), nullptr);
    EXPECT_FALSE(QCoreApplication::instance()->inherits("QGuiApplication"));
    TolCommCore comm;
    // Window-only members are the widget's, not the core's.
    for (const char *member : { "BackColor", "Font", "hwnd", "Contents", "FillModemCombo", "FillModemList" })
        EXPECT_LT(comm.metaObject()->indexOfProperty(member), 0) << member;
    EXPECT_NE(comm.property("CommHandle").toUInt(), 0u);
    EXPECT_EQ(comm.property("ModemTitle").toString(), "Generic modem");
    EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,1");
}

TEST(TolCommCoreHeadless, link_conversation_by_member_name_over_a_pty)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    TolCommCore comm;
    Host host(&comm);
    ASSERT_TRUE(comm.setProperty("CommPort", 2));
    ASSERT_TRUE(comm.setProperty("Settings", "9600,N,8,2"));
    comm.setProperty("AutoReceive", false);
    comm.setProperty("InputLen", 0);
    comm.setProperty("RTSEnable", true);
    comm.setProperty("PortOpen", true);
    ASSERT_TRUE(comm.property("PortOpen").toBool()) << comm.property("CommPort").toInt();
    EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,2");
    comm.setProperty("Handshaking", 0);

    comm.setProperty("InBufferCount", 0);
    comm.setProperty("Output", "S?1\r");
    EXPECT_EQ(readUntil(&comm, "=S?1\r"), "=S?1\r");
    comm.setProperty("OutputLine", "T 3 4");
    EXPECT_EQ(readUntil(&comm, "=T 3 4\r"), "=T 3 4\r");
    EXPECT_EQ(comm.property("OutBufferCount").toInt(), 0);

    // A refused value: the run-time error convention, and the value kept.
    comm.setProperty("Settings", "9600,x,8,1");
    EXPECT_EQ(lastError(&comm), 380);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0].second, "Invalid property value");
    EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,2");
    QMetaObject::invokeMethod(&comm, "clearError", Qt::DirectConnection);
    EXPECT_EQ(lastError(&comm), 0);
    host.errors.clear();

    // The modem members the link uses: list entry, strings, init, dial, hang-up.
    comm.setProperty("ModemIndex", 1);
    EXPECT_EQ(comm.property("ModemInitCommand").toString(), "ATZ^M");
    comm.setProperty("ModemInitCommand", "ATE0V1^M");
    comm.setProperty("ModemHangUpCommand", "ATH0^M");
    EXPECT_EQ(comm.property("ModemHangUpCommand").toString(), "ATH0^M");
    EXPECT_TRUE(comm.property("InitModem").toBool());
    comm.setProperty("Dial", "5551234");
    EXPECT_EQ(comm.property("Dial").toString(), "CONNECTED");
    EXPECT_TRUE(comm.property("CDHolding").toBool());
    EXPECT_TRUE(comm.property("HangUp").toBool());
    EXPECT_FALSE(comm.property("CDHolding").toBool());
    const std::vector<std::string> modemLines(peer.lines.end() - 3, peer.lines.end());
    EXPECT_EQ(modemLines, (std::vector<std::string> { "ATE0V1", "ATDT5551234", "ATH0" }));
    EXPECT_TRUE(host.errors.empty());

    comm.setProperty("PortOpen", false);
    EXPECT_FALSE(comm.property("PortOpen").toBool());
    comm.setProperty("Output", "late");
    EXPECT_EQ(lastError(&comm), TolCommCore::kErrPortNotOpen);
}

TEST(TolCommCoreHeadless, a_vanished_device_raises_CarrierChanged_and_the_error_at_once)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    TolCommCore comm;
    Host host(&comm);
    comm.setProperty("CommPort", 2);
    comm.setProperty("Interval", 10);
    comm.setProperty("PortOpen", true);
    ASSERT_TRUE(comm.property("PortOpen").toBool());
    peer.hangUp();
    QElapsedTimer t;
    t.start();
    while (host.errors.empty() && t.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    EXPECT_EQ(host.carrierChanges, 1);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0].first, EIO);
    EXPECT_FALSE(comm.property("PortOpen").toBool());
    QString why;
    QMetaObject::invokeMethod(&comm, "lastOpenError", Qt::DirectConnection, Q_RETURN_ARG(QString, why));
    EXPECT_EQ(why, "COM2: The device has gone away (Input/output error); the port is closed");
}

// Guards against the engine's windows being built without a QApplication (Qt aborts the process).
TEST(TolCommCoreHeadless, the_engines_windows_are_refused_without_a_gui_application)
{
    TolCommCore comm;
    const uint32_t h = comm.property("CommHandle").toUInt();
    QObject notABox;
    EXPECT_EQ(FillComboWithModemNames(h, &notABox), 0);
    EXPECT_EQ(FillListWithModemNames(h, &notABox), 0);
    EXPECT_EQ(PortSettingsDialog(h, nullptr), 0);
    EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,1");
}

#include "core_test.moc"
