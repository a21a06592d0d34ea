// The bookkeeping that says whether the router kept every take it
// acknowledged, when answers can be lost, corrupted or late.
//
// The rule, per crosspoint (controller address, level, output):
//  - A take whose "G" reached the panel was applied by the router. A take
//    whose answer was lost, garbled or came too late may have been applied
//    as well: the router acts on the request, only the answer is faulted.
//  - So only the last acknowledged take on a crosspoint fixes what the router
//    must show, unless a later take to the same crosspoint went out: that one
//    may have been applied (acknowledged or not) and may have replaced it.
//  - The router's crosspoint must therefore equal the input of the last
//    acknowledged take, or the input of any take sent after it. An
//    acknowledged take that a later acknowledged take replaced is superseded,
//    not lost. A crosspoint no take was ever acknowledged on is not checked.
// Only the last acknowledged input and the inputs sent after it are kept,
// so the ledger stays small however long the run.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace exel::soak {

// Wire numbers, 1-based, as the emulator's dump shows them.
struct Crosspoint {
    int address = 0;
    int level = 0;
    int output = 0;
    auto operator<=>(const Crosspoint &) const = default;
};

class TakeLedger {
public:
    // One take command as the link sent it (with its retry): the input per
    // controller level it set (levels left unchanged are not listed), and
    // whether its answer was "G".
    void record(int address, int output, const std::vector<std::pair<int, int>> &levelInputs, bool acknowledged);

    struct Result {
        int checked = 0; // crosspoints with an acknowledged take
        int confirmed = 0; // holding the last acknowledged input
        int replacedLater = 0; // holding the input of a take sent after it
        QStringList failures; // crosspoints holding anything else
        bool ok() const { return failures.isEmpty(); }
    };
    // routed(address, level, output) is the router's input there (0: none).
    Result check(const std::function<int(const Crosspoint &)> &routed) const;

    int acknowledgedTakes() const { return m_acknowledged; }
    int superseded() const { return m_superseded; }
    int takes() const { return m_takes; }

private:
    struct Cell {
        int acknowledged = -1; // input of the last acknowledged take (-1: none yet)
        std::set<int> later; // inputs of takes sent after it
    };
    std::map<Crosspoint, Cell> m_cells;
    int m_takes = 0;
    int m_acknowledged = 0;
    int m_superseded = 0;
};

} // namespace exel::soak
