// Take bookkeeping of the soak.
#include "takeledger.h"

namespace exel::soak {

void TakeLedger::record(int address, int output, const std::vector<std::pair<int, int>> &levelInputs, bool acknowledged)
{
    ++m_takes;
    if (acknowledged)
        ++m_acknowledged;
    for (const auto &[level, input] : levelInputs) {
        Cell &cell = m_cells[Crosspoint { address, level, output }];
        if (acknowledged) {
            if (cell.acknowledged >= 0)
                ++m_superseded;
            cell.acknowledged = input;
            cell.later.clear();
        } else if (cell.acknowledged >= 0) {
            cell.later.insert(input);
        }
    }
}

TakeLedger::Result TakeLedger::check(const std::function<int(const Crosspoint &)> &routed) const
{
    Result r;
    for (const auto &[xp, cell] : m_cells) {
        if (cell.acknowledged < 0)
            continue;
        ++r.checked;
        const int now = routed(xp);
        if (now == cell.acknowledged) {
            ++r.confirmed;
        } else if (cell.later.count(now)) {
            ++r.replacedLater;
        } else {
            QStringList later;
            for (int i : cell.later)
                later << QString::number(i);
            r.failures << QStringLiteral("address %1 level %2 output %3: router has input %4, acknowledged %5%6")
                              .arg(xp.address)
                              .arg(xp.level)
                              .arg(xp.output)
                              .arg(now)
                              .arg(cell.acknowledged)
                              .arg(later.isEmpty() ? QString() : QStringLiteral(", sent after it ") + later.join(u','));
        }
    }
    return r;
}

} // namespace exel::soak
