// The router controller emulator's core: the router held in memory (crosspoints
// per controller level, lock tables per controller), the controller protocol
// answered request by request, injected faults and the run-time control
// commands. No I/O: bytes in, bytes out, so tests drive it in-process.
#pragma once

#include "statandconfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace exel {

// Faults the emulator can put on its answers.
enum class EmuFault {
    Silence, // no answer at all
    BadChecksum, // the answer with a checksum that does not match
    Garbage, // random characters and a line end instead of the answer
    Partial, // the first part of the answer, without line end
    Slow, // the answer, after the slow delay
    Hangup, // no answer; the line is closed
};
constexpr int kEmuFaultCount = 6;

// Name used on the command line and the control interface ("silence", "badsum",
// "garbage", "partial", "slow", "hangup").
QString emuFaultName(EmuFault fault);
bool emuFaultFromName(const QString &name, EmuFault &fault);

// What to do for one request line.
struct EmuReply {
    QByteArray bytes; // to send; empty = silence
    int delayMs = 0; // wait this long before sending
    bool hangup = false; // close the line instead of answering
};

// Result of one control command line.
struct EmuControlResult {
    enum class Action { None, Hangup, Reopen, Quit };
    QStringList lines; // printed for the operator; the last one is "OK ..." or "ERR ..."
    Action action = Action::None;
};

class XelEmulator {
public:
    static constexpr int kMaxRequestChars = 512;
    static constexpr int kDefaultSlowMs = 2500;

    // The router described by a loaded configuration. Every crosspoint starts
    // unrouted ("000"), every output unlocked.
    explicit XelEmulator(const StatandConfig &model);

    // Reads a configuration file with the panel's own reader.
    static bool loadModel(const QString &path, StatandConfig &model, QString &error);

    // Bytes as they arrive from the line. A request ends at CR or LF (empty
    // lines are skipped); one reply comes back per request that gets one.
    std::vector<EmuReply> receive(const QByteArray &bytes);

    // One request line without its line end (checksum included).
    EmuReply handleLine(const QByteArray &line);

    // One control command ("help" lists them).
    EmuControlResult control(const QString &line);

    // Every received command is reported here, one line each.
    void setLogger(std::function<void(const QString &)> logger) { m_log = std::move(logger); }

    // Fault injection: on the next `count` answers, or on each answer with a probability.
    void injectFault(EmuFault fault, int count);
    void setFaultRate(EmuFault fault, double probability);
    void clearFaults();
    void setSlowDelayMs(int ms) { m_slowMs = ms; }
    void setSeed(uint32_t seed) { m_rng.seed(seed); }

    // ---- the router, in wire numbers: controller levels, outputs and inputs 1-based, input 0 = none.
    // Sets a crosspoint as if another panel had taken it; false when out of range.
    bool setCrosspoint(int address, int level, int output, int input);
    // Input on an output, 0 for none, -1 when there is no such level or output.
    int crosspoint(int address, int level, int output) const;
    bool setFlag(int address, int level, int output, bool on);
    bool setLock(int address, int output, bool locked);
    // Lock of an output; false when there is no such output.
    bool locked(int address, int output) const;
    // Routes every output from the input of the same number where the level has it.
    void presetDiagonal();
    void clearRoutes();
    // "X addr level output input flag" per routed or flagged output, "L addr output" per lock, then "END".
    QStringList dump() const;
    // How the emulator describes itself: controllers, levels, sizes.
    QStringList summary() const;

private:
    struct LevelTable {
        bool defined = false;
        QString name;
        int inputs = 0;
        int outputs = 0;
        std::vector<int16_t> input; // per output, 1-based input, 0 none
        std::vector<bool> flag;
    };
    struct Item {
        QString name;
        std::vector<int16_t> numbers; // per controller level, 1-based, 0 absent
    };
    struct Controller {
        QString name;
        int address = 0;
        int outputs = 1; // outputs of the lock table: the widest level
        std::vector<LevelTable> levels; // by controller level
        std::vector<bool> locks;
        std::vector<Item> sources;
        std::vector<Item> destinations;
    };

    Controller *controllerFor(const QString &prefix, bool hasPrefix);
    Controller *findController(int address);
    const Controller *findController(int address) const;
    LevelTable *levelAt(int address, int level, int output);

    QString answerStatus(Controller &c, QStringView args);
    QString answerTake(Controller &c, QStringView args);
    QString answerLocks(const Controller &c) const;
    QString answerLockToggle(Controller &c, QStringView args);
    QString answerIdentity(const Controller &c) const;
    QString startQuery(const Controller &c, const QString &kind);
    QString nextQueryAnswer();
    QStringList queryRecords(const Controller &c, const QString &kind) const;

    EmuReply deliver(const QString &answer);
    QByteArray frameAnswer(const QString &answer) const;
    bool drawFault(EmuFault fault);
    void log(const QString &text) const;

    std::vector<Controller> m_controllers;
    QByteArray m_pending; // request characters without line end yet
    bool m_discarding = false; // an over-long request is skipped up to its line end
    QString m_lastAnswer;
    bool m_hasLastAnswer = false;
    QStringList m_query;
    int m_queryNext = 0;
    std::array<int, kEmuFaultCount> m_faultCount {};
    std::array<double, kEmuFaultCount> m_faultRate {};
    int m_slowMs = kDefaultSlowMs;
    std::mt19937 m_rng { 20261208u };
    std::function<void(const QString &)> m_log;
};

} // namespace exel
