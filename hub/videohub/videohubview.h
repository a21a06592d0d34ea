// What one Videohub listener shows of the router: its level or levels taken
// together, with the first level numbering the inputs and outputs (Videohub
// input n is that level's input n, 0-based as the protocol counts), the
// names of the configuration as labels, and the hub's state as routing and
// locks. Pure reads of the hub's state, and the blocks built from them.
//
// What the protocol cannot say is left out rather than made up: an output
// not read yet, routed to no input or to an input past the listener's count
// has no line in VIDEO OUTPUT ROUTING (clients keep no entry for it, or the
// last one they had); a lock table not read yet shows U, as clients take a
// missing lock line.
#pragma once

#include "journal.h"
#include "routerstate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace exel::hub {

struct VideohubIdentity {
    QString model; // "Model name:"
    QString friendlyName; // "Friendly name:"
    QString uniqueId; // "Unique ID:", 12 hex digits, stable for a listener
};

class VideohubView {
public:
    // levels: model level indices, the first numbers the ports. Empty or an
    // invalid level: valid() is false.
    VideohubView(const RouterState &state, std::vector<int> levels);

    bool valid() const { return !m_levels.empty(); }
    const std::vector<int> &levels() const { return m_levels; }
    int16_t address() const { return m_address; } // the first level's controller
    int controllerLevel() const { return m_ctlLevel; } // 1-based
    int inputs() const { return m_inputs; }
    int outputs() const { return m_outputs; }

    // The model's source and destination with that number on the first level, or -1.
    int sourceAt(int input) const;
    int destinationAt(int output) const;
    QByteArray inputLabel(int input) const;
    QByteArray outputLabel(int output) const;

    // The input routed to an output, when the hub knows it and the protocol can say it.
    std::optional<int> routed(int output) const;
    // Lock as a client sees it: 'O' held by that client, 'L' by anyone else
    // (or made outside the hub), 'U' free or not read yet.
    char lockFor(int output, const Origin &client) const;

    // The listener's port for a controller output the state reports about,
    // or -1 when it is not one of them.
    int outputFor(int16_t address, int output) const;
    // And for a routing change on a controller level: the port's item, or
    // nothing when the change is not this listener's or cannot be said.
    std::optional<QByteArray> routingItem(int16_t address, int output, int ctlLevel, int input) const;

    // The blocks.
    void appendLabels(QByteArray &out, bool inputs) const;
    void appendLocks(QByteArray &out, const Origin &client) const;
    void appendRouting(QByteArray &out) const;
    // A block by its header (without ':'): the answer to an empty block
    // asking for it. False for a header the listener does not serve.
    bool appendBlock(QByteArray &out, const QByteArray &header, const VideohubIdentity &id, const Origin &client) const;
    // The whole greeting, from PROTOCOL PREAMBLE to END PRELUDE.
    QByteArray dump(const VideohubIdentity &id, const Origin &client) const;

private:
    const RouterState &m_state;
    std::vector<int> m_levels;
    int16_t m_address = 0;
    int m_ctlLevel = 0;
    int m_inputs = 0;
    int m_outputs = 0;
};

// "VIDEO+AUD-A" -> model level indices; false with the name not found.
bool parseVideohubLevels(const StatandConfig &model, const QString &text, std::vector<int> &levels, QString &bad);

// A stable id from what names the listener (hub name, listener name, levels).
QString videohubUniqueId(const QString &seed);

} // namespace exel::hub
