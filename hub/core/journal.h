// The take journal: every take and lock change from any client, with its
// origin, its times and its state, kept in SQLite (WAL) in the hub's data
// folder. A state is written before the step it names happens (an entry is
// "sent" before its line goes out), so after a crash or kill the journal never
// claims less than happened. Bounded by entry count and age.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace exel::hub {

// Where a take or lock change came from.
struct Origin {
    QString server; // "panel", "videohub", ...
    QString address; // client address and port
    QString name; // the client's name when it gave one

    // The same client: same server, and the same name when one was given
    // (an operator signed in twice is one owner), else the same address.
    bool sameClient(const Origin &other) const
    {
        if (server != other.server)
            return false;
        if (!name.isEmpty() || !other.name.isEmpty())
            return name == other.name;
        return address == other.address;
    }
};

enum class EntryState { Queued, Sent, Acknowledged, Refused, Failed, Confirmed, Contradicted };
QString entryStateName(EntryState state);
std::optional<EntryState> entryStateFromName(const QString &name);
// Whether the entry can still change (queued, sent, acknowledged).
bool entryOpen(EntryState state);

struct JournalEntry {
    enum class Kind { Take, Lock };

    int64_t id = 0;
    Kind kind = Kind::Take;
    QString line; // the controller line's name
    int16_t address = 0; // controller address
    int output = 0; // 1-based
    QString destination; // name from the configuration
    // Take: requested input per controller level (1-based, 0 = unchanged).
    std::vector<int16_t> inputs;
    // Take: input each level had before the take was sent (-1 unknown). Lock:
    // one element, the lock before (1 locked, 0 free, -1 unknown).
    std::vector<int16_t> previous;
    QString summary; // readable: "VTR1 <- CAM2 (VIDEO, AUD-A)"
    Origin origin;
    EntryState state = EntryState::Queued;
    QString reply; // the controller's answer
    QString note; // why it failed, what confirmed it ...
    int64_t queuedAt = 0; // wall-clock ms since the epoch
    int64_t sentAt = 0;
    int64_t answeredAt = 0;
    int64_t settledAt = 0;
    bool interrupted = false; // the hub stopped while the entry was open
};

struct JournalLimits {
    int64_t maxEntries = 100000;
    int64_t maxAgeDays = 90; // 0: no age limit
};

// "1:3,2:0" <-> {3, 0} (controller level: input), "" for none.
QString encodeLevels(const std::vector<int16_t> &values);
std::vector<int16_t> decodeLevels(const QString &text);

class Journal : public QObject {
    Q_OBJECT
public:
    using WallClock = std::function<int64_t()>;

    explicit Journal(QObject *parent = nullptr);
    ~Journal() override;

    // Opens (creating when needed) journal.db in folder. Entries a previous
    // run left open are marked interrupted: queued ones failed (never sent),
    // sent and acknowledged ones keep their state with a note saying that no
    // poll confirmed them. False with a reason when the file cannot be used.
    bool open(const QString &folder, const JournalLimits &limits, QString *error);
    // Opens an existing journal to read it while a hub may be writing it:
    // nothing is recovered, pruned or created.
    bool openForReading(const QString &folder, QString *error);
    void close();
    bool isOpen() const;
    QString path() const { return m_path; }

    void setWallClock(WallClock clock) { m_wall = std::move(clock); }
    int64_t wallNow() const;

    // Adds an entry (its id and queue time are filled in) and announces it.
    bool add(JournalEntry &entry);
    // Writes an entry's changed state and times and announces it.
    bool update(const JournalEntry &entry);

    std::optional<JournalEntry> find(int64_t id) const;
    // Entries queued at or after sinceMs (wall clock), for a destination name
    // (case-blind; empty for all), oldest first, at most limit of the newest.
    std::vector<JournalEntry> list(int64_t sinceMs = 0, const QString &destination = QString(), int limit = 1000) const;
    // The newest take on an output that the controller acknowledged: its
    // previous inputs are what an undo routes back.
    std::optional<JournalEntry> lastTake(const QString &line, int16_t address, int output) const;
    // How many entries a recovery at open marked interrupted.
    int recovered() const { return m_recovered; }
    // Removes what is past the limits; the number removed.
    int prune();

signals:
    void entryChanged(const JournalEntry &entry);

private:
    bool exec(const QString &sql, QString *error = nullptr);
    QString m_connection;
    QString m_path;
    JournalLimits m_limits;
    WallClock m_wall;
    int m_recovered = 0;
    int m_addsSincePrune = 0;
};

} // namespace exel::hub
