// The web panel's pure pieces: password hashes, the sign-in brake, sessions,
// the HTTP request reader and the JSON command reader.
#include "operators.h"
#include "webprotocol.h"
#include "webview.h"
#include "hubconfig.h"

#include "hubtesting.h"
#include "testsupport.h"

#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

TEST(WebPasswords, pbkdf2MatchesTheRfcVectors_andHashLinesVerifyOnlyTheirPassword)
{
    // RFC 7914 section 11 / the usual PBKDF2-HMAC-SHA256 vectors.
    EXPECT_EQ(pbkdf2Sha256("password", "salt", 1).toHex(),
        QByteArray("120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"));
    EXPECT_EQ(pbkdf2Sha256("password", "salt", 2).toHex(),
        QByteArray("ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"));
    EXPECT_EQ(pbkdf2Sha256("password", "salt", 4096).toHex(),
        QByteArray("c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"));

    const QString h1 = hashPassword(QStringLiteral("s3cret"), 1000);
    const QString h2 = hashPassword(QStringLiteral("s3cret"), 1000);
    EXPECT_NE(h1, h2) << "every hash has its own salt";
    EXPECT_FALSE(h1.contains(QStringLiteral("s3cret")));
    EXPECT_TRUE(validPasswordHash(h1));
    EXPECT_TRUE(verifyPassword(QStringLiteral("s3cret"), h1));
    EXPECT_FALSE(verifyPassword(QStringLiteral("s3cre"), h1));
    EXPECT_FALSE(verifyPassword(QStringLiteral(""), h1));
    for (const char *bad : { "", "s3cret", "pbkdf2-sha256$10$c2FsdHNhbHQ=$AAAA", "md5$1000$c2FsdHNhbHQ=$AAAA",
             "pbkdf2-sha256$1000$c2FsdHNhbHQ=$c2hvcnQ=", "pbkdf2-sha256$x$c2FsdHNhbHQ=$c2hvcnQ=" }) {
        EXPECT_FALSE(validPasswordHash(QLatin1String(bad))) << bad;
        EXPECT_FALSE(verifyPassword(QLatin1String(bad), QLatin1String(bad))) << bad;
    }
}

TEST(WebSignInBrake, freeFailuresThenDoublingWaits_successClears_oldFailuresForgotten)
{
    FakeClock clock;
    SignInBrake brake(clock, { 3, 1000, 4000, 60000 });
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(brake.waitMs(QStringLiteral("a")), 0);
        brake.failed(QStringLiteral("a"));
    }
    EXPECT_EQ(brake.waitMs(QStringLiteral("a")), 0) << "three failures are free";
    brake.failed(QStringLiteral("a"));
    EXPECT_EQ(brake.waitMs(QStringLiteral("a")), 1000);
    clock.advance(1000);
    brake.failed(QStringLiteral("a"));
    EXPECT_EQ(brake.waitMs(QStringLiteral("a")), 2000);
    brake.failed(QStringLiteral("a"));
    brake.failed(QStringLiteral("a"));
    EXPECT_EQ(brake.waitMs(QStringLiteral("a")), 4000) << "capped";
    EXPECT_EQ(brake.waitMs(QStringLiteral("b")), 0) << "another key is not held up";
    brake.succeeded(QStringLiteral("a"));
    EXPECT_EQ(brake.waitMs(QStringLiteral("a")), 0);
    for (int i = 0; i < 4; ++i)
        brake.failed(QStringLiteral("c"));
    clock.advance(61000);
    brake.failed(QStringLiteral("c"));
    EXPECT_EQ(brake.waitMs(QStringLiteral("c")), 0) << "failures an hour apart do not add up";
}

namespace {
int64_t g_wall = 1000000;
int64_t fakeWall()
{
    return g_wall;
}
} // namespace

TEST(WebSessions, expireWhenUnused_slideWhenUsed_andSurviveARestartAsHashesOnly)
{
    const QString file = exel::test::tempHome() + QStringLiteral("/sessions-test.json");
    QFile::remove(file);
    QString token;
    {
        SessionStore store(file, 60000, fakeWall);
        token = store.create(QStringLiteral("alice"));
        EXPECT_EQ(token.size(), 64);
        g_wall += 50000;
        ASSERT_TRUE(store.use(token));
        g_wall += 50000;
        EXPECT_TRUE(store.peek(token)) << "the use moved the expiry";
        EXPECT_FALSE(store.use(token + QLatin1Char('0')));
        EXPECT_FALSE(store.use(QString()));
    }
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray saved = f.readAll();
    EXPECT_FALSE(saved.contains(token.toLatin1())) << "the file holds no token";
    {
        SessionStore store(file, 60000, fakeWall);
        ASSERT_TRUE(store.use(token)) << "a restart keeps the session";
        EXPECT_EQ(store.use(token)->operatorName, QStringLiteral("alice"));
        store.keepOnly({ QStringLiteral("bob") });
        EXPECT_FALSE(store.use(token)) << "an operator taken out of the configuration is signed out";
        const QString t2 = store.create(QStringLiteral("bob"));
        g_wall += 60001;
        EXPECT_FALSE(store.peek(t2));
        EXPECT_FALSE(store.use(t2));
    }
}

TEST(WebHttpReader, requestsAndTheirFaults)
{
    struct Case {
        const char *bytes;
        HttpParse::Status status;
        int code;
    };
    using S = HttpParse::Status;
    const Case cases[] = {
        { "GET / HTTP/1.1\r\nHost: h\r\n\r\n", S::Complete, 0 },
        { "GET / HTTP/1.1\r\nHost: h\r\n", S::NeedMore, 0 },
        { "GET / HTTP/1.0\r\n\r\n", S::Complete, 0 },
        { "GET / HTTP/1.1\r\n\r\n", S::Bad, 400 }, // no Host
        { "GET / HTTP/2.0\r\nHost: h\r\n\r\n", S::Bad, 505 },
        { "GET  / HTTP/1.1\r\nHost: h\r\n\r\n", S::Bad, 400 },
        { "GET relative HTTP/1.1\r\nHost: h\r\n\r\n", S::Bad, 400 },
        { "GET / HTTP/1.1\r\nHost: h\r\n folded\r\n\r\n", S::Bad, 400 },
        { "GET / HTTP/1.1\r\nHost: h\r\nBad Name: x\r\n\r\n", S::Bad, 400 },
        { "GET / HTTP/1.1\r\nHost: h\r\nHost: i\r\n\r\n", S::Bad, 400 },
        { "POST /api/take HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n", S::Bad, 501 },
        { "POST /api/take HTTP/1.1\r\nHost: h\r\nContent-Length: -1\r\n\r\n", S::Bad, 400 },
        { "POST /api/take HTTP/1.1\r\nHost: h\r\nContent-Length: 99999\r\n\r\n", S::Bad, 413 },
        { "POST /api/take HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\n{}", S::NeedMore, 0 },
        { "POST /api/take HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\n\r\n{}", S::Complete, 0 },
    };
    for (const Case &c : cases) {
        const HttpParse p = parseHttpRequest(QByteArray(c.bytes));
        EXPECT_EQ(p.status, c.status) << c.bytes;
        EXPECT_EQ(p.errorCode, c.code) << c.bytes;
    }
    // An endless head is refused once it passes the limit, not waited for.
    EXPECT_EQ(parseHttpRequest("GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a')).errorCode, 431);

    // Two requests in one buffer: the first, and how much of it it took.
    const QByteArray two = "POST /a%20b?x=1&y=a+b HTTP/1.1\r\nHost: h\r\nCookie: a=1; xelhub_session=tok\r\n"
                           "Content-Length: 2\r\nConnection: close\r\n\r\n{}GET / HTTP/1.1\r\nHost: h\r\n\r\n";
    const HttpParse p = parseHttpRequest(two);
    ASSERT_EQ(p.status, S::Complete);
    EXPECT_EQ(p.request.path, QStringLiteral("/a b"));
    EXPECT_EQ(p.request.query.at(QStringLiteral("y")), QStringLiteral("a b"));
    EXPECT_EQ(p.request.cookie(QStringLiteral("xelhub_session")), QStringLiteral("tok"));
    EXPECT_EQ(p.request.body, QByteArray("{}"));
    EXPECT_FALSE(p.request.keepAlive);
    EXPECT_EQ(parseHttpRequest(two.mid(p.consumed)).request.path, QStringLiteral("/"));
    EXPECT_FALSE(parseHttpRequest("GET / HTTP/1.0\r\n\r\n").request.keepAlive);
    EXPECT_TRUE(parseHttpRequest("GET /ws HTTP/1.1\r\nHost: h\r\nUpgrade: WebSocket\r\nConnection: keep-alive, Upgrade\r\n\r\n")
                    .request.isWebSocketUpgrade());
}

TEST(WebCommandReader, commandsByNameOrIndex_andEveryMalformedOneRefused)
{
    StatandConfig model;
    hubtest::loadModel(model, hubtest::smallRouter()); // VIDEO, AUDIO; CAM1..4; MON1..4
    WebCommand c;
    QString error;
    ASSERT_TRUE(parseWebMessage(R"({"op":"take","req":3,"destination":"MON2","source":"CAM3"})", model, c, error)) << qPrintable(error);
    EXPECT_EQ(c.op, WebCommand::Op::Take);
    EXPECT_EQ(c.tag, 3);
    EXPECT_EQ(c.destination, 1);
    EXPECT_EQ(c.sources, (std::vector<int16_t> { 2, 2 }));
    EXPECT_TRUE(c.changes());
    ASSERT_TRUE(parseWebMessage(R"({"op":"take","destination":0,"source":1,"levels":["AUDIO"]})", model, c, error));
    EXPECT_EQ(c.sources, (std::vector<int16_t> { -1, 1 }));
    ASSERT_TRUE(parseWebMessage(R"({"op":"take","destination":0,"sources":[null,"CAM4"]})", model, c, error));
    EXPECT_EQ(c.sources, (std::vector<int16_t> { -1, 3 }));
    ASSERT_TRUE(parseWebMessage(R"({"op":"lock","destination":"MON1","locked":false,"force":true})", model, c, error));
    EXPECT_TRUE(c.force);
    EXPECT_FALSE(c.locked);
    ASSERT_TRUE(parseWebMessage(R"({"op":"undo","id":42})", model, c, error));
    EXPECT_EQ(c.id, 42);
    ASSERT_TRUE(parseWebMessage(R"({"op":"journal","limit":5})", model, c, error));
    EXPECT_EQ(c.limit, 5);
    EXPECT_FALSE(c.changes());

    const char *bad[] = {
        "", "[]", "{", "null", R"({"op":"reboot"})", R"({"op":7})",
        R"({"op":"take","destination":"NOWHERE","source":"CAM1"})",
        R"({"op":"take","destination":4,"source":"CAM1"})",
        R"({"op":"take","destination":-1,"source":"CAM1"})",
        R"({"op":"take","destination":0.5,"source":"CAM1"})",
        R"({"op":"take","destination":0})",
        R"({"op":"take","destination":0,"source":9})",
        R"({"op":"take","destination":0,"source":0,"levels":["TC"]})",
        R"({"op":"take","destination":0,"source":0,"levels":[]})",
        R"({"op":"take","destination":0,"sources":[null,null]})",
        R"({"op":"take","destination":0,"sources":[0,0,0]})",
        R"({"op":"lock","destination":0})",
        R"({"op":"lock","destination":0,"locked":"yes"})",
        R"({"op":"undo","id":0})", R"({"op":"undo","id":"1"})", R"({"op":"undo","id":1.5})",
        R"({"op":"journal","limit":100000})", R"({"op":"salvo","name":""})", R"({"op":"salvo"})",
        R"({"op":"watch","destinations":"MON1"})",
    };
    for (const char *m : bad) {
        error.clear();
        EXPECT_FALSE(parseWebMessage(QByteArray(m), model, c, error)) << m;
        EXPECT_FALSE(error.isEmpty()) << m;
    }
    EXPECT_FALSE(parseWebMessage(R"({"op":"state","pad":")" + QByteArray(20000, 'x') + "\"}", model, c, error));
    EXPECT_TRUE(error.contains(QStringLiteral("too large")));
}

TEST(WebView, undoOriginsRoundTrip_andAnUndoNeedsKnownPreviousSources)
{
    EXPECT_EQ(undoneIdOf(Origin { QStringLiteral("web"), undoAddress(QStringLiteral("127.0.0.1:5000"), 17), QStringLiteral("alice") }), 17);
    EXPECT_EQ(undoneIdOf(Origin { QStringLiteral("web"), QStringLiteral("127.0.0.1:5000"), QStringLiteral("alice") }), 0);
    StatandConfig model;
    hubtest::loadModel(model, hubtest::smallRouter());
    RouterState state(model);
    JournalEntry e;
    e.kind = JournalEntry::Kind::Take;
    e.output = 1;
    e.inputs = { 2, 0 };
    e.previous = { 1, -1 };
    e.state = EntryState::Confirmed;
    QJsonObject o = journalEntryJson(state, e);
    EXPECT_TRUE(o.value(QStringLiteral("undoable")).toBool()) << "the level not taken may be unknown";
    EXPECT_EQ(o.value(QStringLiteral("replaced")).toArray().at(0).toString(), QStringLiteral("VIDEO/CAM1"));
    e.previous = { 0, -1 };
    EXPECT_FALSE(journalEntryJson(state, e).value(QStringLiteral("undoable")).toBool()) << "nothing to route back";
    e.previous = { 1, -1 };
    e.state = EntryState::Refused;
    EXPECT_FALSE(journalEntryJson(state, e).value(QStringLiteral("undoable")).toBool());
}

TEST(WebConfig, operatorSectionsAndWebKeys_readAndRefusedWithTheirLine)
{
    const QString hash = hashPassword(QStringLiteral("pw"), 1000);
    HubConfig c;
    ConfigProblem p;
    const QByteArray good = "[hub]\nrouter = a.cfg\n[web]\nenabled = yes\nlisten = 0.0.0.0:8090\nallow = 10.0.0.0/8\n"
                            "session_minutes = 30\nwww = page\n[operator mcr one]\npassword = "
        + hash.toLatin1() + "\nforce_release = true\n[operator viewer]\npassword = " + hash.toLatin1() + "\nrole = view only\n";
    ASSERT_TRUE(parseHubConfig(QStringLiteral("/x/hub.ini"), good, c, p)) << qPrintable(p.text());
    EXPECT_TRUE(c.webEnabled);
    EXPECT_EQ(c.web.port, 8090);
    EXPECT_EQ(c.web.sessionIdleMs, 30 * 60000);
    EXPECT_EQ(c.web.wwwFolder, QStringLiteral("/x/page"));
    ASSERT_EQ(c.web.operators.size(), 2u);
    EXPECT_EQ(c.web.operators[0].name, QStringLiteral("mcr one"));
    EXPECT_TRUE(c.web.operators[0].forceRelease);
    EXPECT_TRUE(c.web.operators[0].canChange());
    EXPECT_FALSE(c.web.operators[1].canChange());
    EXPECT_FALSE(c.web.operators[1].forceRelease);

    struct Case {
        QByteArray text;
        int line;
        const char *reason;
    };
    const std::vector<Case> cases {
        { "[hub]\nrouter = a\n[operator]\n", 3, "needs the operator's name" },
        { "[hub]\nrouter = a\n[operator x]\nrole = operator\n", 3, "has no password" },
        { "[hub]\nrouter = a\n[operator x]\npassword = hunter2\n", 4, "not a password hash" },
        { "[hub]\nrouter = a\n[operator x]\npassword = " + hash.toLatin1() + "\nrole = admin\n", 5, "not operator or view only" },
        { "[hub]\nrouter = a\n[operator x]\npassword = " + hash.toLatin1() + "\n[operator x]\n", 5, "described twice" },
        { "[hub]\nrouter = a\n[operator x]\npassword = " + hash.toLatin1() + "\npassword = " + hash.toLatin1() + "\n", 5, "given twice" },
        { "[hub]\nrouter = a\n[operator x]\ncolour = red\n", 4, "unknown key \"colour\" in [operator x]" },
        { "[hub]\nrouter = a\n[web]\nlisten = 8080\n", 4, "not an address:port" },
        { "[hub]\nrouter = a\n[web]\nsession_minutes = 0\n", 4, "not a whole number" },
    };
    for (const Case &k : cases) {
        EXPECT_FALSE(parseHubConfig(QStringLiteral("/x/hub.ini"), k.text, c, p)) << k.text.constData();
        EXPECT_EQ(p.line, k.line) << k.text.constData();
        EXPECT_TRUE(p.reason.contains(QLatin1String(k.reason))) << k.text.constData() << " -> " << qPrintable(p.reason);
    }
    const QString help = hubConfigHelp();
    for (const char *key : { "[web]", "listen = 127.0.0.1:8080", "[operator NAME]", "role = operator", "force_release = false" })
        EXPECT_TRUE(help.contains(QLatin1String(key))) << key;
}
