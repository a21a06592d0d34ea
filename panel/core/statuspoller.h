// Status polling: the work of one Timer1 tick (locks every third tick, the six
// visible rows, one background destination), the fold of a controller's status
// and lock answers into the system model, and the Timer1 on/off bracket.
#pragma once

#include "hublink.h"
#include "pollinggate.h"
#include "statandconfig.h"

#include <vector>

namespace exel {

class StatusPoller : public PollingGate {
public:
    static constexpr int kRows = 6;
    static constexpr int kOnlineInterval = 500; // ms
    static constexpr int kOfflineInterval = 2000; // ms

    StatusPoller(StatandConfig &model, Hublink &link);

    // Global: locks are kept in the panel only; the lock tables are never read.
    void setLocalLock(bool on) { m_localLock = on; }
    bool localLock() const { return m_localLock; }

    // Asks each controller carrying the destination for its status, one question
    // per controller and output number, and folds the answers into the status
    // table. Nothing in simulator mode or for an invalid destination.
    void PollDestination(int destination);
    // Reads every controller's lock table and updates the lock table. Nothing in
    // simulator or local-lock mode.
    void PollLocks();

    struct TickResult {
        bool polled = false; // the status work ran
        bool repaint = false; // the status rows must be redrawn (UpdateAllStatus)
        int interval = kOnlineInterval; // next Timer1 interval
    };
    // One Timer1 tick over the shown destination list, whose status rows start
    // at statusOffset. The caller refreshes the caption and re-arms Timer1
    // with the interval returned.
    TickResult Timer1_Timer(const std::vector<ListEntry> &destinations, int statusOffset);

    // PollingGate: the state of Timer1 (the window follows timerEnabled()).
    bool TurnOffTimer() override;
    void TurnOnTimer() override;
    bool timerEnabled() const { return m_timerEnabled; }
    bool inTick() const { return m_inTick; }

    bool repaintRequested() const { return m_repaint; }
    void requestRepaint() { m_repaint = true; }

    int tickCounter() const { return m_tickCounter; }
    int pollCursor() const { return m_pollCursor; }
    int backgroundCursor() const { return m_bgCursor; }

private:
    void statusWork(const std::vector<ListEntry> &destinations, int statusOffset);
    void foldAnswer(
        int16_t address, int16_t output, const std::vector<int16_t> &src, const std::vector<bool> &flags, int entries);

    StatandConfig &m_model;
    Hublink &m_link;
    bool m_localLock = false;
    bool m_timerEnabled = false;
    bool m_inTick = false;
    bool m_repaint = false;
    int m_tickCounter = 0;
    int m_pollCursor = 0;
    int m_bgCursor = 0;
};

} // namespace exel
