// The web panel's commands carried out over the hub, for the JSON API and the pages alike.
#include "webserver_p.h"

#include "hublog.h"
#include "hubsalvos.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QWebSocket>

namespace exel::hub {

using namespace webdetail;

std::vector<QString> WebServer::lineNames() const
{
    std::vector<QString> out;
    for (const HubLine *l : m_hub.lines())
        out.push_back(l->name());
    return out;
}

QJsonObject WebServer::hello(const OperatorAccount &a) const
{
    QJsonArray salvos;
    for (const QString &s : salvoNames(m_hub.salvoFolder()))
        salvos.append(s);
    QJsonArray journal;
    for (const JournalEntry &e : m_hub.journal().list(0, QString(), 100))
        journal.append(journalEntryJson(m_hub.state(), e));
    return QJsonObject { { QStringLiteral("type"), QStringLiteral("hello") },
        { QStringLiteral("operator"),
            QJsonObject { { QStringLiteral("name"), a.name }, { QStringLiteral("role"), operatorRoleName(a.role) },
                { QStringLiteral("canChange"), a.canChange() }, { QStringLiteral("forceRelease"), a.forceRelease } } },
        { QStringLiteral("config"), configJson(m_hub.state().model()) },
        { QStringLiteral("destinations"), allDestinationsJson(m_hub.state()) },
        { QStringLiteral("lines"), linesJson(m_hub.state(), lineNames()) }, { QStringLiteral("salvos"), salvos },
        { QStringLiteral("journal"), journal } };
}

QJsonObject WebServer::perform(const WebCommand &cmd, const OperatorAccount &a, const QString &peer)
{
    if (cmd.changes() && !a.canChange()) {
        hubLog(QStringLiteral("web client %1: %2 (view only) may not %3").arg(peer, a.name, webOpName(cmd.op)));
        QJsonObject o = fail(QStringLiteral("%1 is view only").arg(a.name));
        o.insert(QStringLiteral("forbidden"), true);
        return o;
    }
    const Origin origin { QStringLiteral("web"), peer, a.name };
    RouterState &state = m_hub.state();
    const StatandConfig &model = state.model();
    switch (cmd.op) {
    case WebCommand::Op::State:
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("destinations"), allDestinationsJson(state) },
            { QStringLiteral("lines"), linesJson(state, lineNames()) } };
    case WebCommand::Op::Config:
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("config"), configJson(model) } };
    case WebCommand::Op::Journal: {
        QJsonArray entries;
        for (const JournalEntry &e : m_hub.journal().list(0, QString(), cmd.limit))
            entries.append(journalEntryJson(state, e));
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("journal"), entries } };
    }
    case WebCommand::Op::Salvos: {
        QJsonArray names;
        for (const QString &s : salvoNames(m_hub.salvoFolder()))
            names.append(s);
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("salvos"), names } };
    }
    case WebCommand::Op::SalvoShow:
    case WebCommand::Op::Salvo: {
        Salvo salvo;
        QString error;
        if (!loadSalvo(m_hub.salvoFolder(), cmd.salvo, model, salvo, &error))
            return fail(error);
        if (cmd.op == WebCommand::Op::Salvo) {
            hubLog(QStringLiteral("web client %1: %2 fires salvo %3").arg(peer, a.name, salvo.name));
            return submitted(fireSalvo(m_hub, salvo, origin));
        }
        QJsonArray routes;
        for (const SalvoRoute &r : salvo.routes) {
            QJsonArray src;
            for (int l = 0; l < model.levelCount(); ++l) {
                const int16_t s = l < static_cast<int>(r.sourcePerLevel.size()) ? r.sourcePerLevel[static_cast<size_t>(l)] : -1;
                src.append(s >= 0 ? QJsonValue(model.SourceName(s)) : QJsonValue::Null);
            }
            routes.append(QJsonObject { { QStringLiteral("destination"), model.DestinationName(r.destination) },
                { QStringLiteral("sources"), src } });
        }
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("name"), salvo.name },
            { QStringLiteral("routes"), routes } };
    }
    case WebCommand::Op::Take:
        return submitted(submitRoute(m_hub, cmd.destination, cmd.sources, origin));
    case WebCommand::Op::Lock: {
        bool forced = false;
        if (!cmd.locked) {
            // Another owner's lock (or one made at the controller) opens only
            // by a forced release, and only for operators allowed to.
            for (const auto &[address, output] : destinationOutputs(model, cmd.destination)) {
                const std::vector<bool> *locks = state.locks(address);
                if (!locks || output < 1 || output > static_cast<int>(locks->size()) || !(*locks)[static_cast<size_t>(output - 1)])
                    continue;
                const Origin *owner = state.lockOwner(address, output);
                if (owner && owner->sameClient(origin))
                    continue;
                if (!a.forceRelease || !cmd.force) {
                    QJsonObject o = fail(QStringLiteral("%1 is locked by %2; only a forced release opens it")
                                             .arg(model.DestinationName(cmd.destination),
                                                 owner ? originText(*owner) : QStringLiteral("someone at the router")));
                    if (!a.forceRelease)
                        o.insert(QStringLiteral("forbidden"), true);
                    return o;
                }
                forced = true;
            }
        }
        return submitted(submitDestinationLock(m_hub, cmd.destination, cmd.locked, origin, {}, forced));
    }
    case WebCommand::Op::Undo: {
        const auto e = m_hub.journal().find(cmd.id);
        if (!e)
            return fail(QStringLiteral("no journal entry #%1").arg(cmd.id));
        if (!journalEntryJson(state, *e).value(QLatin1String("undoable")).toBool())
            return fail(QStringLiteral("#%1 cannot be undone (only an acknowledged or confirmed take whose previous "
                                       "sources are known)")
                            .arg(cmd.id));
        HubLine *line = m_hub.lineFor(e->address);
        if (!line)
            return fail(QStringLiteral("no line carries controller %1").arg(e->address));
        TakeRequest take;
        take.address = e->address;
        take.output = e->output;
        for (size_t i = 0; i < e->inputs.size(); ++i)
            take.inputs.push_back(e->inputs[i] > 0 ? e->previous[i] : int16_t(0));
        const int64_t id = line->submitTake(take, Origin { QStringLiteral("web"), undoAddress(peer, cmd.id), a.name });
        if (id == 0)
            return fail(QStringLiteral("the journal cannot record the undo"));
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("ids"), QJsonArray { static_cast<double>(id) } } };
    }
    case WebCommand::Op::Watch:
        for (const int d : cmd.destinations) {
            for (const auto &[address, output] : destinationOutputs(model, d)) {
                if (HubLine *line = m_hub.lineFor(address))
                    line->watch(address, output);
            }
        }
        return QJsonObject { { QStringLiteral("ok"), true } };
    }
    return fail(QStringLiteral("unknown request"));
}

} // namespace exel::hub
