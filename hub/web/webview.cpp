// JSON views of the hub's state for the web panel.
#include "webview.h"

#include "routeplan.h"

#include <QRegularExpression>

namespace exel::hub {

QJsonObject configJson(const StatandConfig &m)
{
    QJsonArray levels, sources, destinations, sets;
    for (int i = 0; i < m.levelCount(); ++i)
        levels.append(m.LevelName(i));
    for (int i = 0; i < m.sourceCount(); ++i)
        sources.append(m.SourceName(i));
    for (int i = 0; i < m.destinationCount(); ++i) {
        // Which levels the destination has, so the page greys out the rest.
        QJsonArray on;
        for (int l = 0; l < m.levelCount(); ++l)
            on.append(m.DestinationOnLevel(i, l) ? 1 : 0);
        destinations.append(QJsonObject { { QStringLiteral("name"), m.DestinationName(i) }, { QStringLiteral("on"), on } });
    }
    for (int i = 0; i < m.nameSetCount(); ++i) {
        QJsonArray src, dst;
        for (const ListEntry &e : m.NameSetSourceList(i))
            src.append(e.index);
        for (const ListEntry &e : m.NameSetDestinationList(i))
            dst.append(e.index);
        sets.append(QJsonObject {
            { QStringLiteral("name"), m.NameSetName(i) }, { QStringLiteral("sources"), src }, { QStringLiteral("destinations"), dst } });
    }
    QJsonArray srcOn;
    for (int i = 0; i < m.sourceCount(); ++i) {
        QJsonArray on;
        for (int l = 0; l < m.levelCount(); ++l)
            on.append(m.SourceOnLevel(i, l) ? 1 : 0);
        srcOn.append(on);
    }
    return QJsonObject { { QStringLiteral("name"), m.configurationName() }, { QStringLiteral("levels"), levels },
        { QStringLiteral("sources"), sources }, { QStringLiteral("sourceLevels"), srcOn },
        { QStringLiteral("destinations"), destinations }, { QStringLiteral("nameSets"), sets } };
}

QString originText(const Origin &o)
{
    if (!o.name.isEmpty())
        return o.name;
    return o.server + QLatin1Char(' ') + o.address.section(QLatin1Char(','), 0, 0);
}

QJsonObject destinationJson(const RouterState &state, int d)
{
    const StatandConfig &m = state.model();
    QJsonArray src, in, flag, unconfirmed;
    for (int l = 0; l < m.levelCount(); ++l) {
        const LevelRecord &lev = m.level(l);
        const OutputStatus *st = m.DestinationOnLevel(d, l)
            ? state.status(lev.controllerAddress, m.DestinationNumber(d, l) + 1)
            : nullptr;
        const int ctl = lev.levelNumber;
        if (!st || !st->known() || ctl < 0 || ctl >= st->levels()) {
            src.append(QJsonValue::Null);
            in.append(0);
            flag.append(0);
            unconfirmed.append(0);
            continue;
        }
        const int input = st->input[static_cast<size_t>(ctl)];
        src.append(input > 0 ? m.SourceWithNumber(l, static_cast<int16_t>(input - 1)) : -1);
        in.append(input);
        flag.append(st->flag[static_cast<size_t>(ctl)] ? 1 : 0);
        unconfirmed.append(ctl < static_cast<int>(st->unconfirmed.size()) && st->unconfirmed[static_cast<size_t>(ctl)] ? 1 : 0);
    }
    bool locked = false;
    bool lockKnown = false;
    QJsonObject owner;
    for (const auto &[address, output] : destinationOutputs(m, d)) {
        const std::vector<bool> *locks = state.locks(address);
        if (!locks || state.locksReadAt(address) < 0 || output < 1 || output > static_cast<int>(locks->size()))
            continue;
        lockKnown = true;
        if ((*locks)[static_cast<size_t>(output - 1)]) {
            locked = true;
            if (const Origin *o = state.lockOwner(address, output); o && owner.isEmpty())
                owner = QJsonObject { { QStringLiteral("name"), originText(*o) }, { QStringLiteral("server"), o->server } };
        }
    }
    QJsonObject out { { QStringLiteral("d"), d }, { QStringLiteral("src"), src }, { QStringLiteral("in"), in },
        { QStringLiteral("flag"), flag }, { QStringLiteral("un"), unconfirmed }, { QStringLiteral("locked"), locked },
        { QStringLiteral("lockKnown"), lockKnown } };
    if (!owner.isEmpty())
        out.insert(QStringLiteral("owner"), owner);
    return out;
}

QJsonArray allDestinationsJson(const RouterState &state)
{
    QJsonArray all;
    for (int d = 0; d < state.model().destinationCount(); ++d)
        all.append(destinationJson(state, d));
    return all;
}

QJsonArray linesJson(const RouterState &state, const std::vector<QString> &lines)
{
    QJsonArray out;
    for (const QString &l : lines)
        out.append(QJsonObject { { QStringLiteral("name"), l }, { QStringLiteral("online"), state.lineOnline(l) },
            { QStringLiteral("state"), state.lineStateName(l) } });
    return out;
}

QJsonObject journalEntryJson(const RouterState &state, const JournalEntry &e)
{
    const bool take = e.kind == JournalEntry::Kind::Take;
    QJsonArray replaced;
    if (take) {
        for (size_t i = 0; i < e.inputs.size(); ++i) {
            if (e.inputs[i] <= 0)
                continue;
            const int ctl = static_cast<int>(i) + 1;
            const int prev = i < e.previous.size() ? e.previous[i] : -1;
            QString level = state.levelName(e.address, ctl);
            QString was = prev < 0 ? QStringLiteral("?")
                : prev == 0       ? QStringLiteral("none")
                                  : state.sourceName(e.address, ctl, prev);
            if (was.isEmpty())
                was = QStringLiteral("input %1").arg(prev);
            replaced.append((level.isEmpty() ? QStringLiteral("level %1").arg(ctl) : level) + QLatin1Char('/') + was);
        }
    } else if (!e.previous.empty()) {
        replaced.append(e.previous[0] < 0 ? QStringLiteral("?") : e.previous[0] ? QStringLiteral("locked") : QStringLiteral("free"));
    }
    // An undo needs a settled take whose previous inputs are all known and routable.
    bool undoable = take && (e.state == EntryState::Acknowledged || e.state == EntryState::Confirmed);
    bool anyLevel = false;
    for (size_t i = 0; undoable && i < e.inputs.size(); ++i) {
        if (e.inputs[i] <= 0)
            continue;
        anyLevel = true;
        if (i >= e.previous.size() || e.previous[i] <= 0)
            undoable = false;
    }
    QJsonObject out { { QStringLiteral("id"), static_cast<double>(e.id) },
        { QStringLiteral("kind"), take ? QStringLiteral("take") : QStringLiteral("lock") },
        { QStringLiteral("destination"), e.destination }, { QStringLiteral("summary"), e.summary },
        { QStringLiteral("who"), originText(e.origin) }, { QStringLiteral("server"), e.origin.server },
        { QStringLiteral("at"), static_cast<double>(e.queuedAt) }, { QStringLiteral("state"), entryStateName(e.state) },
        { QStringLiteral("replaced"), replaced }, { QStringLiteral("note"), e.note }, { QStringLiteral("reply"), e.reply },
        { QStringLiteral("undoable"), undoable && anyLevel } };
    if (const int64_t undone = undoneIdOf(e.origin))
        out.insert(QStringLiteral("undoOf"), static_cast<double>(undone));
    if (e.interrupted)
        out.insert(QStringLiteral("interrupted"), true);
    return out;
}

DestinationIndex::DestinationIndex(const StatandConfig &model)
{
    for (int d = 0; d < model.destinationCount(); ++d) {
        for (const auto &key : destinationOutputs(model, d))
            m_map[key].push_back(d);
    }
}

const std::vector<int> &DestinationIndex::destinations(int16_t address, int output) const
{
    const auto it = m_map.find({ address, output });
    return it == m_map.end() ? m_none : it->second;
}

QString undoAddress(const QString &peer, int64_t undoneId)
{
    return peer + QStringLiteral(", undo of #%1").arg(undoneId);
}

int64_t undoneIdOf(const Origin &origin)
{
    static const QRegularExpression re(QStringLiteral(", undo of #(\\d+)$"));
    const auto match = re.match(origin.address);
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

} // namespace exel::hub
