// Routes and locks by name, planned into line commands.
#include "routeplan.h"

#include "hubcore.h"

#include <algorithm>

namespace exel::hub {

namespace {

// Outputs and inputs travel as three digits, 0-based on the wire.
bool onWire(int16_t number)
{
    return number >= 0 && number <= 998;
}

int16_t sourceFor(const std::vector<int16_t> &sourcePerLevel, int level)
{
    return level < static_cast<int>(sourcePerLevel.size()) ? sourcePerLevel[static_cast<size_t>(level)] : -1;
}

void note(QString &problem, const QString &text)
{
    if (problem.isEmpty())
        problem = text;
}

} // namespace

RoutePlan planRoute(const StatandConfig &model, int destination, const std::vector<int16_t> &sourcePerLevel)
{
    RoutePlan plan;
    if (!model.isValidDestination(destination)) {
        plan.problem = QStringLiteral("unknown destination");
        return plan;
    }
    const int levels = model.levelCount();
    for (int l = 0; l < levels; ++l) {
        const int16_t src = sourceFor(sourcePerLevel, l);
        if (src < 0)
            continue;
        const QString where = QStringLiteral(" on level ") + model.LevelName(l);
        if (!model.DestinationOnLevel(destination, l)) {
            note(plan.problem, model.DestinationName(destination) + QStringLiteral(" is not") + where);
            continue;
        }
        if (!model.SourceOnLevel(src, l)) {
            note(plan.problem, model.SourceName(src) + QStringLiteral(" is not") + where);
            continue;
        }
        const LevelRecord &lev = model.level(l);
        const int c = model.FindControllerByAddress(lev.controllerAddress);
        const int16_t output = model.DestinationNumber(destination, l);
        const int16_t input = model.SourceNumber(src, l);
        if (c < 0) {
            note(plan.problem, QStringLiteral("no controller for level ") + model.LevelName(l));
            continue;
        }
        const ControllerRecord &ctl = model.controller(c);
        if (!onWire(output) || !onWire(input) || lev.levelNumber < 0 || lev.levelNumber >= ctl.numLevels) {
            note(plan.problem, QStringLiteral("cannot be addressed") + where);
            continue;
        }
        // One command per controller and output: later levels join it.
        auto it = std::find_if(plan.takes.begin(), plan.takes.end(),
            [&](const TakeRequest &t) { return t.address == ctl.address && t.output == output + 1; });
        if (it == plan.takes.end()) {
            TakeRequest take;
            take.address = ctl.address;
            take.output = output + 1;
            take.inputs.assign(static_cast<size_t>(ctl.numLevels), 0);
            plan.takes.push_back(take);
            it = plan.takes.end() - 1;
        }
        it->inputs[static_cast<size_t>(lev.levelNumber)] = static_cast<int16_t>(input + 1);
    }
    return plan;
}

std::vector<std::pair<int16_t, int>> destinationOutputs(const StatandConfig &model, int destination)
{
    std::vector<std::pair<int16_t, int>> outputs;
    if (!model.isValidDestination(destination))
        return outputs;
    for (int l = 0; l < model.levelCount(); ++l) {
        if (!model.DestinationOnLevel(destination, l))
            continue;
        const int16_t number = model.DestinationNumber(destination, l);
        const int16_t address = model.level(l).controllerAddress;
        if (!onWire(number) || model.FindControllerByAddress(address) < 0)
            continue;
        const std::pair<int16_t, int> key { address, number + 1 };
        if (std::find(outputs.begin(), outputs.end(), key) == outputs.end())
            outputs.push_back(key);
    }
    return outputs;
}

Submitted submitRoute(HubCore &hub, int destination, const std::vector<int16_t> &sourcePerLevel,
    const Origin &origin, const HubLine::Done &done)
{
    Submitted out;
    const RoutePlan plan = planRoute(hub.state().model(), destination, sourcePerLevel);
    out.problem = plan.problem;
    if (plan.takes.empty() && out.problem.isEmpty())
        out.problem = QStringLiteral("nothing to route");
    for (const TakeRequest &take : plan.takes) {
        HubLine *line = hub.lineFor(take.address);
        if (!line) {
            note(out.problem, QStringLiteral("no line carries controller %1").arg(take.address));
            continue;
        }
        if (const int64_t id = line->submitTake(take, origin, done))
            out.ids.push_back(id);
    }
    return out;
}

Submitted submitDestinationLock(
    HubCore &hub, int destination, bool locked, const Origin &origin, const HubLine::Done &done, bool forced)
{
    Submitted out;
    const auto outputs = destinationOutputs(hub.state().model(), destination);
    if (outputs.empty())
        out.problem = QStringLiteral("unknown destination");
    for (const auto &[address, output] : outputs) {
        HubLine *line = hub.lineFor(address);
        if (!line) {
            note(out.problem, QStringLiteral("no line carries controller %1").arg(address));
            continue;
        }
        if (const int64_t id = line->submitLock(address, output, locked, origin, done, forced))
            out.ids.push_back(id);
    }
    return out;
}

} // namespace exel::hub
