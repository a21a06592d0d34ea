// xelsoak: the panel's own polling, takes and locks, over the real comm
// control and engine, against the controller emulator injecting faults, for
// a given time; then checks what the router kept and prints a report.
//
// The panel's pieces are the real ones: the configuration reader, the system
// model, the key banks with the take and lock logic, the status poller and
// the link over a TolComm created by its ProgID. What the operator would do
// is played by this loop: keys pressed at a steady rate, every box answered
// OK, and the link reloaded (as the communication settings dialog does) when
// the controller's line has hung up and come back.
#include "configreader.h"
#include "controlfactory.h"
#include "hublinkcore.h"
#include "keybanks.h"
#include "settingsstore.h"
#include "soakparts.h"
#include "statuspoller.h"
#include "takeandlocks.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

using namespace exel;
using namespace exel::soak;

namespace {

const QString kProgId = QStringLiteral("TolLinkware.TolComm");

struct Options {
    QString config;
    QString socket;
    QString reportFile;
    int64_t durationMs = 600000;
    int64_t takeEveryMs = 1500;
    int64_t burstEveryMs = 60000;
    int64_t stepBoundMs = 30000; // one tick or one key action
    int64_t hangBoundMs = 90000; // no progress at all: the watchdog kills
    int64_t offlineBoundMs = 30000; // a silence burst must take the link offline within this
    int64_t recoverBoundMs = 20000; // and the link must be back within this after it ends
    int64_t memEveryMs = 60000;
    int64_t warmupMs = 60000;
    int64_t memBoundBytes = 2 * 1024 * 1024;
    quint32 seed = 1;
};

struct Episode {
    QString cause; // "burst", "hangup" or "fault" (random faults took it offline)
    int64_t atMs = 0; // since the start
    int64_t offlineMs = 0; // how long the link was offline (or -1: not recovered)
    int64_t recoverMs = -1; // from the end of the cause to status answered again
};

class Soak {
public:
    explicit Soak(const Options &o)
        : m_opt(o)
        , m_link(m_ledger)
        , m_banks(m_model)
        , m_poller(m_model, m_link)
        , m_takes(m_model, m_link, m_banks, &m_poller)
        , m_rng(o.seed)
    {
        setDialogs(&m_dialogs);
    }
    ~Soak()
    {
        closeLink();
        setDialogs(nullptr);
    }

    int run();

private:
    int64_t since() const { return monotonicMs() - m_start; }
    // Events go to standard error with the run time, for reading a run afterwards.
    void event(const QString &what) const
    {
        fprintf(stderr, "%8.1f %s\n", static_cast<double>(since()) / 1000.0, what.toLocal8Bit().constData());
    }
    void fail(const QString &why)
    {
        m_failures << why;
        event(QStringLiteral("FAIL ") + why);
    }
    void openLink();
    void closeLink();
    void reloadLink();
    void tick();
    void keyAction();
    void followBurst();
    void followHangup();
    void followOffline();
    bool lineGone() const;
    void finalChecks();
    void printReport(bool passed);

    Options m_opt;
    CountingDialogs m_dialogs;
    SettingsStore m_settings;
    TakeLedger m_ledger;
    WatchedLink m_link;
    StatandConfig m_model;
    KeyBanks m_banks;
    StatusPoller m_poller;
    TakeAndLocks m_takes;
    QRandomGenerator m_rng;
    std::unique_ptr<QWidget> m_comm;
    std::unique_ptr<HublinkCore> m_core;
    QString m_deviceDir;
    bool m_trace = qEnvironmentVariableIsSet("SOAK_TRACE");
    int64_t m_start = 0;
    QStringList m_failures;

    // activity
    int64_t m_ticks = 0, m_polledTicks = 0, m_keyActions = 0, m_takeKeys = 0, m_gangTakes = 0, m_lockKeys = 0,
            m_unlockKeys = 0, m_deferred = 0, m_reloads = 0;
    int64_t m_longestTickMs = 0, m_longestKeyMs = 0, m_slowSteps = 0;

    // silence bursts: 0 idle, 1 waiting for offline, 2 waiting for recovery
    int m_burstState = 0;
    int64_t m_burstAt = 0, m_burstCleared = 0, m_nextBurst = 0;
    int m_bursts = 0, m_slots = 0, m_injectedHangups = 0;

    // hang-ups of the line
    bool m_hungUp = false;
    int64_t m_hangupSeen = 0, m_hangupReloaded = 0;
    int m_hangups = 0;

    // offline episodes, whatever their cause
    bool m_wasOffline = false;
    int64_t m_offlineSince = 0;
    std::vector<Episode> m_episodes;
    bool m_havePending = false;
    int64_t m_pendingFrom = 0;
    QString m_pendingCause;

    std::vector<MemorySample> m_memory;
    TakeLedger::Result m_ledgerResult;
    int m_statusChecked = 0, m_lockChecked = 0;
    QStringList m_statusMismatches;
};

void Soak::openLink()
{
    m_comm.reset(createControl(kProgId));
    if (m_comm)
        m_comm->setObjectName(QStringLiteral("comHublink"));
    else
        fail(QStringLiteral("the comm control %1 is not available").arg(kProgId));
    m_core = std::make_unique<HublinkCore>(m_comm.get(), m_settings, m_dialogs, SystemClock::instance());
    if (m_trace)
        QObject::connect(m_core.get(), &HublinkCore::commandSent, [this](const QString &line) {
            event(QStringLiteral("sent ") + QString(line).remove(QLatin1String("\r\n")));
        });
    m_core->OpenLink();
    m_link.setInner(m_core.get());
}

void Soak::closeLink()
{
    m_link.setInner(nullptr);
    if (m_core)
        m_core->CloseLink();
    m_core.reset();
    m_comm.reset();
}

// What the panel does when the operator confirms the communication settings.
void Soak::reloadLink()
{
    m_poller.TurnOffTimer();
    closeLink();
    openLink();
    m_poller.TurnOnTimer();
    ++m_reloads;
}

bool Soak::lineGone() const
{
    // The emulator removes its COM1 link when the line hangs up and places it
    // again when it reopens.
    return !QFileInfo(m_deviceDir + QStringLiteral("/COM1")).exists();
}

void Soak::tick()
{
    const int64_t t0 = monotonicMs();
    const StatusPoller::TickResult r = m_poller.Timer1_Timer(m_banks.destinationList(), m_banks.statusOffset());
    if (r.repaint)
        m_banks.UpdateAllStatus();
    ++m_ticks;
    if (r.polled)
        ++m_polledTicks;
    const int64_t took = monotonicMs() - t0;
    m_longestTickMs = std::max(m_longestTickMs, took);
    if (took > m_opt.stepBoundMs) {
        ++m_slowSteps;
        fail(QStringLiteral("a status tick took %1 ms (bound %2)").arg(took).arg(m_opt.stepBoundMs));
    }
}

// One press of the operator: mostly takes to one destination or a gang of
// them, sometimes on fewer levels; now and then a lock, released later.
void Soak::keyAction()
{
    if (m_link.isCPUBusy()) {
        ++m_deferred;
        return;
    }
    const int64_t t0 = monotonicMs();
    ++m_keyActions;
    const int dests = m_banks.destinationCount();
    const int sources = m_banks.sourceCount();
    const int roll = static_cast<int>(m_rng.bounded(100));
    if (roll < 12) {
        // Unlock a destination the panel shows locked, else lock one.
        int locked = -1;
        for (int k = 0; k < dests && locked < 0; ++k)
            if (m_model.Locked(m_banks.destinationList()[static_cast<size_t>(k)].index))
                locked = k;
        m_banks.btnSingle_Click();
        if (locked >= 0) {
            m_banks.btnDestination_Click(locked);
            m_takes.btnUnlock_Click();
            ++m_unlockKeys;
        } else {
            m_banks.btnDestination_Click(static_cast<int>(m_rng.bounded(dests)));
            m_takes.btnLock_Click();
            ++m_lockKeys;
        }
    } else {
        if (roll < 30) {
            m_banks.btnGang_Click();
            const int n = 2 + static_cast<int>(m_rng.bounded(2));
            std::vector<int> keys(static_cast<size_t>(dests));
            for (int k = 0; k < dests; ++k)
                keys[static_cast<size_t>(k)] = k;
            for (int i = 0; i < n && i < dests; ++i) {
                std::swap(keys[static_cast<size_t>(i)],
                    keys[static_cast<size_t>(i + static_cast<int>(m_rng.bounded(dests - i)))]);
                m_banks.btnDestination_Click(keys[static_cast<size_t>(i)]);
            }
            ++m_gangTakes;
        } else {
            m_banks.btnSingle_Click();
            m_banks.btnDestination_Click(static_cast<int>(m_rng.bounded(dests)));
        }
        // A breakaway now and then: one level left out of the take.
        if (m_rng.bounded(5) == 0 && m_banks.levelCount() > 1)
            m_banks.btnLevel_Click(static_cast<int>(m_rng.bounded(m_banks.levelCount())));
        if (m_takes.btnSource_Click(static_cast<int>(m_rng.bounded(sources))) == KeyAction::Deferred)
            ++m_deferred;
        ++m_takeKeys;
    }
    const int64_t took = monotonicMs() - t0;
    m_longestKeyMs = std::max(m_longestKeyMs, took);
    if (took > m_opt.stepBoundMs) {
        ++m_slowSteps;
        fail(QStringLiteral("a key action took %1 ms (bound %2)").arg(took).arg(m_opt.stepBoundMs));
    }
}

// Bursts of silence long enough to take the link offline: three unanswered
// questions. Once it is offline the silence ends (only the burst's count is
// reset; the low random rates stay) and the link must come back.
void Soak::followBurst()
{
    const int64_t now = since();
    if (m_burstState == 0) {
        if (now < m_nextBurst || m_hungUp || m_havePending)
            return;
        bool ok = false;
        // Every third slot hangs the line up instead, so a run sees hang-ups
        // however the random draws fall.
        if (m_slots++ % 3 == 2) {
            emulatorControl(m_opt.socket, QStringLiteral("fault hangup 1"), &ok);
            if (!ok)
                fail(QStringLiteral("the emulator's control socket did not answer"));
            event(QStringLiteral("hang-up injected"));
            ++m_injectedHangups;
            m_nextBurst = now + m_opt.burstEveryMs;
            return;
        }
        emulatorControl(m_opt.socket, QStringLiteral("fault silence 1000000"), &ok);
        if (!ok) {
            fail(QStringLiteral("the emulator's control socket did not answer"));
            m_nextBurst = now + m_opt.burstEveryMs;
            return;
        }
        ++m_bursts;
        event(QStringLiteral("silence burst starts"));
        m_burstAt = now;
        m_burstState = 1;
    } else if (m_burstState == 1) {
        if (m_link.isComOffline()) {
            emulatorControl(m_opt.socket, QStringLiteral("fault silence 0"));
            event(QStringLiteral("link offline; silence burst ends"));
            m_burstCleared = now;
            m_burstState = 2;
            m_havePending = true;
            m_pendingFrom = monotonicMs();
            m_pendingCause = QStringLiteral("burst");
        } else if (now - m_burstAt > m_opt.offlineBoundMs) {
            emulatorControl(m_opt.socket, QStringLiteral("fault silence 0"));
            fail(QStringLiteral("a silence burst at %1 s did not take the link offline within %2 ms")
                     .arg(m_burstAt / 1000)
                     .arg(m_opt.offlineBoundMs));
            m_burstState = 0;
            m_nextBurst = now + m_opt.burstEveryMs;
        }
    } else if (m_burstState == 2) {
        if (!m_havePending || now - m_burstCleared > m_opt.recoverBoundMs) {
            m_burstState = 0;
            m_nextBurst = now + m_opt.burstEveryMs;
        }
    }
}

// A hang-up closes the emulator's side of the line. The operator sees the
// link offline, has the line brought back (reopen) and confirms the
// communication settings, which reloads the link on the new line.
void Soak::followHangup()
{
    const int64_t now = since();
    if (!m_hungUp) {
        if (!lineGone())
            return;
        m_hungUp = true;
        event(QStringLiteral("the line hung up"));
        m_hangupSeen = now;
        ++m_hangups;
        return;
    }
    // Give the link the time an operator would take to notice: until it
    // shows offline, or a few seconds.
    if (!m_link.isComOffline() && now - m_hangupSeen < 5000)
        return;
    bool ok = false;
    const QStringList answer = emulatorControl(m_opt.socket, QStringLiteral("reopen"), &ok);
    if (!ok || lineGone()) {
        if (now - m_hangupSeen > m_opt.recoverBoundMs) {
            fail(QStringLiteral("the emulator's line could not be reopened: %1").arg(answer.join(u' ')));
            m_hungUp = false;
        }
        return;
    }
    event(QStringLiteral("line reopened (%1); reloading the link").arg(answer.join(u' ')));
    reloadLink();
    m_hungUp = false;
    m_hangupReloaded = now;
    m_havePending = true;
    m_pendingFrom = monotonicMs();
    m_pendingCause = QStringLiteral("hangup");
}

// Every offline episode, whatever took the link there; and the recovery
// after a burst ends or a hang-up is mended: the link online again and a
// status question answered after that moment.
void Soak::followOffline()
{
    const bool offline = m_link.isComOffline();
    const int64_t now = since();
    if (offline && !m_wasOffline) {
        event(QStringLiteral("link offline"));
        m_offlineSince = now;
        m_wasOffline = true;
    } else if (!offline && m_wasOffline) {
        m_wasOffline = false;
        event(QStringLiteral("link online"));
        Episode e;
        e.atMs = m_offlineSince;
        e.offlineMs = now - m_offlineSince;
        e.cause = m_havePending ? m_pendingCause : QStringLiteral("fault");
        m_episodes.push_back(e);
    }
    if (m_havePending) {
        const int64_t waited = monotonicMs() - m_pendingFrom;
        if (!offline && m_link.lastStatusAnswerMs() > m_pendingFrom) {
            // Attach the recovery to the episode it ended (the last one), or
            // note a recovery with no offline episode (a hang-up mended
            // before the link noticed).
            if (!m_episodes.empty() && m_episodes.back().cause == m_pendingCause && m_episodes.back().recoverMs < 0)
                m_episodes.back().recoverMs = waited;
            else
                m_episodes.push_back(Episode { m_pendingCause, now, 0, waited });
            event(QStringLiteral("status answered again %1 ms after the %2 ended").arg(waited).arg(m_pendingCause));
            m_havePending = false;
        } else if (waited > m_opt.recoverBoundMs) {
            fail(QStringLiteral("no recovery within %1 ms after a %2 at %3 s")
                     .arg(m_opt.recoverBoundMs)
                     .arg(m_pendingCause)
                     .arg(now / 1000));
            m_episodes.push_back(Episode { m_pendingCause, now, -1, -1 });
            m_havePending = false;
        }
    }
}

int Soak::run()
{
    m_deviceDir = qEnvironmentVariable("TOLCOM_DEVICE_DIR");
    if (m_deviceDir.isEmpty()) {
        fprintf(stderr, "xelsoak: TOLCOM_DEVICE_DIR names no folder\n");
        return 2;
    }
    const ConfigLoadResult loaded = LoadConfigFile(m_model, m_opt.config);
    if (!loaded.ok()) {
        fprintf(stderr, "xelsoak: cannot load %s: %s\n", m_opt.config.toLocal8Bit().constData(),
            loaded.reason.toLocal8Bit().constData());
        return 2;
    }
    m_banks.load1stSystem();
    for (int c = 0; c < m_model.controllerCount(); ++c) {
        int outputs = 0;
        for (int l = 0; l < m_model.levelCount(); ++l)
            if (m_model.level(l).controllerAddress == m_model.controller(c).address)
                outputs = std::max<int>(outputs, m_model.level(l).numOutputs);
        m_link.expectController(m_model.controller(c).address, m_model.controller(c).numLevels, outputs);
    }
    m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("CommPort"), QStringLiteral("1"));
    m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable"), QStringLiteral("FALSE"));
    openLink();
    if (m_link.isComError()) {
        printReport(false);
        return 1;
    }

    Watchdog watchdog(m_opt.hangBoundMs, m_opt.reportFile);
    m_start = monotonicMs();
    m_poller.TurnOnTimer();
    int64_t nextTick = 0, nextKey = m_opt.takeEveryMs, nextMem = 0;
    int tickInterval = StatusPoller::kOnlineInterval;
    m_nextBurst = std::min<int64_t>(30000, m_opt.durationMs / 4);
    while (since() < m_opt.durationMs) {
        watchdog.beat("the main loop");
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        int64_t now = since();
        if (now >= nextMem) {
            m_memory.push_back(sampleMemory(now));
            nextMem += m_opt.memEveryMs;
        }
        followHangup();
        followBurst();
        followOffline();
        if (now >= nextTick && m_poller.timerEnabled()) {
            watchdog.beat("a status tick");
            tick();
            tickInterval = m_link.isComOffline() ? StatusPoller::kOfflineInterval : StatusPoller::kOnlineInterval;
            nextTick = since() + tickInterval;
            followOffline();
        }
        now = since();
        if (now >= nextKey && !m_hungUp) {
            watchdog.beat("a key action");
            keyAction();
            nextKey = since() + m_opt.takeEveryMs;
            followOffline();
        }
        const int64_t next = std::min({ nextTick, nextKey, nextMem }) - since();
        if (next > 0)
            usleep(static_cast<useconds_t>(std::min<int64_t>(next, 20)) * 1000);
    }
    m_memory.push_back(sampleMemory(since()));

    watchdog.beat("the final checks");
    finalChecks();
    const bool passed = m_failures.isEmpty();
    printReport(passed);
    return passed ? 0 : 1;
}

// The faults stop; the link is brought back if it must be; a clean polling
// cycle runs over every destination; then the router's tables are read and
// compared with what was acknowledged and with what the panel shows.
void Soak::finalChecks()
{
    emulatorControl(m_opt.socket, QStringLiteral("fault clear"));
    if (lineGone()) {
        ++m_hangups;
        event(QStringLiteral("the line hung up; reopening it for the final checks"));
        emulatorControl(m_opt.socket, QStringLiteral("reopen"));
        reloadLink();
    }
    // A lock toggle whose answer was lost can leave a lock behind: the
    // panel's lock keys are not part of the take check, so start clean.
    const int64_t t0 = monotonicMs();
    while (m_link.isComOffline() && monotonicMs() - t0 < m_opt.recoverBoundMs) {
        tick();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        usleep(200 * 1000);
    }
    if (m_link.isComOffline())
        fail(QStringLiteral("the link did not come back online after the faults stopped"));
    const int cycle = 2 * m_banks.destinationCount() + 6;
    for (int i = 0; i < cycle; ++i) {
        tick();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    bool ok = false;
    const QStringList dump = emulatorControl(m_opt.socket, QStringLiteral("dump"), &ok);
    if (!ok || dump.isEmpty() || dump.last() != QLatin1String("END")) {
        fail(QStringLiteral("the emulator's dump could not be read"));
        return;
    }
    std::map<Crosspoint, int> routed;
    std::map<std::pair<int, int>, bool> locks;
    for (const QString &line : dump) {
        const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (w.size() == 6 && w[0] == QLatin1String("X"))
            routed[Crosspoint { w[1].toInt(), w[2].toInt(), w[3].toInt() }] = w[4].toInt();
        else if (w.size() == 3 && w[0] == QLatin1String("L"))
            locks[{ w[1].toInt(), w[2].toInt() }] = true;
    }
    const auto at = [&routed](const Crosspoint &x) {
        const auto it = routed.find(x);
        return it == routed.end() ? 0 : it->second;
    };
    m_ledgerResult = m_ledger.check(at);
    for (const QString &f : m_ledgerResult.failures)
        fail(QStringLiteral("acknowledged take lost: ") + f);

    // After a clean cycle the panel shows what the router has.
    for (int d = 0; d < m_model.destinationCount(); ++d) {
        bool anyLocked = false;
        for (int l = 0; l < m_model.levelCount(); ++l) {
            if (!m_model.DestinationOnLevel(d, l))
                continue;
            const LevelRecord &lev = m_model.level(l);
            const int output = m_model.DestinationNumber(d, l) + 1;
            const int input = at(Crosspoint { lev.controllerAddress, lev.levelNumber + 1, output });
            // Compared by number: two sources may share an input on a level.
            const int shown = m_model.Status(l, d).source;
            const int shownInput = shown >= 0 ? m_model.SourceNumber(shown, l) + 1 : 0;
            const bool named = input > 0 && m_model.SourceWithNumber(l, static_cast<int16_t>(input - 1)) >= 0;
            ++m_statusChecked;
            if (named ? shownInput != input : shown != -1)
                m_statusMismatches << QStringLiteral("%1 on %2 shows source %3, router input %4")
                                          .arg(m_model.DestinationName(d), lev.name)
                                          .arg(shown)
                                          .arg(input);
            if (locks.count({ lev.controllerAddress, output }))
                anyLocked = true;
        }
        ++m_lockChecked;
        if (m_model.Locked(d) != anyLocked)
            m_statusMismatches << QStringLiteral("%1 shows %2, router has it %3")
                                      .arg(m_model.DestinationName(d),
                                          m_model.Locked(d) ? QStringLiteral("locked") : QStringLiteral("free"),
                                          anyLocked ? QStringLiteral("locked") : QStringLiteral("free"));
    }
    for (const QString &m : m_statusMismatches)
        fail(QStringLiteral("panel and router disagree after a clean cycle: ") + m);

    // Memory after warm-up.
    const MemorySample *base = nullptr;
    int64_t heapGrowth = 0, rssGrowth = 0;
    for (const MemorySample &s : m_memory) {
        if (s.atMs < m_opt.warmupMs)
            continue;
        if (!base) {
            base = &s;
            continue;
        }
        heapGrowth = std::max(heapGrowth, s.heapInUse - base->heapInUse);
        rssGrowth = std::max(rssGrowth, s.rss - base->rss);
    }
    if (heapGrowth > m_opt.memBoundBytes)
        fail(QStringLiteral("heap in use grew by %1 KiB after warm-up (bound %2 KiB)")
                 .arg(heapGrowth / 1024)
                 .arg(m_opt.memBoundBytes / 1024));
    if (rssGrowth > m_opt.memBoundBytes)
        fail(QStringLiteral("resident memory grew by %1 KiB after warm-up (bound %2 KiB)")
                 .arg(rssGrowth / 1024)
                 .arg(m_opt.memBoundBytes / 1024));
}

void Soak::printReport(bool passed)
{
    QStringList out;
    const WatchedLink::Counts &c = m_link.counts();
    out << QStringLiteral("run: %1 s, seed %2").arg(since() / 1000).arg(m_opt.seed);
    out << QStringLiteral("ticks: %1 (%2 polled), longest %3 ms").arg(m_ticks).arg(m_polledTicks).arg(m_longestTickMs);
    out << QStringLiteral("status questions: %1, answered %2").arg(c.statusAsked).arg(c.statusAnswered);
    out << QStringLiteral("lock tables read: %1").arg(c.lockTablesAsked);
    out << QStringLiteral("answers of another question's shape taken as the answer: %1 status, %2 lock tables")
               .arg(c.statusMisfit)
               .arg(c.lockTableMisfit);
    out << QStringLiteral("key actions: %1 (takes %2, of them gang %3; lock %4, unlock %5; deferred %6), longest %7 ms")
               .arg(m_keyActions)
               .arg(m_takeKeys)
               .arg(m_gangTakes)
               .arg(m_lockKeys)
               .arg(m_unlockKeys)
               .arg(m_deferred)
               .arg(m_longestKeyMs);
    out << QStringLiteral("take commands: %1, acknowledged %2, locked %3, refused %4, unanswered %5")
               .arg(c.takeCommands)
               .arg(c.takeAcknowledged)
               .arg(c.takeLocked)
               .arg(c.takeRefused)
               .arg(c.takeUnanswered);
    out << QStringLiteral("lock toggles: %1, acknowledged %2").arg(c.lockToggles).arg(c.lockTogglesAcknowledged);
    out << QStringLiteral("take check: %1 crosspoints with an acknowledged take, %2 hold it, %3 hold a later take, "
                          "%4 lost; %5 times an acknowledged crosspoint was taken again and acknowledged")
               .arg(m_ledgerResult.checked)
               .arg(m_ledgerResult.confirmed)
               .arg(m_ledgerResult.replacedLater)
               .arg(m_ledgerResult.failures.size())
               .arg(m_ledger.superseded());
    out << QStringLiteral("panel vs router after a clean cycle: %1 status cells, %2 lock states, %3 disagree")
               .arg(m_statusChecked)
               .arg(m_lockChecked)
               .arg(m_statusMismatches.size());
    out << QStringLiteral(
        "silence bursts: %1; hang-ups: %2 (%3 injected on schedule, the rest drawn); link reloads: %4")
               .arg(m_bursts)
               .arg(m_hangups)
               .arg(m_injectedHangups)
               .arg(m_reloads);
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    out << QStringLiteral("processor time: %1 s user, %2 s system")
               .arg(static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6, 0, 'f', 1)
               .arg(static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6, 0, 'f', 1);
    std::map<QString, std::vector<const Episode *>> byCause;
    for (const Episode &e : m_episodes)
        byCause[e.cause].push_back(&e);
    for (const auto &[cause, list] : byCause) {
        int64_t maxOff = 0, maxRec = 0, sumRec = 0;
        int recovered = 0, failed = 0;
        for (const Episode *e : list) {
            maxOff = std::max(maxOff, e->offlineMs);
            if (e->recoverMs >= 0) {
                ++recovered;
                sumRec += e->recoverMs;
                maxRec = std::max(maxRec, e->recoverMs);
            } else if (e->offlineMs < 0) {
                ++failed;
            }
        }
        QString line = QStringLiteral("offline episodes (%1): %2, longest offline %3 ms")
                           .arg(cause)
                           .arg(list.size())
                           .arg(maxOff);
        if (cause != QLatin1String("fault"))
            line += QStringLiteral("; recovered %1 (mean %2 ms, longest %3 ms), not recovered %4")
                        .arg(recovered)
                        .arg(recovered ? sumRec / recovered : 0)
                        .arg(maxRec)
                        .arg(failed);
        out << line;
    }
    for (const Episode &e : m_episodes)
        out << QStringLiteral("  episode at %1 s: %2, offline %3 ms, recovery %4 ms")
                   .arg(e.atMs / 1000.0, 0, 'f', 1)
                   .arg(e.cause)
                   .arg(e.offlineMs)
                   .arg(e.recoverMs);
    out << QStringLiteral("message boxes: %1").arg(m_dialogs.total());
    for (auto it = m_dialogs.counts().begin(); it != m_dialogs.counts().end(); ++it)
        out << QStringLiteral("  %1 x \"%2\"")
                   .arg(it.value())
                   .arg(QString(it.key()).replace(QLatin1Char('\n'), QLatin1String("\\n")));
    out << QStringLiteral("memory samples (s: heap in use KiB, resident KiB):");
    for (const MemorySample &s : m_memory)
        out << QStringLiteral("  %1: %2, %3").arg(s.atMs / 1000).arg(s.heapInUse / 1024).arg(s.rss / 1024);
    out << QStringLiteral("failures: %1").arg(m_failures.size());
    for (const QString &f : m_failures)
        out << QStringLiteral("  ") + f;
    out << QStringLiteral("driver verdict: %1").arg(passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    const QByteArray text = out.join(QLatin1Char('\n')).toLocal8Bit() + '\n';
    fputs(text.constData(), stdout);
    fflush(stdout);
    if (!m_opt.reportFile.isEmpty()) {
        if (FILE *f = fopen(QFile::encodeName(m_opt.reportFile).constData(), "a")) {
            fputs(text.constData(), f);
            fclose(f);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xelsoak"));
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Soak of the panel's polling, takes and locks against the controller emulator.\n"
                       "The emulator must publish COM1 in $TOLCOM_DEVICE_DIR and listen on the control socket."));
    p.addHelpOption();
    const QCommandLineOption configOpt(
        QStringLiteral("config"), QStringLiteral("Configuration file (.CFG)."), QStringLiteral("file"));
    const QCommandLineOption socketOpt(
        QStringLiteral("control-socket"), QStringLiteral("The emulator's control socket."), QStringLiteral("path"));
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("Run time (default 600)."),
        QStringLiteral("n"), QStringLiteral("600"));
    const QCommandLineOption seedOpt(
        QStringLiteral("seed"), QStringLiteral("Seed of the key presses."), QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption takeOpt(QStringLiteral("key-ms"),
        QStringLiteral("Time between key actions (default 1500)."), QStringLiteral("ms"), QStringLiteral("1500"));
    const QCommandLineOption burstOpt(QStringLiteral("burst-every"),
        QStringLiteral("Seconds between silence bursts (default 60)."), QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption memOpt(QStringLiteral("memory-every"),
        QStringLiteral("Seconds between memory samples (default 60)."), QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption warmOpt(QStringLiteral("warmup"),
        QStringLiteral("Seconds of warm-up before memory is judged (default 60)."), QStringLiteral("s"),
        QStringLiteral("60"));
    const QCommandLineOption boundOpt(QStringLiteral("memory-bound-kb"),
        QStringLiteral("Growth allowed after warm-up (default 2048)."), QStringLiteral("KiB"), QStringLiteral("2048"));
    const QCommandLineOption reportOpt(
        QStringLiteral("report"), QStringLiteral("Append the report to this file too."), QStringLiteral("file"));
    p.addOptions(
        { configOpt, socketOpt, secondsOpt, seedOpt, takeOpt, burstOpt, memOpt, warmOpt, boundOpt, reportOpt });
    p.process(app);
    if (!p.isSet(configOpt) || !p.isSet(socketOpt)) {
        fprintf(stderr, "xelsoak: give --config and --control-socket (see --help)\n");
        return 2;
    }
    Options o;
    o.config = p.value(configOpt);
    o.socket = p.value(socketOpt);
    o.reportFile = p.value(reportOpt);
    o.durationMs = p.value(secondsOpt).toLongLong() * 1000;
    o.seed = p.value(seedOpt).toUInt();
    o.takeEveryMs = std::max(100LL, p.value(takeOpt).toLongLong());
    o.burstEveryMs = std::max(10LL, p.value(burstOpt).toLongLong()) * 1000;
    o.memEveryMs = std::max(1LL, p.value(memOpt).toLongLong()) * 1000;
    o.warmupMs = p.value(warmOpt).toLongLong() * 1000;
    o.memBoundBytes = p.value(boundOpt).toLongLong() * 1024;
    if (o.durationMs <= 0) {
        fprintf(stderr, "xelsoak: --seconds takes a positive number\n");
        return 2;
    }
    Soak soak(o);
    return soak.run();
}
