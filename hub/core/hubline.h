// One controller line of the hub: the only owner of its port. It keeps one
// command in flight, takes and lock changes from every client in one queue in
// arrival order, and between them keeps the router state fresh: destinations
// just taken first (to confirm them), then what clients asked about and have
// not been answered, then what clients watch, the lock tables at a bounded
// share of the line, and a round-robin sweep of every output.
//
// The link's waits let other events run, so a client may submit work while a
// command is on the line: it is queued, and nothing here ever starts a second
// command from inside the first.
#pragma once

#include "clock.h"
#include "hublink.h"
#include "journal.h"
#include "routerstate.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace exel::hub {

// The line's port as the hub needs it: the link over it, whether the port is
// open, and a way to open it again after it closed (a hang-up, a network
// serial server that went away).
class LinePort {
public:
    virtual ~LinePort() = default;
    virtual Hublink &link() = 0;
    virtual bool portOpen() = 0;
    virtual void reopen() = 0;
    // Told when a dial-up line starts dialling and when the dial is over
    // (a direct line never calls it).
    virtual void onDialling(std::function<void(bool dialling)> notify) { (void)notify; }
};

struct LineOptions {
    int answerTimeoutMs = 2000; // the link's wait for one answer
    int watchMs = 5000; // a destination asked about stays watched this long
    int watchRefreshMs = 400; // a watched destination is read again after this
    double watchShare = 0.5; // at most this share of the line for watched destinations
    double lockShare = 0.1; // at most this share of the line for lock tables
    int lockRefreshMs = 1000; // and each lock table at most this often
    int sweepPauseMs = 0; // rest after each full sweep (0: sweep continuously)
    int reopenMs = 5000; // a closed port is opened again this often
    int redialMs = 30000; // a dial-up line that could not connect is dialled again after this
    int confirmTries = 3; // confirming polls of a take before giving up
    int lockSetFreshMs = 2000; // a lock set to a state reads the table first when it is older than this
};

// A take as the line sends it: one input per controller level, 1-based, 0 =
// leave that level as it is.
struct TakeRequest {
    int16_t address = 0;
    int output = 0;
    std::vector<int16_t> inputs;
};

class HubLine : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const JournalEntry &entry)>;
    using Polled = std::function<void(bool answered)>;

    // controllers: the addresses this line carries (empty: every controller
    // of the state).
    HubLine(QString name, LinePort &port, RouterState &state, Journal &journal, Clock &clock,
        const LineOptions &options, std::vector<int16_t> controllers = {}, QObject *parent = nullptr);
    ~HubLine() override;

    const QString &name() const { return m_name; }
    bool carries(int16_t address) const;
    // Port open, controller answering, modem connected.
    bool online() const { return m_online; }

    // Queues a take or a lock toggle; done runs once, when the controller has
    // answered it (acknowledged or refused) or it failed. Returns the journal
    // id (0 when the journal refused the entry; done has then run with failed).
    int64_t submitTake(const TakeRequest &take, const Origin &origin, Done done = {});
    int64_t submitLockToggle(int16_t address, int output, const Origin &origin, Done done = {});
    // Queues a lock set to a state (the controller only toggles): at its turn
    // the lock table is read unless it is recent, and the toggle goes out only
    // when the output is not already as wanted (then the entry is confirmed
    // with nothing sent). A lock made this way is owned by origin (see
    // RouterState::lockOwner). forced: the journal notes that the lock of
    // another owner was forced open; whether that is allowed is the server's
    // decision, made before it calls this.
    int64_t submitLock(
        int16_t address, int output, bool locked, const Origin &origin, Done done = {}, bool forced = false);

    // Reads an output's status (a controller's lock table) ahead of the rest
    // of the work; polled runs when the read is done.
    void requestStatus(int16_t address, int output, Polled polled = {});
    void requestLocks(int16_t address, Polled polled = {});
    // A client looks at an output: it is kept fresh for the next few seconds.
    void watch(int16_t address, int output);

    // Whether what the state holds is recent enough to answer from.
    bool statusFresh(int16_t address, int output, int staleMs) const;
    bool locksFresh(int16_t address, int staleMs) const;

    // Does one piece of work on the line; false when there was none to do
    // (or a command is already on the line).
    bool step();
    // Runs step() from the event loop, one after another, for as long as the
    // hub runs.
    void start();
    void stop();

    // The outputs of the sweep, in order.
    const std::vector<std::pair<int16_t, int>> &sweepOrder() const { return m_sweep; }
    // Full sweeps finished so far.
    int64_t sweepsDone() const { return m_sweepsDone; }
    // Characters moved on the line (questions and answers) since the start.
    int64_t wireChars() const { return m_wireChars; }
    int64_t commandsSent() const { return m_commandsSent; }
    const LineOptions &options() const { return m_options; }

signals:
    void onlineChanged(bool online);
    // A command line went out: its text without checksum.
    void commandRan(const QString &text, const QString &reply);

private:
    using Key = std::pair<int16_t, int>;
    struct Command {
        JournalEntry entry;
        Done done;
        int wanted = -1; // a lock set: 1 locked, 0 free; -1 a toggle or a take
    };
    int64_t submitLockCommand(Command c, int16_t address, int output, const QString &what);
    enum class Use { Other, Watch, Locks };

    void scheduleNext(int delayMs);
    void runCommand(Command &command);
    void finishCommand(Command &command, EntryState state, const QString &reply, const QString &note);
    bool pollStatus(const Key &key, Use use);
    bool pollLocks(int16_t address, Use use);
    QString send(const QString &text);
    void account(Use use, int chars);
    bool shareLeft(Use use, double share) const;
    void updateOnline();
    bool lineUsable() const;
    void failQueued(const QString &note);
    void settleTakes(const Key &key);
    void settleLocks(int16_t address);
    void polledStatus(const Key &key, bool answered);
    void polledLocks(int16_t address, bool answered);
    template <class K, class Settle>
    void polled(const K &key, bool answered, std::map<K, std::vector<JournalEntry>> &unconfirmed,
        std::map<K, int> &tries, std::deque<K> &confirmQueue, std::map<K, std::vector<Polled>> &waiters,
        Settle settle);
    QString takeSummary(const TakeRequest &take) const;
    const Key *nextWatched(int64_t now) const;

    QString m_name;
    LinePort &m_port;
    RouterState &m_state;
    Journal &m_journal;
    Clock &m_clock;
    LineOptions m_options;
    std::set<int16_t> m_controllers;
    QTimer m_timer;
    bool m_running = false;
    bool m_inStep = false;
    bool m_online = true;
    int64_t m_nextReopen = 0;
    int64_t m_restUntil = 0;
    int m_commandsInARow = 0;

    std::deque<Command> m_commands;
    std::deque<Key> m_confirmStatus;
    std::deque<int16_t> m_confirmLocks;
    std::map<Key, int> m_confirmTries;
    std::map<int16_t, int> m_confirmLockTries;
    std::deque<Key> m_priorityStatus;
    std::deque<int16_t> m_priorityLocks;
    std::map<Key, std::vector<Polled>> m_statusWaiters;
    std::map<int16_t, std::vector<Polled>> m_lockWaiters;
    std::map<Key, int64_t> m_watchedUntil;
    std::map<int16_t, int64_t> m_lockAskedAt;
    // Acknowledged entries waiting for a poll to confirm them.
    std::map<Key, std::vector<JournalEntry>> m_unconfirmedTakes;
    std::map<int16_t, std::vector<JournalEntry>> m_unconfirmedLocks;

    std::vector<Key> m_sweep;
    size_t m_sweepNext = 0;
    int64_t m_sweepsDone = 0;
    int64_t m_sweepStartedAt = 0;
    double m_useTotal = 0;
    double m_useWatch = 0;
    double m_useLocks = 0;
    int64_t m_wireChars = 0;
    int64_t m_commandsSent = 0;
};

} // namespace exel::hub
