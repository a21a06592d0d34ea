// The web panel in a real browser: Debian's headless chromium driven over
// the DevTools protocol, against the hub with the controller emulator
// program behind it. Every take, lock and salvo is checked at the emulator.
#include "cdpbrowser.h"
#include "scriptedpanel.h"
#include "webharness.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;
using webtest::CdpBrowser;

namespace {

bool waitUntil(const std::function<bool()> &pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QString js(const char *text)
{
    return QString::fromUtf8(text);
}

// Signs in through the sign-in page and waits for the panel's first state.
bool signIn(CdpBrowser &b, const QString &page, const QString &name, const QString &password)
{
    if (!b.waitFor(page, js("location.pathname === '/login.html' && document.readyState === 'complete'")))
        return false;
    b.eval(page,
        QStringLiteral("document.getElementById('name').value = '%1'; document.getElementById('password').value = '%2';"
                       "document.getElementById('go').click(); true")
            .arg(name, password));
    return b.waitFor(page, js("!!(window.__xel && window.__xel.ready)"), 15000);
}

QString click(const QString &selector)
{
    return QStringLiteral("(() => { const e = document.querySelector('%1'); if (!e) return false; e.click(); return true; })()")
        .arg(selector);
}

QString text(const QString &selector)
{
    return QStringLiteral("((document.querySelector('%1') || {}).textContent || '')").arg(selector);
}

class WebBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(h.startEmulator());
        h.emu("preset diagonal"); // output n from input n
        QString error;
        ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
        ASSERT_TRUE(browser.start(&error)) << qPrintable(error);
    }
    void TearDown() override
    {
        if (HasFailure()) {
            for (const QString &c : browser.console)
                ADD_FAILURE() << "page: " << qPrintable(c);
        }
        browser.stop();
    }

    webtest::WebHarness h;
    CdpBrowser browser;
};

} // namespace

// demo.cfg: sources CAM1..CAM4 (0..3), VTR1..VTR4 (4..7) on inputs 1..8;
// destinations PGM, PVW, MON1, MON2 ... (0..) on outputs 1..; four levels.
TEST_F(WebBrowserTest, operator_takesPresetsLocksFiresAndUndoes_allSeenAtTheController)
{
    h.writeSalvo(QStringLiteral("Night"), "PGM,CAM3,VIDEO\r\nPVW,CAM4,VIDEO\r\n");
    const QString a = browser.newPage(h.url());
    // Nothing but the sign-in page without a session.
    ASSERT_TRUE(signIn(browser, a, QStringLiteral("alice"), QStringLiteral("alice-pw")));
    EXPECT_EQ(browser.eval(a, js("location.pathname")).toString(), QStringLiteral("/index.html"));
    ASSERT_TRUE(browser.waitFor(a, js("document.querySelector('.line.online') !== null")));

    // Take on press: MON1 (output 3) from CAM2 (input 2) on every level.
    ASSERT_TRUE(browser.eval(a, click(QStringLiteral("#destKeys [data-dest=\"2\"]"))).toBool());
    ASSERT_TRUE(browser.waitFor(a, js("document.querySelector('#srcKeys [data-src=\"2\"]').classList.contains('tally')")))
        << "the source routed now (CAM3) is lit";
    ASSERT_TRUE(browser.eval(a, click(QStringLiteral("#srcKeys [data-src=\"1\"]"))).toBool());
    EXPECT_TRUE(waitUntil([&] { return h.crosspoint(1, 3) == 2 && h.crosspoint(4, 3) == 2; }, 5000));
    EXPECT_TRUE(browser.waitFor(a, js("document.querySelector('#srcKeys [data-src=\"1\"]').classList.contains('tally')"
                                      " && !document.querySelector('#srcKeys [data-src=\"2\"]').classList.contains('tally')")));

    // Preset then Take, breakaway: VTR1 (input 5) on VIDEO only.
    browser.eval(a, js("document.getElementById('presetMode').click(); true"));
    browser.eval(a, click(QStringLiteral("#noLevels")));
    browser.eval(a, click(QStringLiteral("#levelKeys [data-level=\"0\"]")));
    browser.eval(a, click(QStringLiteral("#srcKeys [data-src=\"4\"]")));
    EXPECT_TRUE(browser.eval(a, text(QStringLiteral("#presetText"))).toString().contains(QStringLiteral("VTR1 → MON1 (VIDEO)")))
        << qPrintable(browser.eval(a, text(QStringLiteral("#presetText"))).toString());
    QElapsedTimer pause;
    pause.start();
    waitUntil([&] { return pause.elapsed() > 400; }, 1000);
    EXPECT_EQ(h.crosspoint(1, 3), 2) << "a preset is not taken before Take";
    browser.eval(a, click(QStringLiteral("#take")));
    EXPECT_TRUE(waitUntil([&] { return h.crosspoint(1, 3) == 5; }, 5000));
    EXPECT_EQ(h.crosspoint(2, 3), 2) << "the levels not selected are left";
    EXPECT_TRUE(browser.waitFor(a, js("document.getElementById('preset').hidden")));

    // Lock and unlock, with the owner shown.
    ASSERT_TRUE(browser.waitFor(a, click(QStringLiteral("#lock"))));
    EXPECT_TRUE(waitUntil([&] { return h.dumpHas(QStringLiteral("L 0 3")); }, 5000));
    EXPECT_TRUE(browser.waitFor(a, text(QStringLiteral("#lockState")) + QStringLiteral(" === 'Locked by alice'")))
        << qPrintable(browser.eval(a, text(QStringLiteral("#lockState"))).toString());
    EXPECT_TRUE(browser.waitFor(a, text(QStringLiteral("#row-2 .lk")) + QStringLiteral(" === 'alice'")));
    ASSERT_TRUE(browser.waitFor(a, click(QStringLiteral("#unlock"))));
    EXPECT_TRUE(waitUntil([&] { return !h.dumpHas(QStringLiteral("L 0 3")); }, 5000));
    EXPECT_TRUE(browser.waitFor(a, text(QStringLiteral("#lockState")) + QStringLiteral(" === 'Free'")));

    // A salvo: its contents first, fired only on confirmation.
    browser.eval(a, click(QStringLiteral(".tab[data-tab=\"salvos\"]")));
    ASSERT_TRUE(browser.waitFor(a, click(QStringLiteral("[data-salvo=\"Night\"]"))));
    ASSERT_TRUE(browser.waitFor(a, js("document.getElementById('salvoDialog').open")));
    EXPECT_TRUE(browser.eval(a, text(QStringLiteral("#salvoRoutes"))).toString().contains(QStringLiteral("PVW")));
    EXPECT_EQ(h.crosspoint(1, 1), 1);
    browser.eval(a, click(QStringLiteral("#salvoFire")));
    EXPECT_TRUE(waitUntil([&] { return h.crosspoint(1, 1) == 3 && h.crosspoint(1, 2) == 4; }, 5000));

    // Undo of the preset take routes CAM2 back to MON1's VIDEO, journaled as an undo.
    browser.eval(a, click(QStringLiteral(".tab[data-tab=\"journal\"]")));
    const QString undoButton = js("[...document.querySelectorAll('#journalTable tr')].filter(r => r.textContent.includes('MON1 <- VTR1/VIDEO'))"
                                  ".map(r => r.querySelector('button.undo')).filter(b => b)[0]");
    ASSERT_TRUE(browser.waitFor(a, QStringLiteral("!!(%1)").arg(undoButton))) << "the take is confirmed and undoable";
    browser.eval(a, undoButton + QStringLiteral(".click()"));
    EXPECT_TRUE(waitUntil([&] { return h.crosspoint(1, 3) == 2; }, 5000));
    EXPECT_TRUE(browser.waitFor(a, js("document.getElementById('journalTable').textContent.includes('Undo of #')")));
    bool journaled = false;
    for (const JournalEntry &e : h.hub.journal().list(0))
        journaled = journaled || (e.origin.name == QLatin1String("alice") && undoneIdOf(e.origin) > 0 && e.output == 3);
    EXPECT_TRUE(journaled);
    browser.eval(a, click(QStringLiteral(".tab[data-tab=\"status\"]")));

    // A change at the controller reaches two open pages; a take from a
    // panel through the hub too.
    const QString b = browser.newPage(h.url());
    ASSERT_TRUE(browser.waitFor(b, js("!!(window.__xel && window.__xel.ready)"), 15000)) << "the session is shared";
    EXPECT_EQ(h.emu("route 0 1 6 7"), QByteArray("OK")); // MON4 VIDEO <- VTR3
    for (const QString &page : { a, b })
        EXPECT_TRUE(browser.waitFor(page, text(QStringLiteral("#row-5 td:nth-child(2)")) + QStringLiteral(" === 'VTR3'"), 15000));
    hubtest::ScriptedPanel panel;
    ASSERT_TRUE(panel.connectTo(h.port()));
    EXPECT_EQ(panel.ask(QStringLiteral("H004006006006006")), QStringLiteral("G")); // MON2 (output 4) <- VTR2 (input 6)
    for (const QString &page : { a, b })
        EXPECT_TRUE(browser.waitFor(page, text(QStringLiteral("#row-3 td:nth-child(3)")) + QStringLiteral(" === 'VTR2'"), 5000))
            << qPrintable(browser.eval(page, js("[...document.querySelectorAll('#statusTable tr')].map(r => r.textContent).join('|')")).toString());

    // The view-only operator's take is refused by the server, however it is sent.
    const QString v = browser.newPage(h.url(), true);
    ASSERT_TRUE(signIn(browser, v, QStringLiteral("viewer"), QStringLiteral("viewer-pw")))
        << qPrintable(browser.eval(v, js("location.href + ' ' + document.body.textContent")).toString());
    EXPECT_TRUE(browser.eval(v, js("document.body.classList.contains('viewonly') && !document.getElementById('lock')")).toBool());
    const QJsonValue crafted = browser.eval(v, js(R"(new Promise((resolve) => {
        const ws = new WebSocket('ws://' + location.host + '/ws');
        ws.onmessage = (e) => {
          const m = JSON.parse(e.data);
          if (m.type === 'hello') ws.send(JSON.stringify({ op: 'take', req: 7, destination: 'PGM', source: 'BARS' }));
          else if (m.type === 'reply') { ws.close(); resolve(m.req + ' ' + m.ok + ' ' + m.error); }
        };
      }))"));
    EXPECT_EQ(crafted.toString(), QStringLiteral("7 false viewer is view only"));
    const QJsonValue posted = browser.eval(v, js(R"(fetch('/api/take', { method: 'POST',
        headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ destination: 'PGM', source: 'BARS' }) })
        .then((r) => r.status))"));
    EXPECT_EQ(posted.toInt(), 403);
    EXPECT_EQ(browser.eval(v, click(QStringLiteral("#srcKeys [data-src=\"12\"]"))).toBool(), true);
    QElapsedTimer wait;
    wait.start();
    waitUntil([&] { return wait.elapsed() > 500; }, 1000);
    EXPECT_EQ(h.crosspoint(1, 1), 3) << "PGM still has the salvo's CAM3";

    // Screenshots for the README, when asked for.
    const QString shots = QString::fromLocal8Bit(qgetenv("EXEL_WEB_SCREENSHOTS"));
    if (!shots.isEmpty()) {
        browser.eval(a, click(QStringLiteral("#destKeys [data-dest=\"2\"]")));
        browser.eval(a, click(QStringLiteral("#allLevels")));
        h.emu("flag 0 2 4 on");
        browser.waitFor(a, js("!!document.querySelector('td.flag')"), 5000);
        struct Size {
            int w, h;
            const char *name;
        };
        for (const Size s : { Size { 1280, 800, "web-desktop" }, Size { 1024, 768, "web-tablet" }, Size { 390, 844, "web-phone" } }) {
            browser.resize(a, s.w, s.h);
            waitUntil([&] { return false; }, 400);
            EXPECT_TRUE(browser.screenshot(a, shots + QLatin1Char('/') + QLatin1String(s.name) + QStringLiteral(".png")));
        }
        const QString login = browser.newPage(h.url(), true, 1024, 768);
        browser.waitFor(login, js("!!document.getElementById('go')"));
        EXPECT_TRUE(browser.screenshot(login, shots + QStringLiteral("/web-signin.png")));
    }
}

TEST_F(WebBrowserTest, hubRestarted_pageReconnectsAndShowsTheStateAsItIsNow)
{
    const QString a = browser.newPage(h.url());
    ASSERT_TRUE(signIn(browser, a, QStringLiteral("alice"), QStringLiteral("alice-pw")));
    ASSERT_TRUE(browser.waitFor(a, text(QStringLiteral("#row-1 td:nth-child(2)")) + QStringLiteral(" === 'CAM2'"), 10000))
        << qPrintable(browser.eval(a, text(QStringLiteral("#row-1"))).toString());
    h.hub.stop();
    EXPECT_TRUE(browser.waitFor(a, js("!document.getElementById('banner').hidden"), 5000)) << "the page says the hub is away";
    // The router changes while the hub is down.
    EXPECT_EQ(h.emu("route 0 1 2 9"), QByteArray("OK")); // PVW VIDEO <- GFX1
    HubService again;
    QString error;
    ASSERT_TRUE(again.start(h.config, &error)) << qPrintable(error);
    EXPECT_TRUE(browser.waitFor(a, js("document.getElementById('banner').hidden && window.__xel.hellos === 2"), 15000))
        << "reconnected, still signed in";
    EXPECT_TRUE(browser.waitFor(a, text(QStringLiteral("#row-1 td:nth-child(2)")) + QStringLiteral(" === 'GFX1'"), 15000));
    again.stop();
}
