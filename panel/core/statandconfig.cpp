// The panel's system model: tables, lookups and builders.
#include "statandconfig.h"

#include <algorithm>

namespace exel {

// ---------------------------------------------------------------- NameTable

void StatandConfig::NameTable::clear()
{
    names.clear();
    index.clear();
    firstFree = 0;
}

void StatandConfig::NameTable::resize(int n)
{
    clear();
    names.assign(static_cast<size_t>(n), QString());
}

int StatandConfig::NameTable::find(const QString &name) const
{
    if (name.isEmpty())
        return firstFree < names.size() ? static_cast<int>(firstFree) : -1;
    const auto it = index.constFind(name);
    return it == index.cend() ? -1 : it.value();
}

void StatandConfig::NameTable::advanceFree()
{
    while (firstFree < names.size() && !names[firstFree].isEmpty())
        ++firstFree;
}

int StatandConfig::NameTable::take(const QString &name)
{
    advanceFree();
    if (firstFree >= names.size() || name.isEmpty())
        return -1;
    const int slot = static_cast<int>(firstFree);
    names[firstFree] = name;
    // Slots fill in order, so an existing entry of the same name is always the first one.
    if (!index.contains(name))
        index.insert(name, slot);
    advanceFree();
    return slot;
}

void StatandConfig::NameTable::append(const QString &name)
{
    names.push_back(name);
    if (!name.isEmpty() && !index.contains(name))
        index.insert(name, static_cast<int>(names.size()) - 1);
    advanceFree();
}

// ---------------------------------------------------------------- builders

StatandConfig::StatandConfig()
{
    ClearSystemTables();
}

void StatandConfig::ClearSystemTables()
{
    m_controllers.clear();
    m_controllerIndex.clear();
    m_levels.clear();
    m_levelNames.clear();
    m_sources.clear();
    m_dests.clear();
    m_nameSets.clear();
    m_sourceNumbers.clear();
    m_destNumbers.clear();
    m_setSources.clear();
    m_setDests.clear();
    m_status.clear();
    m_locks.clear();
}

void StatandConfig::SizeStatusTables()
{
    m_status.assign(static_cast<size_t>(levelCount()),
                    std::vector<DestinationStatus>(static_cast<size_t>(destinationCount())));
    m_locks.assign(static_cast<size_t>(destinationCount()), false);
}

bool StatandConfig::SizeForLoad(const SystemCounts &c)
{
    ClearSystemTables();
    if (c.levels < 0 || c.sources < 0 || c.destinations < 0 || c.nameSets < 0 || c.levels > kMaxCount
        || c.sources > kMaxCount || c.destinations > kMaxCount || c.nameSets > kMaxCount)
        return false;
    if (static_cast<long long>(c.levels) * c.sources > kMaxCells
        || static_cast<long long>(c.levels) * c.destinations > kMaxCells)
        return false;
    m_levels.assign(static_cast<size_t>(c.levels), LevelRecord{});
    m_levelNames.resize(c.levels);
    m_sources.resize(c.sources);
    m_dests.resize(c.destinations);
    m_nameSets.resize(c.nameSets);
    m_sourceNumbers.assign(static_cast<size_t>(c.levels), std::vector<int16_t>(static_cast<size_t>(c.sources), -1));
    m_destNumbers.assign(static_cast<size_t>(c.levels),
                         std::vector<int16_t>(static_cast<size_t>(c.destinations), -1));
    m_setSources.assign(static_cast<size_t>(c.nameSets), {});
    m_setDests.assign(static_cast<size_t>(c.nameSets), {});
    SizeStatusTables();
    return true;
}

void StatandConfig::BuildDefaultSystem()
{
    constexpr int kLevels = 4;
    constexpr int kItems = 16;
    SizeForLoad(SystemCounts{kLevels, kItems, kItems, 1});
    AddController(ControllerRecord{QStringLiteral("DefSystem"), 0, kLevels});
    for (int l = 0; l < kLevels; ++l)
        FillLevelSlot(LevelRecord{QStringLiteral("Level%1").arg(l + 1), 0, static_cast<int16_t>(l), kItems, kItems});
    const int set = TakeNameSetSlot(QStringLiteral("System 1"));
    for (int i = 0; i < kItems; ++i) {
        const int s = TakeSourceSlot(QStringLiteral("Input%1").arg(i + 1));
        const int d = TakeDestinationSlot(QStringLiteral("Outpt%1").arg(i + 1));
        for (int l = 0; l < kLevels; ++l) {
            SetSourceNumber(s, l, static_cast<int16_t>(i));
            SetDestinationNumber(d, l, static_cast<int16_t>(i));
        }
        AddNameSetSource(set, s);
        AddNameSetDestination(set, d);
    }
    SizeStatusTables();
    m_configName = QStringLiteral("<default>");
}

// ---------------------------------------------------------------- adders

void StatandConfig::AddController(const ControllerRecord &record)
{
    if (controllerCount() >= kMaxCount)
        return;
    m_controllers.push_back(record);
    if (!record.name.isEmpty() && !m_controllerIndex.contains(record.name))
        m_controllerIndex.insert(record.name, controllerCount() - 1);
}

int StatandConfig::FillLevelSlot(const LevelRecord &record)
{
    const int slot = m_levelNames.take(record.name);
    if (slot < 0)
        return -1;
    m_levels[static_cast<size_t>(slot)] = record;
    return slot;
}

int StatandConfig::TakeSourceSlot(const QString &name)
{
    return m_sources.take(name);
}

int StatandConfig::TakeDestinationSlot(const QString &name)
{
    return m_dests.take(name);
}

int StatandConfig::TakeNameSetSlot(const QString &name)
{
    return m_nameSets.take(name);
}

void StatandConfig::SetSourceNumber(int source, int level, int16_t number)
{
    if (isValidSource(source) && isValidLevel(level))
        m_sourceNumbers[static_cast<size_t>(level)][static_cast<size_t>(source)] = number;
}

void StatandConfig::SetDestinationNumber(int destination, int level, int16_t number)
{
    if (isValidDestination(destination) && isValidLevel(level))
        m_destNumbers[static_cast<size_t>(level)][static_cast<size_t>(destination)] = number;
}

bool StatandConfig::AddNameSetSource(int nameSet, int source)
{
    if (!isValidNameSet(nameSet) || !isValidSource(source))
        return false;
    auto &list = m_setSources[static_cast<size_t>(nameSet)];
    if (static_cast<int>(list.size()) >= sourceCount())
        return false;
    list.push_back(static_cast<int16_t>(source));
    return true;
}

bool StatandConfig::AddNameSetDestination(int nameSet, int destination)
{
    if (!isValidNameSet(nameSet) || !isValidDestination(destination))
        return false;
    auto &list = m_setDests[static_cast<size_t>(nameSet)];
    if (static_cast<int>(list.size()) >= destinationCount())
        return false;
    list.push_back(static_cast<int16_t>(destination));
    return true;
}

// ---------------------------------------------------------------- lookups

int StatandConfig::FindController(const QString &name) const
{
    if (name.isEmpty()) {
        // Controllers are appended, never left unused: only a controller
        // stored with an empty name matches.
        for (int i = 0; i < controllerCount(); ++i)
            if (m_controllers[static_cast<size_t>(i)].name.isEmpty())
                return i;
        return -1;
    }
    const auto it = m_controllerIndex.constFind(name);
    return it == m_controllerIndex.cend() ? -1 : it.value();
}

int StatandConfig::FindLevel(const QString &name) const
{
    return m_levelNames.find(name);
}

int StatandConfig::FindSource(const QString &name) const
{
    return m_sources.find(name);
}

int StatandConfig::FindDestination(const QString &name) const
{
    return m_dests.find(name);
}

int StatandConfig::FindNameSet(const QString &name) const
{
    return m_nameSets.find(name);
}

QString StatandConfig::DestinationName(int index) const
{
    return isValidDestination(index) ? m_dests.names[static_cast<size_t>(index)] : QString();
}

QString StatandConfig::SourceName(int index) const
{
    return isValidSource(index) ? m_sources.names[static_cast<size_t>(index)] : QString();
}

QString StatandConfig::LevelName(int index) const
{
    return isValidLevel(index) ? m_levelNames.names[static_cast<size_t>(index)] : QString();
}

QString StatandConfig::NameSetName(int index) const
{
    return isValidNameSet(index) ? m_nameSets.names[static_cast<size_t>(index)] : QString();
}

int16_t StatandConfig::numberAt(const std::vector<std::vector<int16_t>> &table, int item, int level)
{
    if (level < 0 || static_cast<size_t>(level) >= table.size())
        return -1;
    const auto &row = table[static_cast<size_t>(level)];
    if (item < 0 || static_cast<size_t>(item) >= row.size())
        return -1;
    return row[static_cast<size_t>(item)];
}

int16_t StatandConfig::SourceNumber(int source, int level) const
{
    return numberAt(m_sourceNumbers, source, level);
}

int16_t StatandConfig::DestinationNumber(int destination, int level) const
{
    return numberAt(m_destNumbers, destination, level);
}

bool StatandConfig::SourceOnLevel(int source, int level) const
{
    return SourceNumber(source, level) != -1;
}

bool StatandConfig::DestinationOnLevel(int destination, int level) const
{
    return DestinationNumber(destination, level) != -1;
}

std::vector<int16_t> StatandConfig::SourceNumbers(int source) const
{
    std::vector<int16_t> out;
    out.reserve(static_cast<size_t>(levelCount()));
    for (int l = 0; l < levelCount(); ++l)
        out.push_back(SourceNumber(source, l));
    return out;
}

std::vector<int16_t> StatandConfig::DestinationNumbers(int destination) const
{
    std::vector<int16_t> out;
    out.reserve(static_cast<size_t>(levelCount()));
    for (int l = 0; l < levelCount(); ++l)
        out.push_back(DestinationNumber(destination, l));
    return out;
}

int StatandConfig::SourceWithNumber(int level, int16_t number) const
{
    if (!isValidLevel(level) || number < 0)
        return -1;
    const auto &row = m_sourceNumbers[static_cast<size_t>(level)];
    const auto it = std::find(row.begin(), row.end(), number);
    return it == row.end() ? -1 : static_cast<int>(it - row.begin());
}

int StatandConfig::DestinationWithNumber(int level, int16_t number) const
{
    if (!isValidLevel(level) || number < 0)
        return -1;
    const auto &row = m_destNumbers[static_cast<size_t>(level)];
    const auto it = std::find(row.begin(), row.end(), number);
    return it == row.end() ? -1 : static_cast<int>(it - row.begin());
}

bool StatandConfig::Locked(int destination) const
{
    if (destination < 0 || static_cast<size_t>(destination) >= m_locks.size())
        return true;
    return m_locks[static_cast<size_t>(destination)];
}

void StatandConfig::SetLocked(int destination, bool locked)
{
    if (destination >= 0 && static_cast<size_t>(destination) < m_locks.size())
        m_locks[static_cast<size_t>(destination)] = locked;
}

DestinationStatus StatandConfig::Status(int level, int destination) const
{
    if (level < 0 || static_cast<size_t>(level) >= m_status.size())
        return {};
    const auto &row = m_status[static_cast<size_t>(level)];
    if (destination < 0 || static_cast<size_t>(destination) >= row.size())
        return {};
    return row[static_cast<size_t>(destination)];
}

void StatandConfig::SetStatus(int level, int destination, DestinationStatus status)
{
    if (level < 0 || static_cast<size_t>(level) >= m_status.size())
        return;
    auto &row = m_status[static_cast<size_t>(level)];
    if (destination >= 0 && static_cast<size_t>(destination) < row.size())
        row[static_cast<size_t>(destination)] = status;
}

std::vector<ListEntry> StatandConfig::NameSetSourceList(int nameSet) const
{
    std::vector<ListEntry> out;
    if (!isValidNameSet(nameSet))
        return out;
    for (int16_t s : m_setSources[static_cast<size_t>(nameSet)])
        out.push_back(ListEntry{s, false});
    return out;
}

std::vector<ListEntry> StatandConfig::NameSetDestinationList(int nameSet) const
{
    std::vector<ListEntry> out;
    if (!isValidNameSet(nameSet))
        return out;
    for (int16_t d : m_setDests[static_cast<size_t>(nameSet)])
        out.push_back(ListEntry{d, false});
    return out;
}

std::vector<ListEntry> StatandConfig::ActiveLevels(const std::vector<ListEntry> &destinations) const
{
    std::vector<bool> marked(static_cast<size_t>(levelCount()), false);
    bool any = false;
    for (const ListEntry &e : destinations) {
        if (!e.flag)
            continue;
        for (int l = 0; l < levelCount(); ++l)
            if (DestinationOnLevel(e.index, l)) {
                marked[static_cast<size_t>(l)] = true;
                any = true;
            }
    }
    if (!any) {
        for (const ListEntry &e : destinations)
            for (int l = 0; l < levelCount(); ++l)
                if (DestinationOnLevel(e.index, l))
                    marked[static_cast<size_t>(l)] = true;
    }
    std::vector<ListEntry> out;
    for (int l = 0; l < levelCount(); ++l)
        if (marked[static_cast<size_t>(l)])
            out.push_back(ListEntry{static_cast<int16_t>(l), true});
    return out;
}

int StatandConfig::FindLevelByController(int16_t controllerAddress, int16_t levelNumber) const
{
    for (int l = 0; l < levelCount(); ++l) {
        const LevelRecord &r = m_levels[static_cast<size_t>(l)];
        if (!r.name.isEmpty() && r.controllerAddress == controllerAddress && r.levelNumber == levelNumber)
            return l;
    }
    return -1;
}

int StatandConfig::FindControllerByAddress(int16_t address) const
{
    for (int c = 0; c < controllerCount(); ++c)
        if (m_controllers[static_cast<size_t>(c)].address == address)
            return c;
    return -1;
}

} // namespace exel
