// Ports on network serial servers: the port map, the Telnet/RFC 2217 codec,
// and the engine over a raw and a Telnet connection to a small in-process
// server that records what it gets (ser2net itself is exercised by the link's
// tests).
#include "enginetest.h"
#include "portmap.h"
#include "telnetcodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

using namespace enginetest;
using tolcom::MapLine;
using tolcom::PortTarget;
using tolcom::TelnetCodec;

namespace {

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s.push_back(char(b));
    return s;
}

// The listening side of a one-connection test server on a loopback port.
// The server's own loop runs on a thread from start() to stop(); a derived
// server calls both, so the loop never outlives the members it uses.
class OneConnectionServer {
public:
    int port() const { return m_port; }

protected:
    OneConnectionServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        ::listen(m_listen, 1);
    }
    virtual ~OneConnectionServer() = default;
    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    void stop()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_conn >= 0)
            ::shutdown(m_conn, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
        if (m_conn >= 0)
            ::close(m_conn);
    }
    virtual void run() = 0;

    int m_listen = -1;
    std::atomic<int> m_conn { -1 };
    int m_port = 0;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

// One-connection TCP server on a loopback port: greets with `hello`, then
// records what arrives and sends `reply` to every read (or floods `flood`
// without pause until the peer goes).
class LoopbackServer : public OneConnectionServer {
public:
    explicit LoopbackServer(std::string hello = {}, std::string flood = {})
        : m_hello(std::move(hello))
        , m_flood(std::move(flood))
    {
        start();
    }
    ~LoopbackServer() override { stop(); }
    std::string received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    void setReply(std::string reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reply = std::move(reply);
    }
    // Waits until what was received contains `part`.
    bool waitFor(const std::string &part, int ms = 3000)
    {
        for (int i = 0; i < ms / 5; ++i) {
            if (received().find(part) != std::string::npos)
                return true;
            QThread::msleep(5);
        }
        return false;
    }
    // The server goes away.
    void hangUp()
    {
        if (m_conn >= 0)
            ::shutdown(m_conn, SHUT_RDWR);
    }

private:
    void run() override
    {
        const int c = ::accept(m_listen, nullptr, nullptr);
        if (c < 0)
            return;
        m_conn = c;
        if (!m_hello.empty())
            (void)!::send(c, m_hello.data(), m_hello.size(), MSG_NOSIGNAL);
        char buf[4096];
        while (!m_stop) {
            if (!m_flood.empty()) {
                if (::send(c, m_flood.data(), m_flood.size(), MSG_NOSIGNAL) < 0)
                    return;
                continue;
            }
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            std::string reply;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.append(buf, size_t(n));
                reply = m_reply;
            }
            if (!reply.empty())
                (void)!::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    }

    std::string m_hello, m_flood, m_reply, m_received;
    std::mutex m_mutex;
};

// An RFC 2217 access server that holds the client to the rules: it agrees
// to the COM-port option only after the client offered it, counts every
// COM-port command that comes before that agreement or in a server's code
// (100 and up), asks for the client's signature, answers each setting, and
// reports only the line states the client's mask asked for.
class StrictRfc2217Server : public OneConnectionServer {
public:
    StrictRfc2217Server() { start(); }
    ~StrictRfc2217Server() override { stop(); }
    std::vector<std::string> violations()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_violations;
    }
    std::string clientSignature()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_signature;
    }
    bool agreed()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_agreed;
    }
    // The remote port saw these line-state bits; reported as far as the mask allows.
    void lineState(uint8_t bits)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint8_t shown = bits & m_lineMask;
        if (shown)
            sendLocked(bytes({ 255, 250, 44, 106, shown, 255, 240 }));
    }

private:
    void sendLocked(const std::string &b)
    {
        if (m_conn >= 0)
            (void)!::send(m_conn, b.data(), b.size(), MSG_NOSIGNAL);
    }
    void command(uint8_t cmd, const std::string &value)
    {
        if (!m_agreed)
            m_violations.push_back("COM-port command " + std::to_string(cmd) + " before the agreement");
        if (cmd >= 100)
            m_violations.push_back("a server's code " + std::to_string(cmd) + " from the client");
        if (!m_agreed || cmd >= 100)
            return;
        switch (cmd) {
        case 0:
            if (value.empty())
                sendLocked(bytes({ 255, 250, 44, 100, 's', 't', 'r', 'i', 'c', 't', 255, 240 }));
            else
                m_signature = value;
            break;
        case 10:
            if (!value.empty())
                m_lineMask = uint8_t(value[0]);
            break;
        default:
            break;
        }
        // Every command is answered in the server's code, with its value.
        std::string answer = bytes({ 255, 250, 44, cmd + 100 });
        answer += TelnetCodec::escape(value.data(), value.size());
        answer += bytes({ 255, 240 });
        if (cmd != 0)
            sendLocked(answer);
    }
    void verb(uint8_t v, uint8_t option)
    {
        if (option == 44 && v == 251 && !m_agreed) {
            m_agreed = true;
            sendLocked(bytes({ 255, 253, 44 }));
            sendLocked(bytes({ 255, 250, 44, 100, 255, 240 })); // who are you?
        } else if ((option == 0 || option == 3) && v == 251 && !m_himBinSga[option]) {
            m_himBinSga[option] = true;
            sendLocked(bytes({ 255, 253, option }));
        } else if ((option == 0 || option == 3) && v == 253 && !m_usBinSga[option]) {
            m_usBinSga[option] = true;
            sendLocked(bytes({ 255, 251, option }));
        }
    }
    void run() override
    {
        const int c = ::accept(m_listen, nullptr, nullptr);
        if (c < 0)
            return;
        m_conn = c;
        enum { Data, Iac, Verb, Sub, SubIac } state = Data;
        uint8_t v = 0;
        std::string sub;
        char buf[4096];
        while (!m_stop) {
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            std::lock_guard<std::mutex> lock(m_mutex);
            for (ssize_t i = 0; i < n; ++i) {
                const uint8_t b = uint8_t(buf[i]);
                switch (state) {
                case Data:
                    state = b == 255 ? Iac : Data;
                    break;
                case Iac:
                    if (b >= 251 && b <= 254) {
                        v = b;
                        state = Verb;
                    } else if (b == 250) {
                        sub.clear();
                        state = Sub;
                    } else {
                        state = Data;
                    }
                    break;
                case Verb:
                    verb(v, b);
                    state = Data;
                    break;
                case Sub:
                    if (b == 255)
                        state = SubIac;
                    else
                        sub.push_back(char(b));
                    break;
                case SubIac:
                    if (b == 240) {
                        if (sub.size() >= 2 && uint8_t(sub[0]) == 44)
                            command(uint8_t(sub[1]), sub.substr(2));
                        state = Data;
                    } else {
                        sub.push_back(char(b));
                        state = Sub;
                    }
                    break;
                }
            }
        }
    }

    std::mutex m_mutex;
    std::vector<std::string> m_violations;
    std::string m_signature;
    bool m_agreed = false;
    bool m_himBinSga[4] = {};
    bool m_usBinSga[4] = {};
    uint8_t m_lineMask = 0;
};

// Lets the engine's timer run for ms.
void pumpFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
}

bool logContains(const std::string &part)
{
    for (const auto &t : logTexts()) {
        if (t.find(part) != std::string::npos)
            return true;
    }
    return false;
}

void writeMap(const std::string &text)
{
    exel::test::writeFile(QString::fromStdString(tolcom::portMapPath()), QByteArray::fromStdString(text));
}

class NetworkPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        Recorder::reset();
        h = CreateCommObject(nullptr);
        ASSERT_NE(h, 0u);
        SetEventHandler(h, &Recorder::handler);
    }
    void TearDown() override
    {
        DestroyCommObject(h);
        QFile::remove(QString::fromStdString(tolcom::portMapPath()));
    }
    bool open(const std::string &url, int com = 3)
    {
        writeMap("COM" + std::to_string(com) + " = " + url + "\n");
        SetCommPort(h, com);
        return SetPortOpen(h, 1) == 1 && GetPortOpen(h) == 1;
    }
    std::string lastOpenError()
    {
        char buf[300] = {};
        GetLastOpenError(h, buf, sizeof buf);
        return buf;
    }
    uint32_t h = 0;
};

} // namespace

TEST(PortMap, readsEntriesAndReportsEveryBadLineWithItsNumber)
{
    const auto map = tolcom::parsePortMap("# studio\r\n"
                                          "COM3 = tcp://studio-rack-2:4001\r\n"
                                          "  com4=RFC2217://tally-gw:2217/  \n"
                                          "; comment\n"
                                          "COM5 = rfc2217://[::1]:2000\n"
                                          "COM3 = tcp://other:1\n"
                                          "COM0 = tcp://a:1\n"
                                          "COM6 = tcp://a:65536\n"
                                          "COM7 = ssh://a:22\n"
                                          "COM8 tcp://a:1\n"
                                          "COM9 = tcp://bad host:1\n"
                                          "COM10 = tcp://hostonly\n"
                                          "COM11 = tcp://[::1:5\n");
    ASSERT_EQ(map.ports.size(), 3u);
    EXPECT_EQ(map.ports.at(3).url(), "tcp://studio-rack-2:4001");
    EXPECT_EQ(map.ports.at(3).line, 2);
    EXPECT_EQ(map.ports.at(4).kind, PortTarget::Rfc2217);
    EXPECT_EQ(map.ports.at(4).endpoint(), "tally-gw:2217");
    EXPECT_EQ(map.ports.at(5).host, "::1");
    EXPECT_EQ(map.ports.at(5).endpoint(), "[::1]:2000");
    ASSERT_EQ(map.problems.size(), 8u);
    const char *expected[] = { "line 6: COM3 is already mapped on line 2", "line 7: the port must be",
        "line 8: the TCP port", "line 9: unknown kind of address \"ssh\"", "line 10: expected COM<n>",
        "line 11: \"bad host\" is not", "line 12: the address has no TCP port", "line 13: an IPv6 address" };
    for (size_t i = 0; i < map.problems.size(); ++i) {
        EXPECT_EQ(map.problems[i].rfind(std::string("tolcom-ports.conf ") + expected[i], 0), 0u) << map.problems[i];
        EXPECT_NE(map.problems[i].find("ignored"), std::string::npos);
    }
}

TEST(TelnetCodec, answersWhatSer2netAsksOnceAndNeverEcho)
{
    TelnetCodec codec;
    const std::string hello = codec.greeting();
    EXPECT_EQ(hello.substr(0, 3), bytes({ 255, 251, 44 }));
    // What ser2net sends first on an RFC 2217 port.
    const std::string opening
        = bytes({ 255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0, 255, 251, 0, 255, 253, 44 });
    std::string data, reply;
    codec.feed(opening.data(), opening.size(), data, reply);
    EXPECT_TRUE(data.empty());
    // Only the echo is refused; the rest was already agreed, and the agreed
    // COM-port option brings the notice masks.
    EXPECT_EQ(reply, bytes({ 255, 254, 1, 255, 250, 44, 10, 0x1e, 255, 240, 255, 250, 44, 11, 0xff, 0xff, 255, 240 }));
    EXPECT_TRUE(codec.comPortAccepted());

    // Asked again, the same options get no answer: no negotiation loop.
    reply.clear();
    codec.feed(opening.data(), opening.size(), data, reply);
    EXPECT_EQ(reply, bytes({ 255, 254, 1 }));
}

TEST(TelnetCodec, undoesEscapesAcrossFeedsAndReadsNotices)
{
    TelnetCodec codec;
    codec.greeting();
    std::string data, reply;
    // "A" 255 "B", split inside the escape, then a modem-state notice split
    // inside its subnegotiation, then a line-state notice with framing error.
    const std::string a = bytes({ 'A', 255 });
    const std::string b = bytes({ 255, 'B', 255, 250, 44, 107 });
    const std::string c = bytes({ 0xB0, 255, 240, 'C', 255, 250, 44, 106, 0x08, 255, 240 });
    codec.feed(a.data(), a.size(), data, reply);
    codec.feed(b.data(), b.size(), data, reply);
    EXPECT_FALSE(codec.modemStateKnown());
    codec.feed(c.data(), c.size(), data, reply);
    EXPECT_EQ(data, bytes({ 'A', 255, 'B', 'C' }));
    EXPECT_TRUE(codec.modemStateKnown());
    EXPECT_EQ(codec.modemState(), 0xB0);
    EXPECT_EQ(codec.takeLineState(), 0x08);
    EXPECT_EQ(codec.takeLineState(), 0);
    EXPECT_EQ(TelnetCodec::escape("\xff\x01\xff", 3), bytes({ 255, 255, 1, 255, 255 }));
    EXPECT_EQ(TelnetCodec::baudCommand(19200), bytes({ 255, 250, 44, 1, 0, 0, 0x4B, 0, 255, 240 }));
}

TEST(TelnetCodec, aMisbehavingServerCannotLoopOrGrowIt)
{
    TelnetCodec codec;
    codec.greeting();
    std::string data, reply;
    // The same unknown request a thousand times: answered a bounded number of times.
    std::string flood;
    for (int i = 0; i < 1000; ++i)
        flood += bytes({ 255, 253, 99 });
    codec.feed(flood.data(), flood.size(), data, reply);
    EXPECT_LE(reply.size(), 3u * 16);
    EXPECT_GT(codec.refusedRequests(), 900);
    // An endless subnegotiation is cut, and data after its end still flows.
    std::string sub = bytes({ 255, 250, 44, 107 });
    sub += std::string(100000, 'x');
    sub += bytes({ 255, 240, 'D' });
    data.clear();
    codec.feed(sub.data(), sub.size(), data, reply);
    EXPECT_EQ(data, "D");
    EXPECT_FALSE(codec.modemStateKnown());
}

// Guards against answering a signature request in the server's code and ignoring the server's own request.
TEST(TelnetCodec, answersTheServersSignatureRequestInTheClientsCode)
{
    TelnetCodec codec;
    codec.greeting();
    std::string data, reply;
    // Before the agreement nothing is subnegotiated.
    const std::string ask = bytes({ 255, 250, 44, 100, 255, 240 });
    codec.feed(ask.data(), ask.size(), data, reply);
    const std::string agree = bytes({ 255, 253, 44 });
    reply.clear();
    codec.feed(agree.data(), agree.size(), data, reply);
    reply.clear();
    codec.feed(ask.data(), ask.size(), data, reply);
    EXPECT_EQ(reply, TelnetCodec::comPortCommand(0, std::string("tolcom32")));
    // The server's own signature is kept, and a code 0 from a server is no request.
    reply.clear();
    const std::string told
        = bytes({ 255, 250, 44, 100, 's', 'e', 'r', 255, 255, 240, 255, 240, 255, 250, 44, 0, 255, 240 });
    codec.feed(told.data(), told.size(), data, reply);
    EXPECT_EQ(codec.serverSignature(), bytes({ 's', 'e', 'r', 255, 240 }));
    EXPECT_TRUE(reply.empty());
    EXPECT_TRUE(data.empty());
}

TEST_F(NetworkPort, rawConnectionCarriesBytesAsTheyAreAndReadsAsACable)
{
    LoopbackServer server;
    ASSERT_TRUE(open("tcp://127.0.0.1:" + std::to_string(server.port()))) << lastOpenError();
    server.setReply("OK\r\n");
    const std::string out = bytes({ 'H', 255, 0, 13 });
    ASSERT_EQ(Output(h, out.data(), int32_t(out.size())), 4);
    ASSERT_TRUE(server.waitFor(out));
    EXPECT_EQ(server.received(), out);
    ASSERT_GT(WaitForInput(h, 3000), 0);
    ASSERT_TRUE(waitQueued(h, 4));
    char buf[16] = {};
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "OK\r\n");
    EXPECT_EQ(GetCarrier(h), 1);
    // Settings stay local on a raw connection and are still kept.
    EXPECT_EQ(SetSettings(h, "19200,e,7,1"), 0);
    char settings[32] = {};
    GetSettings(h, settings, sizeof settings);
    EXPECT_STREQ(settings, "19200,e,7,1");
}

TEST_F(NetworkPort, rfc2217SendsTheSettingsAndLinesToTheRemotePortAndEscapesData)
{
    LoopbackServer server(bytes({ 255, 253, 44 }));
    ASSERT_TRUE(open("rfc2217://127.0.0.1:" + std::to_string(server.port()))) << lastOpenError();
    // The opening settings: 9600 baud, 8 data bits, no parity, one stop bit.
    ASSERT_TRUE(server.waitFor(TelnetCodec::baudCommand(9600)));
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 2, 8, 255, 240 })));
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 3, 1, 255, 240 })));
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 4, 1, 255, 240 })));
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 5, 8, 255, 240 }))) << "DTR on at open";

    EXPECT_EQ(SetSettings(h, "19200,E,7,2"), 0);
    EXPECT_TRUE(server.waitFor(TelnetCodec::baudCommand(19200)));
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 2, 7, 255, 240 })));
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 3, 3, 255, 240 })));
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 4, 2, 255, 240 })));
    SetBreak(h, 1);
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 5, 5, 255, 240 })));
    SetBreak(h, 0);
    SetDTR(h, 0);
    EXPECT_TRUE(server.waitFor(bytes({ 255, 250, 44, 5, 9, 255, 240 })));

    const std::string out = bytes({ 'x', 255, 'y' });
    ASSERT_EQ(Output(h, out.data(), 3), 3);
    EXPECT_TRUE(server.waitFor(bytes({ 'x', 255, 255, 'y' })));
}

TEST_F(NetworkPort, rfc2217ModemStateNoticesRaiseTheLineEvents)
{
    // The server reports carrier and DSR up at once.
    LoopbackServer server(bytes({ 255, 253, 44, 255, 250, 44, 107, 0xA0, 255, 240 }));
    ASSERT_TRUE(open("rfc2217://127.0.0.1:" + std::to_string(server.port()))) << lastOpenError();
    for (int i = 0; i < 100 && GetCarrier(h) != 1; ++i)
        pumpFor(10);
    EXPECT_EQ(GetCarrier(h), 1);
    EXPECT_EQ(GetDSR(h), 1);
    EXPECT_EQ(GetCTS(h), 0);
}

TEST_F(NetworkPort, rfc2217LineStateNoticesRaiseTheErrorEvents)
{
    LoopbackServer server(bytes({ 255, 253, 44 }));
    ASSERT_TRUE(open("rfc2217://127.0.0.1:" + std::to_string(server.port()))) << lastOpenError();
    pumpFor(100);
    Recorder::reset();
    // The remote port saw a break and a framing error, then an overrun.
    server.setReply(bytes({ 255, 250, 44, 106, 0x18, 255, 240, 255, 250, 44, 106, 0x02, 255, 240 }));
    ASSERT_EQ(Output(h, "?", 1), 1);
    for (int i = 0; i < 100 && Recorder::codes().size() < 3; ++i)
        pumpFor(10);
    const std::vector<int32_t> codes = Recorder::codes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), TOLCOM_ER_BREAK), codes.end());
    EXPECT_NE(std::find(codes.begin(), codes.end(), TOLCOM_ER_FRAME), codes.end());
    EXPECT_NE(std::find(codes.begin(), codes.end(), TOLCOM_ER_OVERRUN), codes.end());
    EXPECT_EQ(GetInBufferCount(h), 0) << "notices are not data";
}

// Guards against COM-port commands before agreement, signatures in the server's code and masks never sent.
TEST_F(NetworkPort, rfc2217KeepsToTheRulesOfAStrictServerAndGetsItsLineErrors)
{
    StrictRfc2217Server server;
    ASSERT_TRUE(open("rfc2217://127.0.0.1:" + std::to_string(server.port()))) << lastOpenError();
    for (int i = 0; i < 300 && server.clientSignature().empty(); ++i)
        pumpFor(10);
    EXPECT_TRUE(server.agreed());
    EXPECT_EQ(server.clientSignature(), "tolcom32");
    Recorder::reset();
    server.lineState(0x08); // framing error
    for (int i = 0; i < 300 && Recorder::codes().empty(); ++i)
        pumpFor(10);
    EXPECT_EQ(Recorder::codes(), std::vector<int32_t> { TOLCOM_ER_FRAME });
    EXPECT_EQ(SetSettings(h, "19200,e,7,1"), 0);
    ASSERT_EQ(Output(h, "x", 1), 1);
    pumpFor(50);
    EXPECT_EQ(server.violations(), std::vector<std::string> {});
}

TEST_F(NetworkPort, aFloodOfNegotiationNeverHoldsAWaitPastItsTime)
{
    LoopbackServer server(bytes({ 255, 253, 44 }), bytes({ 255, 251, 1, 255, 253, 99, 255, 241 }));
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(open("rfc2217://127.0.0.1:" + std::to_string(server.port()))) << lastOpenError();
    EXPECT_LT(t.elapsed(), 3000);
    t.restart();
    EXPECT_EQ(WaitForInput(h, 300), 0);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_GE(t.elapsed(), 250);
}

TEST_F(NetworkPort, aClosedConnectionIsACarrierLossAndTheNextOpenConnectsAgain)
{
    {
        LoopbackServer server;
        ASSERT_TRUE(open("tcp://127.0.0.1:" + std::to_string(server.port()))) << lastOpenError();
        pumpFor(100);
        Recorder::reset();
        server.hangUp();
        for (int i = 0; i < 200 && GetPortOpen(h); ++i)
            pumpFor(10);
    }
    EXPECT_EQ(GetPortOpen(h), 0);
    EXPECT_EQ(Recorder::codes(), std::vector<int32_t> { TOLCOM_EV_CD });
    EXPECT_EQ(GetCarrier(h), 0);
    LoopbackServer again;
    EXPECT_TRUE(open("tcp://127.0.0.1:" + std::to_string(again.port()))) << lastOpenError();
}

TEST_F(NetworkPort, anUnreachableServerFailsTheOpenWithItsReason)
{
    // Port 1 on loopback: nothing listens there.
    EXPECT_FALSE(open("tcp://127.0.0.1:1", 2));
    EXPECT_EQ(
        lastOpenError(), "Cannot open COM2 (tcp://127.0.0.1:1): cannot connect to 127.0.0.1:1: Connection refused");
    EXPECT_TRUE(logContains("SetPortOpen(TRUE): Cannot open COM2 (tcp://127.0.0.1:1): cannot connect"));
    char where[64] = {};
    EXPECT_EQ(GetPortTarget(2, where, sizeof where), 1);
    EXPECT_STREQ(where, "127.0.0.1:1");
    EXPECT_EQ(GetPortTarget(3, where, sizeof where), 0);
    EXPECT_STREQ(where, "");
    // A bad map line is logged with its number at the open.
    writeMap("COM2 = tcp://127.0.0.1:1\nnonsense\n");
    SetPortOpen(h, 1);
    EXPECT_TRUE(logContains("Port map: tolcom-ports.conf line 2: expected COM<n>"));
    char problems[256] = {};
    EXPECT_GT(GetPortMapProblems(problems, sizeof problems), 0);
    EXPECT_EQ(std::string(problems).rfind("tolcom-ports.conf line 2:", 0), 0u);
}
