// Polling and take figures for a name set of 64 destinations on 4 levels:
// how long the polling rules take to refresh every destination once, against
// what the 9600-baud line would allow with one question per destination; the
// wire time one tick needs against its 500 ms interval; and the panel logic's
// own CPU time per tick and per source key press.
#include "configreader.h"
#include "emulatorhublink.h"
#include "fakehublink.h"
#include "keybanks.h"
#include "statuspoller.h"
#include "sysgen.h"
#include "takeandlocks.h"
#include "wirepacing.h"
#include "xelemulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

using namespace exel;

namespace {

constexpr int kDests = 64;
constexpr int kLevels = 4;

// Counts the characters each question and its answer put on the line.
class WireCounter : public Hublink {
public:
    explicit WireCounter(Hublink &inner)
        : m_inner(inner)
    {
    }
    long long bytes = 0;
    std::set<int> polled;

    QString SendHublinkCmd(const QString &c, float &t) override
    {
        const QString a = m_inner.SendHublinkCmd(c, t);
        bytes += c.size() + 4 + (a.isEmpty() ? 0 : a.size() + 4);
        return a;
    }
    int CPUYCmd(int16_t id, int16_t dst, std::vector<int16_t> &src, std::vector<bool> &err) override
    {
        const int n = m_inner.CPUYCmd(id, dst, src, err);
        polled.insert(dst);
        // "Y" + 3 digits, checksum, CR LF; answer: echo, one status character
        // per two levels, three digits per level, checksum, CR LF.
        bytes += (id ? 1 : 0) + 4 + 4 + 3 + (n + 1) / 2 + 3 * n + 4;
        return n;
    }
    std::vector<bool> CPUWCmd(int16_t id) override
    {
        const auto t = m_inner.CPUWCmd(id);
        bytes += (id ? 1 : 0) + 2 + 4 + static_cast<long long>(t.size()) - 1 + 4;
        return t;
    }
    QString CPUHCmd(int16_t id, int16_t n, int16_t dst, const std::vector<int16_t> &src) override
    {
        const QString a = m_inner.CPUHCmd(id, n, dst, src);
        bytes += (id ? 1 : 0) + 4 + 3 * n + 4 + a.size() + 2;
        return a;
    }
    QString CPULCmd(int16_t id, int16_t dst) override { return m_inner.CPULCmd(id, dst); }
    bool isComError() const override { return false; }
    bool isComOffline() const override { return m_inner.isComOffline(); }
    bool isCPUBusy() const override { return false; }
    bool isHublinkConnected() const override { return true; }
    QString getDescriptionString() const override { return {}; }
    void ConnectModem() override { }
    void disconnectModem() override { }

private:
    Hublink &m_inner;
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList lines = generateSystemConfig(kDests, kDests, kLevels, 1, kDests);
    StatandConfig model;
    if (!LoadConfigLines(model, lines, QStringLiteral("BENCH")).ok()) {
        std::fprintf(stderr, "generated system did not load\n");
        return 1;
    }
    const WireSettings wire; // 9600,N,8,2

    // ---- refresh of every destination under the polling rules, emulator answering
    {
        XelEmulator emu(model);
        emu.presetDiagonal();
        EmulatorHublink emuLink(emu);
        WireCounter link(emuLink);
        KeyBanks banks(model);
        banks.load1stSystem();
        StatusPoller poller(model, link);
        poller.TurnOnTimer();
        int ticks = 0;
        long long maxTickBytes = 0;
        long long allTickBytes = 0;
        while (static_cast<int>(link.polled.size()) < kDests && ticks < 1000) {
            const long long before = link.bytes;
            if (poller.Timer1_Timer(banks.destinationList(), banks.statusOffset()).repaint)
                banks.UpdateAllStatus();
            maxTickBytes = std::max(maxTickBytes, link.bytes - before);
            allTickBytes += link.bytes - before;
            ++ticks;
        }
        // Timer1 is armed again when a tick ends: each tick's wire time is
        // followed by the whole 500 ms interval.
        const double rulesSeconds = (ticks - 1) * 0.5 + static_cast<double>(allTickBytes) * wire.charSeconds();
        const int questionBytes = 4 + 4 + 3 + (kLevels + 1) / 2 + 3 * kLevels + 4;
        const double lineSeconds = kDests * questionBytes * wire.charSeconds();
        std::printf("refresh of %d destinations x %d levels at 9600,N,8,2\n", kDests, kLevels);
        std::printf("  polling rules: %d ticks, each its wire time and then 500 ms -> %.2f s for every destination once\n",
            ticks, rulesSeconds);
        std::printf(
            "  line limit (one %d-char exchange per destination, back to back): %.2f s\n", questionBytes, lineSeconds);
        std::printf("  ratio rules / line limit: %.1f\n", rulesSeconds / lineSeconds);
        std::printf("  busiest tick on the wire: %lld chars = %.0f ms of the 500 ms interval (%.0f%%)\n", maxTickBytes,
            maxTickBytes * wire.charSeconds() * 1000, maxTickBytes * wire.charSeconds() * 100 / 0.5);
        std::printf("  the six visible rows are refreshed every tick (500 ms)\n");
    }

    // ---- logic CPU per tick (answers from the scripted link, so only the panel's work counts)
    {
        testing::FakeHublink link;
        link.setReportedLevels(1, kLevels);
        KeyBanks banks(model);
        banks.load1stSystem();
        StatusPoller poller(model, link);
        poller.TurnOnTimer();
        constexpr int kTicks = 20000;
        std::vector<double> us;
        us.reserve(kTicks);
        for (int i = 0; i < kTicks; ++i) {
            // A route that changes every tick, so the fold and the repaint run.
            link.setCrosspoint(1, static_cast<int16_t>(i % 6), 0, static_cast<int16_t>(i % kDests));
            QElapsedTimer t;
            t.start();
            if (poller.Timer1_Timer(banks.destinationList(), banks.statusOffset()).repaint)
                banks.UpdateAllStatus();
            us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
            if (i % 256 == 0)
                link.clearCalls();
        }
        const double med = percentile(us, 0.5);
        std::printf("panel logic per Timer1 tick (7 status questions, locks every third tick, repaint):\n");
        std::printf("  median %.1f us, p99 %.1f us -> %.4f %% of one core at 2 ticks/s\n", med, percentile(us, 0.99),
            med * 2 / 1e6 * 100);
    }

    // ---- take: source key press to the last command handed to the link
    {
        testing::FakeHublink link;
        KeyBanks banks(model);
        banks.load1stSystem();
        banks.btnGang_Click();
        for (int k = 0; k < 8; ++k)
            banks.btnDestination_Click(k);
        StatusPoller poller(model, link);
        TakeAndLocks ops(model, link, banks, &poller);
        std::vector<double> us;
        for (int i = 0; i < 5000; ++i) {
            QElapsedTimer t;
            t.start();
            ops.btnSource_Click(i % 16);
            us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
            link.clearCalls();
        }
        const int takeChars = 4 + 3 * kLevels + 4;
        std::printf("take, gang of 8 destinations on %d levels (one command each):\n", kLevels);
        std::printf("  panel logic median %.1f us, p99 %.1f us; each %d-char command needs %.1f ms on the wire\n",
            percentile(us, 0.5), percentile(us, 0.99), takeChars, takeChars * wire.charSeconds() * 1000);
    }
    return 0;
}
