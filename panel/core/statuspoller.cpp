// Status polling of the destinations shown and of the controllers' lock tables.
#include "statuspoller.h"

#include <algorithm>

namespace exel {

StatusPoller::StatusPoller(StatandConfig &model, Hublink &link)
    : m_model(model)
    , m_link(link)
{
}

bool StatusPoller::TurnOffTimer()
{
    if (m_inTick)
        return false;
    m_timerEnabled = false;
    return true;
}

void StatusPoller::TurnOnTimer()
{
    m_tickCounter = 0;
    m_bgCursor = 0;
    m_pollCursor = 0;
    m_timerEnabled = true;
}

StatusPoller::TickResult StatusPoller::Timer1_Timer(const std::vector<ListEntry> &destinations, int statusOffset)
{
    TickResult result;
    m_inTick = true;
    if (!m_model.simulator() && !m_link.isCPUBusy() && m_link.isHublinkConnected() && !destinations.empty()) {
        statusWork(destinations, statusOffset);
        result.polled = true;
        if (m_repaint) {
            m_repaint = false;
            result.repaint = true;
        }
    }
    result.interval = m_link.isComOffline() ? kOfflineInterval : kOnlineInterval;
    m_timerEnabled = true;
    m_inTick = false;
    return result;
}

void StatusPoller::statusWork(const std::vector<ListEntry> &destinations, int statusOffset)
{
    const int count = static_cast<int>(destinations.size());
    // The status bar keeps the offset within the list; a stale offset from a
    // name set that has just shrunk must still not index past its end.
    if (statusOffset < 0 || statusOffset >= count)
        statusOffset = 0;

    if (m_tickCounter < 2) {
        ++m_tickCounter;
    } else {
        PollLocks();
        m_tickCounter = 0;
    }

    for (int i = 0; i < kRows; ++i) {
        if (m_pollCursor < 0 || m_pollCursor >= kRows)
            m_pollCursor = 0;
        const int entry = statusOffset + m_pollCursor;
        if (m_pollCursor >= count || entry >= count) {
            m_pollCursor = 0;
            break;
        }
        PollDestination(destinations[static_cast<size_t>(entry)].index);
        ++m_pollCursor;
        if (m_link.isComOffline())
            break;
    }

    if (!m_link.isComOffline()) {
        if (m_bgCursor >= statusOffset && m_bgCursor <= statusOffset + kRows - 1)
            m_bgCursor = statusOffset + kRows;
        if (m_bgCursor < 0 || m_bgCursor >= count)
            m_bgCursor = 0;
        PollDestination(destinations[static_cast<size_t>(m_bgCursor)].index);
        ++m_bgCursor;
    }
}

void StatusPoller::PollDestination(int destination)
{
    if (m_model.simulator() || !m_model.isValidDestination(destination))
        return;
    const int levels = m_model.levelCount();
    std::vector<bool> covered(static_cast<size_t>(levels), false);
    std::vector<int16_t> src;
    std::vector<bool> flags;
    for (int l = 0; l < levels; ++l) {
        if (covered[static_cast<size_t>(l)] || !m_model.DestinationOnLevel(destination, l))
            continue;
        const int16_t address = m_model.level(l).controllerAddress;
        const int16_t output = m_model.DestinationNumber(destination, l);
        covered[static_cast<size_t>(l)] = true;
        // One question answers every level of this controller that carries the
        // destination on the same output.
        for (int j = l + 1; j < levels; ++j)
            if (m_model.level(j).controllerAddress == address && m_model.DestinationNumber(destination, j) == output)
                covered[static_cast<size_t>(j)] = true;
        if (m_model.FindControllerByAddress(address) < 0)
            continue;
        const int entries = m_link.CPUYCmd(address, output, src, flags);
        foldAnswer(address, output, src, flags, entries);
    }
}

void StatusPoller::foldAnswer(
    int16_t address, int16_t output, const std::vector<int16_t> &src, const std::vector<bool> &flags, int entries)
{
    // The reply's arrays are trusted no further than their own length.
    const int usable = std::min<int>(entries, static_cast<int>(std::min(src.size(), flags.size())));
    for (int e = 0; e < usable; ++e) {
        const int level = m_model.FindLevelByController(address, static_cast<int16_t>(e));
        if (level < 0)
            continue;
        const int dest = m_model.DestinationWithNumber(level, output);
        if (dest < 0)
            continue;
        DestinationStatus cell = m_model.Status(level, dest);
        bool changed = false;
        const int16_t flag = flags[static_cast<size_t>(e)] ? 1 : 0;
        if (cell.flag != flag) {
            cell.flag = flag;
            changed = true;
        }
        const int16_t reported = src[static_cast<size_t>(e)];
        if (cell.source == -1) {
            const int s = m_model.SourceWithNumber(level, reported);
            if (s >= 0) {
                cell.source = static_cast<int16_t>(s);
                changed = true;
            }
        } else if (m_model.SourceNumber(cell.source, level) != reported) {
            cell.source = static_cast<int16_t>(m_model.SourceWithNumber(level, reported));
            changed = true;
        }
        if (changed) {
            m_model.SetStatus(level, dest, cell);
            m_repaint = true;
        }
    }
}

void StatusPoller::PollLocks()
{
    if (m_model.simulator() || m_localLock)
        return;
    const int controllers = m_model.controllerCount();
    std::vector<std::vector<bool>> tables(static_cast<size_t>(controllers));
    for (int c = 0; c < controllers; ++c)
        tables[static_cast<size_t>(c)] = m_link.CPUWCmd(m_model.controller(c).address);

    for (int d = 0; d < m_model.destinationCount(); ++d) {
        bool locked = false;
        for (int l = 0; l < m_model.levelCount() && !locked; ++l) {
            const int16_t output = m_model.DestinationNumber(d, l);
            if (output < 0)
                continue;
            const int c = m_model.FindControllerByAddress(m_model.level(l).controllerAddress);
            if (c < 0)
                continue;
            const std::vector<bool> &t = tables[static_cast<size_t>(c)];
            // Outputs past the end of a short (or missing) reply read as unlocked.
            if (static_cast<size_t>(output) < t.size() && t[static_cast<size_t>(output)])
                locked = true;
        }
        if (m_model.Locked(d) != locked) {
            m_model.SetLocked(d, locked);
            m_repaint = true;
        }
    }
}

} // namespace exel
