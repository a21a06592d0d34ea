// The MQTT server over the hub's state, queues and journal.
#include "mqttserver.h"

#include "hublog.h"
#include "hubsalvos.h"
#include "routeplan.h"

namespace exel::hub {

MqttServer::MqttServer(HubCore &hub, MqttOptions options, QObject *parent)
    : QObject(parent)
    , m_hub(hub)
    , m_options(std::move(options))
    , m_topics(m_options.prefix)
    , m_client(m_options, MqttClient::Will { m_topics.status(), QByteArrayLiteral("offline") })
{
    const StatandConfig &model = hub.state().model();
    for (int l = 0; l < model.levelCount(); ++l) {
        const LevelRecord &lev = model.level(l);
        for (int d = 0; d < model.destinationCount(); ++d) {
            if (!model.DestinationOnLevel(d, l))
                continue;
            const int output = model.DestinationNumber(d, l) + 1;
            m_places[{ lev.controllerAddress, lev.levelNumber + 1, output }].push_back({ l, d });
            m_outputPlaces[{ lev.controllerAddress, output }].push_back({ l, d });
        }
    }
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    connect(&m_flush, &QTimer::timeout, this, &MqttServer::flush);

    RouterState &state = hub.state();
    connect(&state, &RouterState::crosspointChanged, this,
        [this](int16_t address, int output, int ctlLevel, int, bool, int) { markDirty(address, output, ctlLevel); });
    connect(&state, &RouterState::statusRefreshed, this, [this](int16_t address, int output) {
        // The confirming poll of a take changes no input: only the flag of
        // the published message says it is confirmed now.
        const auto key = std::make_pair(address, output);
        const OutputStatus *s = m_hub.state().status(address, output);
        if (m_shownUnconfirmed.count(key) && s
            && std::find(s->unconfirmed.begin(), s->unconfirmed.end(), true) == s->unconfirmed.end()) {
            m_shownUnconfirmed.erase(key);
            markOutput(address, output);
        }
        // The end of a reading: what it changed goes out now, not after the
        // line's next command (the hub's thread may wait in it).
        flush();
    });
    connect(&state, &RouterState::lockChanged, this,
        [this](int16_t address, int output, bool) { markOutput(address, output); });
    connect(&state, &RouterState::locksRefreshed, this, [this](int16_t address) {
        // The first reading of a lock table makes every free output known
        // (only locked ones are announced as changes).
        if (m_locksSeen.insert(address).second) {
            for (const auto &[key, places] : m_outputPlaces) {
                if (key.first == address)
                    markOutput(key.first, key.second);
            }
        }
        flush();
    });
    connect(&state, &RouterState::lineStateChanged, this, [this](const QString &line, bool) {
        m_dirtyLines.insert(line);
        m_flush.start();
    });
    connect(&state, &RouterState::lineDiallingChanged, this, [this](const QString &line, bool) {
        m_dirtyLines.insert(line);
        m_flush.start();
    });
    connect(&hub.journal(), &Journal::entryChanged, this, &MqttServer::onEntryChanged);

    connect(&m_client, &MqttClient::connected, this, &MqttServer::onConnected);
    connect(&m_client, &MqttClient::disconnected, this, [this](const QString &why) {
        // One line per loss, not one per try.
        if (m_loggedDown)
            return;
        m_loggedDown = true;
        hubLog(QStringLiteral("mqtt: not connected to %1:%2 (%3); retrying")
                   .arg(m_options.host)
                   .arg(m_options.port)
                   .arg(why));
    });
    connect(&m_client, &MqttClient::refused, this, [this](const QString &why) {
        if (m_loggedRefusal)
            return;
        m_loggedRefusal = true;
        hubLog(QStringLiteral("mqtt: broker %1:%2 refused the hub's connection (%3); retrying")
                   .arg(m_options.host)
                   .arg(m_options.port)
                   .arg(why));
    });
    connect(&m_client, &MqttClient::message, this, &MqttServer::onMessage);
}

MqttServer::~MqttServer()
{
    stop();
}

bool MqttServer::start(QString *error)
{
    return m_client.start(error);
}

void MqttServer::stop()
{
    m_client.stop();
    m_flush.stop();
}

int MqttServer::retainedCount() const
{
    int n = 1 + static_cast<int>(m_hub.lines().size()) + m_hub.state().model().levelCount();
    for (const auto &[key, places] : m_places)
        n += static_cast<int>(places.size());
    return n;
}

void MqttServer::onConnected()
{
    m_loggedRefusal = false;
    m_loggedDown = false;
    hubLog(QStringLiteral("mqtt: connected to %1:%2 as %3, topics under %4/")
               .arg(m_options.host)
               .arg(m_options.port)
               .arg(m_options.clientId, m_topics.prefix()));
    m_client.subscribe(m_topics.command(), 1);
    m_client.subscribe(m_topics.commandPattern(), 1);
    publishAll();
    emit republished();
}

bool MqttServer::send(
    const QString &topic, const QByteArray &payload, int qos, bool retain, const QByteArray &correlation)
{
    if (!m_client.publish(topic, payload, qos, retain, correlation))
        return false;
    ++m_published;
    return true;
}

// ---- state

QString MqttServer::lineOf(int16_t address) const
{
    const HubLine *line = m_hub.lineFor(address);
    return line ? line->name() : QString();
}

void MqttServer::markDirty(int16_t address, int output, int ctlLevel)
{
    const auto it = m_places.find({ address, ctlLevel, output });
    if (it == m_places.end())
        return;
    for (const Place &p : it->second)
        m_dirty.insert({ p.level, p.destination });
    m_flush.start();
}

void MqttServer::markOutput(int16_t address, int output)
{
    const auto it = m_outputPlaces.find({ address, output });
    if (it == m_outputPlaces.end())
        return;
    for (const Place &p : it->second)
        m_dirty.insert({ p.level, p.destination });
    m_flush.start();
}

void MqttServer::flush()
{
    m_flush.stop();
    if (m_dirty.empty() && m_dirtyLines.empty())
        return;
    // Changes while the broker is away are not kept: the next connection
    // publishes everything as it is then.
    if (m_client.isConnected()) {
        for (const QString &line : m_dirtyLines)
            publishLine(line);
        for (const auto &[level, destination] : m_dirty)
            publishDestination(level, destination);
    }
    m_dirtyLines.clear();
    m_dirty.clear();
}

void MqttServer::publishAll()
{
    send(m_topics.status(), QByteArrayLiteral("online"), 1, true);
    const StatandConfig &model = m_hub.state().model();
    for (const HubLine *line : m_hub.lines())
        publishLine(line->name());
    for (int l = 0; l < model.levelCount(); ++l) {
        if (lineOf(model.level(l).controllerAddress).isEmpty())
            send(m_topics.levelLink(model.LevelName(l)),
                mqtt::levelLinkPayload(model.LevelName(l), QString(), QStringLiteral("offline")), m_options.stateQos,
                true);
    }
    for (const auto &[key, places] : m_places) {
        for (const Place &p : places)
            publishDestination(p.level, p.destination);
    }
    m_dirty.clear();
    m_dirtyLines.clear();
}

void MqttServer::publishLine(const QString &name)
{
    RouterState &state = m_hub.state();
    const QString lineState = state.lineStateName(name);
    std::vector<int16_t> controllers;
    for (const ControllerInfo &c : state.controllers()) {
        if (lineOf(c.address) == name)
            controllers.push_back(c.address);
    }
    send(m_topics.line(name), mqtt::linePayload(name, lineState, controllers), m_options.stateQos, true);
    const StatandConfig &model = state.model();
    for (int l = 0; l < model.levelCount(); ++l) {
        if (lineOf(model.level(l).controllerAddress) == name)
            send(m_topics.levelLink(model.LevelName(l)), mqtt::levelLinkPayload(model.LevelName(l), name, lineState),
                m_options.stateQos, true);
    }
}

void MqttServer::publishDestination(int level, int destination)
{
    const RouterState &state = m_hub.state();
    const StatandConfig &model = state.model();
    const LevelRecord &lev = model.level(level);
    const int16_t address = lev.controllerAddress;
    const int ctlLevel = lev.levelNumber + 1;
    mqtt::DestinationView v;
    v.destination = model.DestinationName(destination);
    v.level = model.LevelName(level);
    if (const ControllerInfo *c = state.controller(address))
        v.controller = c->name;
    v.output = model.DestinationNumber(destination, level) + 1;
    const OutputStatus *s = state.status(address, v.output);
    if (s && s->known() && ctlLevel <= s->levels()) {
        const size_t i = static_cast<size_t>(ctlLevel - 1);
        v.input = s->input[i];
        v.flag = s->flag[i];
        v.unconfirmed = i < s->unconfirmed.size() && s->unconfirmed[i];
        v.source = state.sourceName(address, ctlLevel, v.input);
        // Monotonic reading time as wall-clock time for subscribers.
        v.readAtMs = m_hub.journal().wallNow() - (m_hub.clock().nowMs() - s->readAt);
        if (v.unconfirmed)
            m_shownUnconfirmed.insert({ address, v.output });
    }
    const std::vector<bool> *locks = state.locks(address);
    if (locks && state.locksReadAt(address) >= 0 && v.output <= static_cast<int>(locks->size())) {
        v.locked = (*locks)[static_cast<size_t>(v.output - 1)] ? 1 : 0;
        if (const Origin *owner = state.lockOwner(address, v.output))
            v.lockOwner = *owner;
    }
    send(m_topics.destination(v.level, v.destination), mqtt::destinationPayload(v), m_options.stateQos, true);
}

// ---- commands

bool MqttServer::takeToken(const QString &user)
{
    const int64_t now = m_hub.clock().nowMs();
    if (m_buckets.size() > 1000) {
        // Forget users whose bucket has filled up again.
        for (auto it = m_buckets.begin(); it != m_buckets.end();) {
            const double full = it->second.tokens + (now - it->second.at) * m_options.commandRate / 1000.0;
            it = full >= m_options.commandBurst ? m_buckets.erase(it) : std::next(it);
        }
    }
    auto [it, fresh] = m_buckets.try_emplace(user);
    Bucket &b = it->second;
    if (fresh)
        b = Bucket { m_options.commandBurst, now };
    b.tokens = std::min(m_options.commandBurst, b.tokens + (now - b.at) * m_options.commandRate / 1000.0);
    b.at = now;
    if (b.tokens < 1)
        return false;
    b.tokens -= 1;
    return true;
}

void MqttServer::reply(const Pending &to, const QByteArray &payload)
{
    send(to.topic, payload, m_options.stateQos, false, to.correlation);
}

void MqttServer::onMessage(
    const QString &topic, const QByteArray &payload, const QString &responseTopic, const QByteArray &correlation)
{
    const std::optional<QString> user = m_topics.commandUser(topic);
    if (!user)
        return;
    Pending to { m_topics.reply(*user), QByteArray(), QJsonValue() };
    const QString replies = m_topics.reply(QString()) + u'/';
    const QString own = m_topics.reply(*user);
    if (!responseTopic.isEmpty()) {
        // Replies go only where this hub may write and no state is: under
        // its reply topic (the client's own, when it commands as a user).
        // Anywhere else a client could make the hub publish false state.
        const bool inside = user->isEmpty() ? responseTopic.startsWith(replies)
                                            : responseTopic == own || responseTopic.startsWith(own + u'/');
        if (!inside || responseTopic.contains(u'+') || responseTopic.contains(u'#')) {
            reply(to,
                mqtt::errorReply(QJsonValue(), QStringLiteral("the response topic must be under %1").arg(own + u'/')));
            return;
        }
        to.topic = responseTopic;
        to.correlation = correlation;
    }
    if (!m_options.operators.isEmpty() && !m_options.operators.contains(*user)) {
        const QString why = user->isEmpty() ? QStringLiteral("commands must come on %1/<user>").arg(m_topics.command())
                                            : QStringLiteral("%1 may not command this hub").arg(*user);
        hubLog(QStringLiteral("mqtt: command refused: %1").arg(why));
        reply(to, mqtt::errorReply(QJsonValue(), why));
        return;
    }
    mqtt::Command command;
    QString why;
    mqtt::CommandLimits limits;
    limits.maxBytes = m_options.maxCommandBytes;
    // Read first (it is bounded) so that even a refusal for the rate carries
    // the client's id; nothing of a command past the rate is logged.
    const bool read = mqtt::readCommand(payload, limits, command, why);
    if (!takeToken(*user)) {
        reply(to, mqtt::errorReply(command.tag, QStringLiteral("too many commands; slow down")));
        return;
    }
    if (!read) {
        hubLog(QStringLiteral("mqtt: command from %1 refused: %2")
                   .arg(user->isEmpty() ? QStringLiteral("(no user)") : *user, why));
        reply(to, mqtt::errorReply(command.tag, why));
        return;
    }
    to.tag = command.tag;
    const Origin origin { QStringLiteral("mqtt"), responseTopic.isEmpty() ? topic : responseTopic, *user };
    Submitted submitted;
    if (!carryOut(command, origin, submitted, why)) {
        hubLog(QStringLiteral("mqtt: %1 from %2 refused: %3")
                   .arg(mqtt::commandName(command.kind), user->isEmpty() ? QStringLiteral("(no user)") : *user, why));
        reply(to, mqtt::errorReply(command.tag, why));
        return;
    }
    std::vector<JournalEntry> entries;
    for (const int64_t id : submitted.ids) {
        std::optional<JournalEntry> e = m_hub.journal().find(id);
        if (!e)
            continue;
        // An entry that is already settled (a line that is offline fails it
        // at once) has its outcome in this reply.
        if (entryOpen(e->state))
            m_pending[id] = to;
        entries.push_back(*e);
    }
    while (static_cast<int>(m_pending.size()) > m_options.maxPendingReplies)
        m_pending.erase(m_pending.begin());
    reply(to, mqtt::acceptedReply(command.tag, command.kind, entries, submitted.problem));
}

bool MqttServer::carryOut(const mqtt::Command &command, const Origin &origin, Submitted &submitted, QString &why)
{
    const StatandConfig &model = m_hub.state().model();
    if (command.kind == mqtt::Command::Kind::Salvo) {
        Salvo salvo;
        if (!loadSalvo(m_hub.salvoFolder(), command.salvo, model, salvo, &why))
            return false;
        submitted = fireSalvo(m_hub, salvo, origin);
    } else {
        const int d = model.FindDestination(command.destination);
        if (d < 0) {
            why = QStringLiteral("unknown destination \"%1\"").arg(command.destination);
            return false;
        }
        if (command.kind == mqtt::Command::Kind::Take) {
            std::vector<int16_t> perLevel(static_cast<size_t>(model.levelCount()), -1);
            if (!command.source.isEmpty()) {
                const int s = model.FindSource(command.source);
                if (s < 0) {
                    why = QStringLiteral("unknown source \"%1\"").arg(command.source);
                    return false;
                }
                bool any = false;
                for (int l = 0; l < model.levelCount(); ++l) {
                    if (model.DestinationOnLevel(d, l) && model.SourceOnLevel(s, l)) {
                        perLevel[static_cast<size_t>(l)] = static_cast<int16_t>(s);
                        any = true;
                    }
                }
                if (!any) {
                    why = QStringLiteral("%1 and %2 share no level").arg(command.source, command.destination);
                    return false;
                }
            }
            for (const auto &[levelName, sourceName] : command.levels) {
                const int l = model.FindLevel(levelName);
                const int s = model.FindSource(sourceName);
                if (l < 0) {
                    why = QStringLiteral("unknown level \"%1\"").arg(levelName);
                    return false;
                }
                if (s < 0) {
                    why = QStringLiteral("unknown source \"%1\"").arg(sourceName);
                    return false;
                }
                perLevel[static_cast<size_t>(l)] = static_cast<int16_t>(s);
            }
            submitted = submitRoute(m_hub, d, perLevel, origin);
        } else {
            const bool lock = command.kind == mqtt::Command::Kind::Lock;
            bool forced = false;
            if (!lock) {
                for (const auto &[address, output] : destinationOutputs(model, d)) {
                    const Origin *owner = m_hub.state().lockOwner(address, output);
                    if (!owner || owner->sameClient(origin))
                        continue;
                    if (!command.force) {
                        why = QStringLiteral("%1 is locked by %2 (%3); unlock with \"force\": true to open it")
                                  .arg(command.destination, owner->name.isEmpty() ? owner->address : owner->name,
                                      owner->server);
                        return false;
                    }
                    forced = true;
                }
            }
            submitted = submitDestinationLock(m_hub, d, lock, origin, {}, forced);
        }
    }
    if (submitted.ids.empty()) {
        why = submitted.problem.isEmpty() ? QStringLiteral("nothing to do") : submitted.problem;
        return false;
    }
    return true;
}

void MqttServer::onEntryChanged(const JournalEntry &entry)
{
    // The state an entry's step changed goes out first: a client told
    // "confirmed" finds the destination's message saying so already.
    if (!m_dirty.empty() || !m_dirtyLines.empty())
        flush();
    if (m_client.isConnected())
        send(m_topics.journal(), mqtt::journalPayload(entry), m_options.stateQos, false);
    const auto it = m_pending.find(entry.id);
    if (it == m_pending.end())
        return;
    reply(it->second, mqtt::outcomeReply(it->second.tag, entry));
    if (!entryOpen(entry.state))
        m_pending.erase(it);
}

} // namespace exel::hub
