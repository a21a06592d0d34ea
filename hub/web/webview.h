// What the web panel shows, written as JSON from the hub's state: the
// router's names, each destination's status by the configuration's levels
// and sources, lock owners, line states and journal entries. Pure functions
// of RouterState and Journal entries.
#pragma once

#include "journal.h"
#include "routerstate.h"

#include <QJsonArray>
#include <QJsonObject>

#include <map>
#include <vector>

namespace exel::hub {

// Names of the configuration: levels, sources, destinations and name sets
// (each with its source and destination indices).
QJsonObject configJson(const StatandConfig &model);

// One destination: per model level the source routed there (model index,
// -1 none or an input no source has, null not read or not on the level), the
// wire input, the flag and whether an acknowledged take awaits its poll;
// whether it is locked and by whom.
QJsonObject destinationJson(const RouterState &state, int destination);
QJsonArray allDestinationsJson(const RouterState &state);
QJsonArray linesJson(const RouterState &state, const std::vector<QString> &lines);

// Who, for the page: the operator's name, else the server and address.
QString originText(const Origin &origin);
QJsonObject journalEntryJson(const RouterState &state, const JournalEntry &entry);

// Which destinations use each controller output, to know what to push when
// the state of an output changes.
class DestinationIndex {
public:
    explicit DestinationIndex(const StatandConfig &model);
    const std::vector<int> &destinations(int16_t address, int output) const;

private:
    std::map<std::pair<int16_t, int>, std::vector<int>> m_map;
    std::vector<int> m_none;
};

// The origin address text of an undo names the entry it undoes.
QString undoAddress(const QString &peer, int64_t undoneId);
int64_t undoneIdOf(const Origin &origin);

} // namespace exel::hub
