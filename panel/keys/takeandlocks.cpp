// Takes and lock changes, on the controller and in the system model.
#include "takeandlocks.h"

#include <algorithm>

namespace exel {

namespace {

int16_t requestSource(const TakeRequest &request, int level)
{
    return level >= 0 && static_cast<size_t>(level) < request.sources.size()
        ? request.sources[static_cast<size_t>(level)]
        : int16_t(-1);
}

// A 0-based output or input number a command can carry.
bool onWire(int16_t number)
{
    return number >= 0 && number + 1 <= kHublinkMaxWireNumberOnLink;
}

void noteProblem(QString *problem, const QString &text)
{
    if (problem && problem->isEmpty())
        *problem = text;
}

} // namespace

QString unaddressableText(const char *what, int number)
{
    if (number <= kHublinkMaxWireNumberOnLink)
        return QString();
    return QString::fromLatin1(what) + QLatin1Char(' ') + QString::number(number)
        + QStringLiteral(" cannot be addressed on this link.");
}

bool TakeToDestination(StatandConfig &model, Hublink &link, const TakeRequest &request, QString *problem)
{
    const int dest = request.destination;
    if (!model.isValidDestination(dest) || model.Locked(dest))
        return false;
    for (int l = 0; l < model.levelCount(); ++l) {
        const int16_t src = requestSource(request, l);
        if (!model.SourceOnLevel(src, l) || !model.DestinationOnLevel(dest, l))
            continue;
        // What cannot be sent is not shown as taken: the row keeps what the
        // controller last reported. The simulator sends nothing and shows all.
        if (!model.simulator()) {
            const int16_t output = model.DestinationNumber(dest, l);
            const int16_t input = model.SourceNumber(src, l);
            if (!onWire(output)) {
                noteProblem(problem, unaddressableText("Output", output + 1));
                continue;
            }
            if (!onWire(input)) {
                noteProblem(problem, unaddressableText("Input", input + 1));
                continue;
            }
        }
        model.SetStatus(l, dest, DestinationStatus { 0, src });
    }
    if (!model.simulator())
        SendTakeCommands(model, link, request);
    return true;
}

void SendTakeCommands(const StatandConfig &model, Hublink &link, const TakeRequest &request)
{
    const int dest = request.destination;
    const int levels = model.levelCount();
    std::vector<bool> covered(static_cast<size_t>(levels), false);
    for (int i = 0; i < levels; ++i) {
        const int16_t src = requestSource(request, i);
        if (covered[static_cast<size_t>(i)] || !model.SourceOnLevel(src, i) || !model.DestinationOnLevel(dest, i))
            continue;
        covered[static_cast<size_t>(i)] = true;
        const LevelRecord &lev = model.level(i);
        const int c = model.FindControllerByAddress(lev.controllerAddress);
        if (c < 0)
            continue;
        const ControllerRecord &ctl = model.controller(c);
        const int16_t output = model.DestinationNumber(dest, i);
        if (!onWire(output))
            continue;
        std::vector<int16_t> inputs(static_cast<size_t>(std::max<int16_t>(ctl.numLevels, 0)), -1);
        // A level numbered beyond its controller's width cannot be addressed
        // in the command: it is left out rather than written past the list.
        const auto place = [&](int level) -> bool {
            const int16_t n = model.level(level).levelNumber;
            const int16_t input = model.SourceNumber(requestSource(request, level), level);
            if (n < 0 || n >= ctl.numLevels || !onWire(input))
                return false;
            inputs[static_cast<size_t>(n)] = input;
            return true;
        };
        bool any = place(i);
        for (int j = i + 1; j < levels; ++j) {
            const int16_t srcJ = requestSource(request, j);
            if (covered[static_cast<size_t>(j)] || model.level(j).controllerAddress != lev.controllerAddress
                || !model.SourceOnLevel(srcJ, j) || model.DestinationNumber(dest, j) != output)
                continue;
            covered[static_cast<size_t>(j)] = true;
            any = place(j) || any;
        }
        if (any)
            link.CPUHCmd(ctl.address, ctl.numLevels, output, inputs);
    }
}

void SetDestinationLock(
    StatandConfig &model, Hublink &link, int destination, bool state, bool localLock, QString *problem)
{
    if (!model.isValidDestination(destination))
        return;
    bool unsent = false;
    if (!model.simulator() && !localLock) {
        const int levels = model.levelCount();
        std::vector<bool> done(static_cast<size_t>(levels), false);
        for (int l = 0; l < levels; ++l) {
            if (done[static_cast<size_t>(l)] || !model.DestinationOnLevel(destination, l))
                continue;
            const int16_t address = model.level(l).controllerAddress;
            if (model.FindControllerByAddress(address) < 0)
                continue;
            // One read of this controller's table serves all its levels; each
            // output is toggled once, and only when its state differs.
            const std::vector<bool> table = link.CPUWCmd(address);
            std::vector<int16_t> outputs;
            for (int j = l; j < levels; ++j) {
                if (model.level(j).controllerAddress != address || !model.DestinationOnLevel(destination, j))
                    continue;
                done[static_cast<size_t>(j)] = true;
                const int16_t out = model.DestinationNumber(destination, j);
                if (std::find(outputs.begin(), outputs.end(), out) == outputs.end())
                    outputs.push_back(out);
            }
            for (int16_t out : outputs) {
                if (!onWire(out)) {
                    unsent = true;
                    noteProblem(problem, unaddressableText("Output", out + 1));
                    continue;
                }
                // The element past the last output is a spare; outputs the
                // reply does not cover read as unlocked.
                const bool current = static_cast<size_t>(out) + 1 < table.size() && table[static_cast<size_t>(out)];
                if (current != state)
                    link.CPULCmd(address, out);
            }
        }
    }
    if (!unsent)
        model.SetLocked(destination, state);
}

// ---------------------------------------------------------------- key actions

TakeAndLocks::TakeAndLocks(StatandConfig &model, Hublink &link, KeyBanks &banks, PollingGate *gate)
    : m_model(model)
    , m_link(link)
    , m_banks(banks)
    , m_gate(gate)
{
}

TakeRequest TakeAndLocks::takeRequestFor(int source) const
{
    TakeRequest r;
    r.sources.assign(static_cast<size_t>(m_model.levelCount()), -1);
    for (const ListEntry &l : m_banks.levelList())
        if (l.flag && m_model.isValidLevel(l.index))
            r.sources[static_cast<size_t>(l.index)] = static_cast<int16_t>(source);
    return r;
}

KeyAction TakeAndLocks::btnSource_Click(int Index)
{
    m_problem.clear();
    if (m_link.isCPUBusy())
        return KeyAction::Deferred;
    const int source = m_banks.sourceOnKey(Index);
    if (source < 0)
        return KeyAction::Ignored;
    if (m_gate)
        m_gate->TurnOffTimer();
    TakeRequest request = takeRequestFor(source);
    for (int16_t dest : m_banks.selectedDestinations()) {
        request.destination = dest;
        TakeToDestination(m_model, m_link, request, &m_problem);
    }
    m_banks.UpdateAllStatus();
    if (m_gate)
        m_gate->TurnOnTimer();
    return KeyAction::Done;
}

KeyAction TakeAndLocks::setSelectedLocks(bool state)
{
    m_problem.clear();
    if (m_link.isCPUBusy())
        return KeyAction::Deferred;
    if (m_gate)
        m_gate->TurnOffTimer();
    for (int16_t dest : m_banks.selectedDestinations())
        SetDestinationLock(m_model, m_link, dest, state, m_localLock, &m_problem);
    m_banks.UpdateAllStatus();
    if (m_gate)
        m_gate->TurnOnTimer();
    return KeyAction::Done;
}

KeyAction TakeAndLocks::btnLock_Click()
{
    return setSelectedLocks(true);
}

KeyAction TakeAndLocks::btnUnlock_Click()
{
    return setSelectedLocks(false);
}

} // namespace exel
