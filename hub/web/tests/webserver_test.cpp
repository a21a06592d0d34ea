// The web server over real sockets, in front of the controller emulator:
// what is served without a session, sign-in and its brake, and requests that
// must change nothing (view only, cross-site, malformed, oversized).
#include "webharness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QWebSocket>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

namespace {

struct Reply {
    int code = 0;
    QByteArray head;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &l : head.split('\n')) {
            if (l.toLower().startsWith(name.toLower() + ':'))
                return l.mid(name.size() + 1).trimmed();
        }
        return QByteArray();
    }
};

Reply exchange(quint16 port, const QByteArray &request, int waitMs = 5000)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    Reply r;
    if (!s.waitForConnected(3000))
        return r;
    s.write(request);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        got += s.readAll();
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end >= 0) {
            r.head = got.left(end);
            const qsizetype length = r.header("Content-Length").toLongLong();
            if (got.size() >= end + 4 + length) {
                r.body = got.mid(end + 4, length);
                break;
            }
        }
        if (s.state() != QAbstractSocket::ConnectedState && s.bytesAvailable() == 0)
            break;
    }
    r.code = r.head.mid(9, 3).toInt();
    return r;
}

QByteArray post(const QByteArray &path, const QByteArray &body, const QByteArray &cookie = {}, const QByteArray &extra = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n" + (cookie.isEmpty() ? QByteArray() : "Cookie: " + cookie + "\r\n")
        + extra + "\r\n" + body;
}

QByteArray get(const QByteArray &path, const QByteArray &cookie = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + (cookie.isEmpty() ? QByteArray() : "Cookie: " + cookie + "\r\n")
        + "\r\n";
}

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(h.startEmulator());
        QString error;
        ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
        port = h.webPort;
    }
    QByteArray signIn(const char *name, const char *password)
    {
        const Reply r = exchange(port, post("/api/login", QByteArray("{\"name\":\"") + name + "\",\"password\":\"" + password + "\"}"));
        const QByteArray cookie = r.header("Set-Cookie");
        return cookie.left(cookie.indexOf(';'));
    }
    size_t journalSize() { return h.hub.journal().list(0).size(); }

    webtest::WebHarness h;
    quint16 port = 0;
};

} // namespace

TEST_F(WebServerTest, withoutASession_onlyTheSignInPageIsServed)
{
    EXPECT_EQ(exchange(port, get("/login.html")).code, 200);
    EXPECT_EQ(exchange(port, get("/style.css")).code, 200);
    const Reply root = exchange(port, get("/"));
    EXPECT_EQ(root.code, 302);
    EXPECT_EQ(root.header("Location"), QByteArray("/login.html"));
    EXPECT_EQ(exchange(port, get("/index.html")).code, 302);
    EXPECT_EQ(exchange(port, get("/app.js")).code, 401);
    EXPECT_EQ(exchange(port, get("/api/state")).code, 401);
    EXPECT_EQ(exchange(port, post("/api/take", R"({"destination":"PGM","source":"CAM2"})")).code, 401);
    EXPECT_EQ(exchange(port, get("/ws") .replace("\r\n\r\n", "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")).code, 401);
    const QByteArray cookie = signIn("alice", "alice-pw");
    ASSERT_TRUE(cookie.startsWith("xelhub_session="));
    EXPECT_EQ(exchange(port, get("/app.js", cookie)).code, 200);
    EXPECT_EQ(exchange(port, get("/../../etc/passwd", cookie)).code, 404);
    EXPECT_EQ(exchange(port, get("/%2e%2e/CMakeLists.txt", cookie)).code, 404);
    const Reply state = exchange(port, get("/api/state", cookie));
    EXPECT_EQ(state.code, 200);
    EXPECT_EQ(state.json().value(QStringLiteral("destinations")).toArray().size(), 16);
    // Signed out, the cookie opens nothing any more.
    EXPECT_EQ(exchange(port, post("/api/logout", "{}", cookie)).code, 200);
    EXPECT_EQ(exchange(port, get("/api/state", cookie)).code, 401);
}

TEST_F(WebServerTest, signIn_setsAStrictHttpOnlyCookie_andFailuresAreBraked)
{
    const Reply ok = exchange(port, post("/api/login", R"({"name":"alice","password":"alice-pw"})"));
    EXPECT_EQ(ok.code, 200);
    const QByteArray cookie = ok.header("Set-Cookie");
    EXPECT_TRUE(cookie.contains("HttpOnly") && cookie.contains("SameSite=Strict")) << cookie.constData();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(exchange(port, post("/api/login", R"({"name":"alice","password":"guess"})")).code, 401);
    EXPECT_EQ(exchange(port, post("/api/login", R"({"name":"alice","password":"guess"})")).code, 401);
    const Reply braked = exchange(port, post("/api/login", R"({"name":"alice","password":"alice-pw"})"));
    EXPECT_EQ(braked.code, 429) << "even the right password waits after a run of failures";
    EXPECT_FALSE(braked.header("Retry-After").isEmpty());
    EXPECT_EQ(exchange(port, post("/api/login", R"({"name":"nobody","password":"x"})")).code, 429)
        << "the same address is braked for any name";
}

TEST_F(WebServerTest, viewOnlyCrossSiteAndMalformedRequests_changeNothing)
{
    const QByteArray viewer = signIn("viewer", "viewer-pw");
    const QByteArray alice = signIn("alice", "alice-pw");
    ASSERT_FALSE(viewer.isEmpty());
    ASSERT_FALSE(alice.isEmpty());
    const size_t before = journalSize();
    EXPECT_EQ(exchange(port, post("/api/take", R"({"destination":"PGM","source":"CAM2"})", viewer)).code, 403);
    EXPECT_EQ(exchange(port, post("/api/lock", R"({"destination":"PGM","locked":true})", viewer)).code, 403);
    EXPECT_EQ(exchange(port, post("/api/undo", R"({"id":1})", viewer)).code, 403);
    EXPECT_EQ(exchange(port, get("/api/journal", viewer)).code, 200) << "a view-only operator still sees";
    EXPECT_EQ(exchange(port, post("/api/take", R"({"destination":"PGM","source":"CAM2"})", alice, "Origin: http://evil.example\r\n")).code, 403);
    EXPECT_EQ(exchange(port, post("/api/take", R"({"destination":"NOWHERE","source":"CAM2"})", alice)).code, 400);
    EXPECT_EQ(exchange(port, post("/api/take", R"({"destination":"PGM")", alice)).code, 400);
    EXPECT_EQ(exchange(port, get("/api/take", alice)).code, 405);
    EXPECT_EQ(exchange(port, post("/api/take", "{\"pad\":\"" + QByteArray(20000, 'x') + "\"}", alice)).code, 413);
    EXPECT_EQ(exchange(port, "GET / HTTP/1.1\r\nHost: h\r\nX: " + QByteArray(10000, 'y') + "\r\n\r\n").code, 431);
    EXPECT_EQ(journalSize(), before);
    // And the same take from an operator goes through.
    const Reply take = exchange(port, post("/api/take", R"({"destination":"PGM","source":"CAM2","levels":["VIDEO"]})", alice));
    EXPECT_EQ(take.code, 200) << take.body.constData();
    EXPECT_EQ(journalSize(), before + 1);
}

TEST_F(WebServerTest, webSocket_badAndOversizedMessagesGetErrors_aFloodIsDropped)
{
    const QByteArray cookie = signIn("alice", "alice-pw");
    QWebSocket ws;
    QNetworkRequest req(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
    req.setRawHeader("Cookie", cookie);
    QList<QJsonObject> got;
    QObject::connect(&ws, &QWebSocket::textMessageReceived, [&](const QString &t) { got << QJsonDocument::fromJson(t.toUtf8()).object(); });
    bool closed = false;
    QObject::connect(&ws, &QWebSocket::disconnected, [&] { closed = true; });
    ws.open(req);
    auto waitFor = [&](const std::function<bool()> &p) {
        QElapsedTimer t;
        t.start();
        while (!p() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return p();
    };
    ASSERT_TRUE(waitFor([&] { return !got.isEmpty(); }));
    EXPECT_EQ(got[0].value(QStringLiteral("type")).toString(), QStringLiteral("hello"));
    EXPECT_EQ(got[0].value(QStringLiteral("operator")).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("alice"));
    got.clear();
    const size_t before = journalSize();
    ws.sendTextMessage(QStringLiteral("{\"op\":\"take\",\"req\":5,\"destination\":\"PGM\"}"));
    ws.sendTextMessage(QStringLiteral("not json"));
    auto reply = [&](int i) { return i < got.size() ? got[i] : QJsonObject(); };
    ASSERT_TRUE(waitFor([&] {
        int n = 0;
        for (const QJsonObject &o : got)
            n += o.value(QStringLiteral("type")) == QStringLiteral("reply");
        return n >= 2;
    }));
    QList<QJsonObject> replies;
    for (const QJsonObject &o : got)
        if (o.value(QStringLiteral("type")) == QStringLiteral("reply"))
            replies << o;
    EXPECT_EQ(replies[0].value(QStringLiteral("req")).toInt(), 5);
    EXPECT_FALSE(replies[0].value(QStringLiteral("ok")).toBool());
    EXPECT_FALSE(replies[1].value(QStringLiteral("ok")).toBool());
    (void)reply;
    EXPECT_EQ(journalSize(), before);
    // A message past the limit closes the socket (the WebSocket layer refuses it).
    ws.sendTextMessage(QString(40000, QLatin1Char('x')));
    EXPECT_TRUE(waitFor([&] { return closed; }));
    EXPECT_EQ(journalSize(), before);

    // A flood of commands past the page's rate is dropped.
    QWebSocket flood;
    flood.open(req);
    bool floodClosed = false;
    QObject::connect(&flood, &QWebSocket::disconnected, [&] { floodClosed = true; });
    ASSERT_TRUE(waitFor([&] { return flood.state() == QAbstractSocket::ConnectedState; }));
    for (int i = 0; i < 200; ++i)
        flood.sendTextMessage(QStringLiteral("{\"op\":\"state\"}"));
    EXPECT_TRUE(waitFor([&] { return floodClosed; }));
    EXPECT_EQ(h.hub.webServer()->pageCount(), 0);
}
