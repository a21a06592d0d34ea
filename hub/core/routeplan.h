// Routes and locks by the configuration's names, as the hub's servers receive
// them, turned into the commands of the controller lines: a destination and a
// source per level become one take per controller and output (levels of one
// controller that share the output number go in one command, as the panel
// sends them), a destination's lock one lock per controller and output.
#pragma once

#include "hubline.h"
#include "statandconfig.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace exel::hub {

class HubCore;

struct RoutePlan {
    std::vector<TakeRequest> takes;
    // The first part of the route that no command can carry (a source not on
    // a level, a number past the wire's three digits); the rest still goes.
    QString problem;
};

// sourcePerLevel: per model level (index = model level), the model source to
// route there, -1 to leave the level as it is; shorter than the level count
// means the missing levels are left.
RoutePlan planRoute(const StatandConfig &model, int destination, const std::vector<int16_t> &sourcePerLevel);

// The controller outputs a destination uses, once each (address, 1-based output).
std::vector<std::pair<int16_t, int>> destinationOutputs(const StatandConfig &model, int destination);

struct Submitted {
    std::vector<int64_t> ids; // journal ids of the entries queued
    QString problem; // why something was left out, or why nothing could be queued
};

// Plans a route and queues its takes on the lines that carry the controllers.
Submitted submitRoute(HubCore &hub, int destination, const std::vector<int16_t> &sourcePerLevel,
    const Origin &origin, const HubLine::Done &done = {});
// Sets a destination's lock on every controller output it uses.
Submitted submitDestinationLock(HubCore &hub, int destination, bool locked, const Origin &origin,
    const HubLine::Done &done = {}, bool forced = false);

} // namespace exel::hub
