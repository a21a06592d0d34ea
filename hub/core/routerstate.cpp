// The router state the hub has read, and its change signals.
#include "routerstate.h"

#include <algorithm>

namespace exel::hub {

RouterState::RouterState(const StatandConfig &model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
    for (int c = 0; c < model.controllerCount(); ++c) {
        const ControllerRecord &rec = model.controller(c);
        if (infoIndex(rec.address) >= 0)
            continue; // the reader refuses this, but a second record must never split the state
        ControllerInfo info;
        info.name = rec.name;
        info.address = rec.address;
        info.levels = rec.numLevels;
        for (int l = 0; l < model.levelCount(); ++l) {
            const LevelRecord &lv = model.level(l);
            if (lv.controllerAddress == rec.address)
                info.outputs = std::max<int>(info.outputs, lv.numOutputs);
        }
        // Outputs past what three digits carry can never be asked about.
        info.outputs = std::min(info.outputs, 999);
        m_info.push_back(info);
        Controller state;
        state.outputs.resize(static_cast<size_t>(info.outputs));
        state.locks.assign(static_cast<size_t>(info.outputs), false);
        m_state.push_back(std::move(state));
    }
}

int RouterState::infoIndex(int16_t address) const
{
    for (size_t i = 0; i < m_info.size(); ++i) {
        if (m_info[i].address == address)
            return static_cast<int>(i);
    }
    return -1;
}

const ControllerInfo *RouterState::controller(int16_t address) const
{
    const int i = infoIndex(address);
    return i < 0 ? nullptr : &m_info[static_cast<size_t>(i)];
}

const ControllerInfo *RouterState::defaultController() const
{
    if (const ControllerInfo *c = controller(0))
        return c;
    return m_info.size() == 1 ? &m_info.front() : nullptr;
}

RouterState::Controller *RouterState::find(int16_t address)
{
    const int i = infoIndex(address);
    return i < 0 ? nullptr : &m_state[static_cast<size_t>(i)];
}

const RouterState::Controller *RouterState::find(int16_t address) const
{
    return const_cast<RouterState *>(this)->find(address);
}

const OutputStatus *RouterState::status(int16_t address, int output) const
{
    const Controller *c = find(address);
    if (!c || output < 1 || output > static_cast<int>(c->outputs.size()))
        return nullptr;
    return &c->outputs[static_cast<size_t>(output - 1)];
}

const std::vector<bool> *RouterState::locks(int16_t address) const
{
    const Controller *c = find(address);
    return c ? &c->locks : nullptr;
}

int64_t RouterState::locksReadAt(int16_t address) const
{
    const Controller *c = find(address);
    return c ? c->locksReadAt : -1;
}

void RouterState::statusRead(
    int16_t address, int output, const std::vector<int16_t> &input, const std::vector<bool> &flag, int64_t now)
{
    Controller *c = find(address);
    if (!c || output < 1 || output > static_cast<int>(c->outputs.size()))
        return;
    OutputStatus &s = c->outputs[static_cast<size_t>(output - 1)];
    const bool wasKnown = s.known();
    const OutputStatus before = s;
    s.input = input;
    s.flag = flag;
    s.flag.resize(s.input.size(), false);
    s.unconfirmed.assign(s.input.size(), false);
    s.readAt = now;
    for (size_t i = 0; i < s.input.size(); ++i) {
        const bool had = wasKnown && i < before.input.size();
        const int prev = had ? before.input[i] : -1;
        const bool prevFlag = had && before.flag[i];
        if (!had || prev != s.input[i] || prevFlag != s.flag[i])
            emit crosspointChanged(address, output, static_cast<int>(i) + 1, s.input[i], s.flag[i], prev);
    }
    emit statusRefreshed(address, output);
}

void RouterState::takeAcknowledged(int16_t address, int output, const std::vector<int16_t> &input)
{
    Controller *c = find(address);
    if (!c || output < 1 || output > static_cast<int>(c->outputs.size()))
        return;
    OutputStatus &s = c->outputs[static_cast<size_t>(output - 1)];
    if (!s.known())
        return; // nothing to follow yet: the confirming poll fills it in
    for (size_t i = 0; i < input.size() && i < s.input.size(); ++i) {
        if (input[i] <= 0 || s.input[i] == input[i])
            continue;
        const int prev = s.input[i];
        s.input[i] = input[i];
        s.unconfirmed[i] = true;
        emit crosspointChanged(address, output, static_cast<int>(i) + 1, s.input[i], s.flag[i], prev);
    }
}

void RouterState::locksRead(int16_t address, const std::vector<bool> &locks, int64_t now)
{
    Controller *c = find(address);
    if (!c)
        return;
    const bool wasKnown = c->locksReadAt >= 0;
    for (size_t k = 0; k < c->locks.size(); ++k) {
        const bool now_locked = k < locks.size() && locks[k];
        if (!wasKnown || c->locks[k] != now_locked) {
            const bool changed = c->locks[k] != now_locked;
            c->locks[k] = now_locked;
            if (!now_locked)
                m_owners.erase({ address, static_cast<int>(k) + 1 });
            if (changed || now_locked)
                emit lockChanged(address, static_cast<int>(k) + 1, now_locked);
        }
    }
    c->locksReadAt = now;
    emit locksRefreshed(address);
}

void RouterState::lockToggled(int16_t address, int output, const Origin *by)
{
    Controller *c = find(address);
    if (!c || c->locksReadAt < 0 || output < 1 || output > static_cast<int>(c->locks.size()))
        return;
    const size_t k = static_cast<size_t>(output - 1);
    c->locks[k] = !c->locks[k];
    if (c->locks[k] && by)
        m_owners[{ address, output }] = *by;
    else
        m_owners.erase({ address, output });
    emit lockChanged(address, output, c->locks[k]);
}

const Origin *RouterState::lockOwner(int16_t address, int output) const
{
    const auto it = m_owners.find({ address, output });
    return it == m_owners.end() ? nullptr : &it->second;
}

void RouterState::setLineOnline(const QString &line, bool online)
{
    const auto it = m_lines.find(line);
    if (it != m_lines.end() && it->second == online)
        return;
    m_lines[line] = online;
    emit lineStateChanged(line, online);
}

bool RouterState::lineOnline(const QString &line) const
{
    const auto it = m_lines.find(line);
    return it != m_lines.end() && it->second;
}

void RouterState::setLineDialling(const QString &line, bool dialling)
{
    if (lineDialling(line) == dialling)
        return;
    m_dialling[line] = dialling;
    emit lineDiallingChanged(line, dialling);
}

bool RouterState::lineDialling(const QString &line) const
{
    const auto it = m_dialling.find(line);
    return it != m_dialling.end() && it->second;
}

QString RouterState::lineStateName(const QString &line) const
{
    if (lineOnline(line))
        return QStringLiteral("online");
    return lineDialling(line) ? QStringLiteral("dialling") : QStringLiteral("offline");
}

int RouterState::levelIndex(int16_t address, int ctlLevel) const
{
    return m_model.FindLevelByController(address, static_cast<int16_t>(ctlLevel - 1));
}

QString RouterState::destinationName(int16_t address, int output) const
{
    const ControllerInfo *info = controller(address);
    if (!info)
        return QString();
    for (int l = 1; l <= info->levels; ++l) {
        const int level = levelIndex(address, l);
        if (level < 0)
            continue;
        const int d = m_model.DestinationWithNumber(level, static_cast<int16_t>(output - 1));
        if (d >= 0)
            return m_model.DestinationName(d);
    }
    return QString();
}

QString RouterState::sourceName(int16_t address, int ctlLevel, int input) const
{
    const int level = levelIndex(address, ctlLevel);
    if (level < 0 || input <= 0)
        return QString();
    const int s = m_model.SourceWithNumber(level, static_cast<int16_t>(input - 1));
    return s < 0 ? QString() : m_model.SourceName(s);
}

QString RouterState::levelName(int16_t address, int ctlLevel) const
{
    const int level = levelIndex(address, ctlLevel);
    return level < 0 ? QString() : m_model.LevelName(level);
}

} // namespace exel::hub
