// Takes and locks: routing a source to the selected destinations on the
// active levels, and locking or unlocking them, on the controller and in the
// system model. Key actions report "deferred" while the link is busy; the
// window keeps the request for Timer2.
#pragma once

#include "hublink.h"
#include "keybanks.h"
#include "pollinggate.h"
#include "statandconfig.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace exel {

// What to route to one destination: one source per model level, -1 where the
// level is not taken.
struct TakeRequest {
    int16_t destination = -1;
    bool lock = false;
    std::vector<int16_t> sources;
};

// Sets the status cells of every level where both the source and the
// destination are present (flag 0), then, unless in simulator mode, sends the
// take. A locked (or invalid) destination is left alone: false.
// A level whose output or input number the link cannot carry (above 999) is
// neither sent nor shown as taken: its cell keeps what the controller last
// reported, and *problem (when given and still empty) says which number.
bool TakeToDestination(StatandConfig &model, Hublink &link, const TakeRequest &request, QString *problem = nullptr);

// One CPUHCmd per controller and output number: levels of one controller on
// which the destination has the same output go in one command. Outputs and
// inputs the link cannot carry are left out.
void SendTakeCommands(const StatandConfig &model, Hublink &link, const TakeRequest &request);

// Locks or unlocks a destination. Unless in simulator or local-lock mode, each
// controller carrying it is asked for its lock table and its lock is toggled
// on each output whose state differs; then the lock table of the model is set.
// An output the link cannot carry is not toggled; the model's lock then stays
// as it was and *problem says why.
void SetDestinationLock(
    StatandConfig &model, Hublink &link, int destination, bool state, bool localLock, QString *problem = nullptr);

// "Output 1200 cannot be addressed on this link." (or "Input ...") when the
// number (1-based) is above what a command can carry; "" otherwise.
QString unaddressableText(const char *what, int number);

enum class KeyAction {
    Done, // carried out
    Deferred, // link busy: keep as the pending request for Timer2
    Ignored, // key without an entry
};

class TakeAndLocks {
public:
    // gate may be null (no polling to pause).
    TakeAndLocks(StatandConfig &model, Hublink &link, KeyBanks &banks, PollingGate *gate);

    void setLocalLock(bool on) { m_localLock = on; }
    bool localLock() const { return m_localLock; }

    // Routes the source on key Index to every selected destination on every
    // active level.
    KeyAction btnSource_Click(int Index);
    KeyAction btnLock_Click();
    KeyAction btnUnlock_Click();

    // The request a source key builds: the key's source on every active level.
    TakeRequest takeRequestFor(int source) const;

    // Why part of the last key action could not be sent ("" when all of it
    // went out): the window tells the operator once per action.
    QString problem() const { return m_problem; }

private:
    KeyAction setSelectedLocks(bool state);

    StatandConfig &m_model;
    Hublink &m_link;
    KeyBanks &m_banks;
    PollingGate *m_gate;
    bool m_localLock = false;
    QString m_problem;
};

} // namespace exel
