// The panel's system model: the routing system being shown (controllers,
// levels, sources, destinations, name sets) and the live state learnt from the
// controller (crosspoint status and locks). Indices are 0-based; -1 is none.
#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <vector>

namespace exel {

struct ControllerRecord {
    QString name;
    int16_t address = 0;
    int16_t numLevels = 0;
};

struct LevelRecord {
    QString name;
    int16_t controllerAddress = -1;
    int16_t levelNumber = 0; // within its controller, 0-based
    int16_t numInputs = 0;
    int16_t numOutputs = 0;
};

struct DestinationStatus {
    int16_t flag = 0;    // nonzero while the cell is marked
    int16_t source = -1; // source routed there, -1 unknown
};

// One entry of a key list: a model index and its selected/active flag.
struct ListEntry {
    int16_t index = -1;
    bool flag = false;

    bool operator==(const ListEntry &o) const { return index == o.index && flag == o.flag; }
};

// Table sizes found by the counting pass of a configuration load.
struct SystemCounts {
    int levels = 0;
    int sources = 0;
    int destinations = 0;
    int nameSets = 0;
};

class StatandConfig {
public:
    // Counts are limited to what a 16-bit signed index can address.
    static constexpr int kMaxCount = 32767;
    // Upper bound of levels x sources (destinations) cells, so that a hostile
    // file cannot make the status and number tables exhaust memory.
    static constexpr long long kMaxCells = 1LL << 24;

    StatandConfig();

    // ---- builders
    void ClearSystemTables();
    // Status sized levels x destinations, locks sized destinations, all cleared.
    void SizeStatusTables();
    void BuildDefaultSystem();
    // Sizes the level, source, destination and name-set tables after a counting
    // pass: empty names, numbers -1, memberships free, status and locks cleared.
    // False (tables left cleared) when a count or the table size is past the limits.
    bool SizeForLoad(const SystemCounts &counts);

    // ---- record adders (out-of-range indices are ignored)
    void AddController(const ControllerRecord &record);
    // Fills the first unused level slot; its index, or -1 when none is free.
    int FillLevelSlot(const LevelRecord &record);
    // Names the first unused source (destination, name-set) slot; its index or -1.
    int TakeSourceSlot(const QString &name);
    int TakeDestinationSlot(const QString &name);
    int TakeNameSetSlot(const QString &name);
    void SetSourceNumber(int source, int level, int16_t number);
    void SetDestinationNumber(int destination, int level, int16_t number);
    // Appends to the first free place of the set's list; false when the set is full or an index is invalid.
    bool AddNameSetSource(int nameSet, int source);
    bool AddNameSetDestination(int nameSet, int destination);

    // ---- lookups: first entry with exactly that name, else -1. An empty name
    // gives the first unused slot.
    int FindController(const QString &name) const;
    int FindLevel(const QString &name) const;
    int FindSource(const QString &name) const;
    int FindDestination(const QString &name) const;
    int FindNameSet(const QString &name) const;

    QString DestinationName(int index) const;
    QString SourceName(int index) const;
    QString LevelName(int index) const;
    QString NameSetName(int index) const;

    bool isValidController(int i) const { return i >= 0 && i < controllerCount(); }
    bool isValidLevel(int i) const { return i >= 0 && i < levelCount(); }
    bool isValidSource(int i) const { return i >= 0 && i < sourceCount(); }
    bool isValidDestination(int i) const { return i >= 0 && i < destinationCount(); }
    bool isValidNameSet(int i) const { return i >= 0 && i < nameSetCount(); }

    bool SourceOnLevel(int source, int level) const;
    bool DestinationOnLevel(int destination, int level) const;
    // Input (output) number on a level, 0-based; -1 when absent or out of range.
    int16_t SourceNumber(int source, int level) const;
    int16_t DestinationNumber(int destination, int level) const;
    std::vector<int16_t> SourceNumbers(int source) const;
    std::vector<int16_t> DestinationNumbers(int destination) const;
    // First source (destination) with that input (output) number on a level, or -1.
    int SourceWithNumber(int level, int16_t number) const;
    int DestinationWithNumber(int level, int16_t number) const;

    // Lock table; an invalid index answers true (locked), so nothing is taken on it.
    bool Locked(int destination) const;
    void SetLocked(int destination, bool locked);

    DestinationStatus Status(int level, int destination) const;
    void SetStatus(int level, int destination, DestinationStatus status);

    // Members of a name set in membership order, as (index, false) entries.
    std::vector<ListEntry> NameSetSourceList(int nameSet) const;
    std::vector<ListEntry> NameSetDestinationList(int nameSet) const;

    // Levels of the selected destinations, or of all listed destinations when
    // none is selected (or none of them is on any level), as (level, true).
    std::vector<ListEntry> ActiveLevels(const std::vector<ListEntry> &destinations) const;

    // First level of a controller address and controller level number, or -1.
    int FindLevelByController(int16_t controllerAddress, int16_t levelNumber) const;
    int FindControllerByAddress(int16_t address) const;

    int controllerCount() const { return static_cast<int>(m_controllers.size()); }
    int levelCount() const { return static_cast<int>(m_levels.size()); }
    int sourceCount() const { return static_cast<int>(m_sources.names.size()); }
    int destinationCount() const { return static_cast<int>(m_dests.names.size()); }
    int nameSetCount() const { return static_cast<int>(m_nameSets.names.size()); }

    const ControllerRecord &controller(int i) const { return m_controllers.at(static_cast<size_t>(i)); }
    const LevelRecord &level(int i) const { return m_levels.at(static_cast<size_t>(i)); }

    QString configurationName() const { return m_configName; }
    void setConfigurationName(const QString &name) { m_configName = name; }

    // Program-wide flag: the link runs in simulator mode (nothing is sent).
    bool simulator() const { return m_simulator; }
    void setSimulator(bool on) { m_simulator = on; }

private:
    // A name table with a first-match index and a cursor to its first unused slot.
    struct NameTable {
        std::vector<QString> names;
        QHash<QString, int> index;
        size_t firstFree = 0;

        void clear();
        void resize(int n);
        int find(const QString &name) const;
        int take(const QString &name);
        void append(const QString &name);
        void advanceFree();
    };

    static int16_t numberAt(const std::vector<std::vector<int16_t>> &table, int item, int level);

    std::vector<ControllerRecord> m_controllers;
    QHash<QString, int> m_controllerIndex;
    std::vector<LevelRecord> m_levels;
    NameTable m_levelNames;
    NameTable m_sources;
    NameTable m_dests;
    NameTable m_nameSets;
    std::vector<std::vector<int16_t>> m_sourceNumbers; // [level][source]
    std::vector<std::vector<int16_t>> m_destNumbers;   // [level][destination]
    std::vector<std::vector<int16_t>> m_setSources;    // [set] members in order
    std::vector<std::vector<int16_t>> m_setDests;
    std::vector<std::vector<DestinationStatus>> m_status; // [level][destination]
    std::vector<bool> m_locks;
    QString m_configName;
    bool m_simulator = false;
};

} // namespace exel
