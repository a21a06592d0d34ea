// Pieces of the soak driver: the dialog stand-in that answers OK and counts,
// the emulator's control socket, the link wrapper that watches each command's
// outcome, memory figures and the watchdog.
#pragma once

#include "dialogs.h"
#include "hublink.h"
#include "takeledger.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <map>
#include <thread>

namespace exel::soak {

int64_t monotonicMs();

// Every box answers its first button (OK), as an operator who clicks it away;
// the texts are counted, never kept one by one, so a long run does not grow.
class CountingDialogs : public Dialogs {
public:
    MsgAnswer messageBox(const QString &text, MsgButtons buttons, MsgIcon icon, const QString &title) override;
    std::optional<QString> inputBox(const QString &, const QString &, const QString &) override { return {}; }
    QString openFileName(const FileDialogRequest &) override { return {}; }
    QString saveFileName(const FileDialogRequest &) override { return {}; }
    const QMap<QString, int> &counts() const { return m_counts; }
    int total() const;

private:
    QMap<QString, int> m_counts;
};

// One command on the emulator's control socket: the lines it answered, or
// nothing (and ok false) when the socket could not be reached in time.
QStringList emulatorControl(const QString &socketPath, const QString &command, bool *ok = nullptr);

// The panel's link as the poller and the take logic see it, forwarding to the
// real link and noting what came back: status answers, lock tables, takes and
// their acknowledgements (into the ledger), lock toggles.
class WatchedLink : public Hublink {
public:
    explicit WatchedLink(TakeLedger &ledger)
        : m_ledger(ledger)
    {
    }
    void setInner(Hublink *inner) { m_inner = inner; }
    // What a controller's answers look like: its number of levels (in a
    // status answer) and of outputs (in a lock table). An answer of another
    // shape belongs to another question: a late answer taken for this one.
    void expectController(int16_t address, int levels, int outputs) { m_shapes[address] = { levels, outputs }; }

    QString SendHublinkCmd(const QString &strCmd, float &sglTimeout) override;
    int CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr) override;
    std::vector<bool> CPUWCmd(int16_t intID) override;
    QString CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc) override;
    QString CPULCmd(int16_t intID, int16_t intDst) override;
    bool isComError() const override { return m_inner && m_inner->isComError(); }
    bool isComOffline() const override { return !m_inner || m_inner->isComOffline(); }
    bool isCPUBusy() const override { return m_inner && m_inner->isCPUBusy(); }
    bool isHublinkConnected() const override { return m_inner && m_inner->isHublinkConnected(); }
    QString getDescriptionString() const override { return m_inner ? m_inner->getDescriptionString() : QString(); }
    void ConnectModem() override
    {
        if (m_inner)
            m_inner->ConnectModem();
    }
    void disconnectModem() override
    {
        if (m_inner)
            m_inner->disconnectModem();
    }

    struct Counts {
        int64_t statusAsked = 0, statusAnswered = 0;
        int64_t lockTablesAsked = 0;
        int64_t takeCommands = 0, takeAcknowledged = 0, takeLocked = 0, takeRefused = 0, takeUnanswered = 0;
        int64_t lockToggles = 0, lockTogglesAcknowledged = 0;
        int64_t statusMisfit = 0, lockTableMisfit = 0; // answers of another question's shape
    };
    const Counts &counts() const { return m_counts; }
    // monotonicMs() of the last status question that was answered.
    int64_t lastStatusAnswerMs() const { return m_lastStatusAnswer; }

private:
    Hublink *m_inner = nullptr;
    TakeLedger &m_ledger;
    Counts m_counts;
    int64_t m_lastStatusAnswer = 0;
    std::map<int16_t, std::pair<int, int>> m_shapes;
};

struct MemorySample {
    int64_t atMs = 0; // since the start of the run
    int64_t heapInUse = 0; // bytes the allocator has handed out
    int64_t rss = 0; // resident set, bytes
};
MemorySample sampleMemory(int64_t atMs);

// Kills the process (exit status 3) when the main loop has not come round
// for longer than the bound: a hang, whatever its cause.
class Watchdog {
public:
    Watchdog(int64_t boundMs, QString reportFile);
    ~Watchdog();
    void beat(const char *where)
    {
        m_where.store(where);
        m_beat.store(monotonicMs());
    }

private:
    int64_t m_bound;
    QByteArray m_report;
    std::atomic<int64_t> m_beat;
    std::atomic<const char *> m_where { "start" };
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

} // namespace exel::soak
