// What every server of the hub works over: the router state, the journal and
// the controller lines (each carrying some of the controllers), and how fresh
// a reading must be to be answered from.
#pragma once

#include "clock.h"
#include "hubline.h"
#include "journal.h"
#include "routerstate.h"

#include <vector>

namespace exel::hub {

struct Freshness {
    int statusStaleMs = 10000; // an output read longer ago is polled before it is answered
    int locksStaleMs = 30000; // likewise a lock table
};

class HubCore {
public:
    HubCore(RouterState &state, Journal &journal, Clock &clock, Freshness freshness = {})
        : m_state(state)
        , m_journal(journal)
        , m_clock(clock)
        , m_fresh(freshness)
    {
    }

    RouterState &state() { return m_state; }
    Journal &journal() { return m_journal; }
    Clock &clock() { return m_clock; }
    const Freshness &freshness() const { return m_fresh; }

    // The folder of the hub's salvo files (empty: no salvos).
    const QString &salvoFolder() const { return m_salvoFolder; }
    void setSalvoFolder(const QString &folder) { m_salvoFolder = folder; }

    // Lines are not owned.
    void addLine(HubLine *line) { m_lines.push_back(line); }
    const std::vector<HubLine *> &lines() const { return m_lines; }
    // The line carrying a controller address, or nullptr.
    HubLine *lineFor(int16_t address) const
    {
        for (HubLine *line : m_lines) {
            if (line->carries(address))
                return line;
        }
        return nullptr;
    }

private:
    RouterState &m_state;
    Journal &m_journal;
    Clock &m_clock;
    Freshness m_fresh;
    QString m_salvoFolder;
    std::vector<HubLine *> m_lines;
};

} // namespace exel::hub
