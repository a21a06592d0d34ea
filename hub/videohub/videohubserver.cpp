// The Videohub server and its clients.
#include "videohubserver.h"

#include "clientsocket.h"
#include "hublog.h"
#include "routeplan.h"

#include <QPointer>
#include <QTcpSocket>

#include <algorithm>

namespace exel::hub {

namespace {

const QByteArray kAck("ACK\n\n");
const QByteArray kNak("NAK\n\n");

struct OutputKey {
    int16_t address;
    int output;
    bool operator==(const OutputKey &o) const { return address == o.address && output == o.output; }
};

} // namespace

VideohubServer::VideohubServer(HubCore &hub, VideohubServerOptions options, const QString &hubName, QObject *parent)
    : QObject(parent)
    , m_hub(hub)
    , m_options(std::move(options))
    , m_hubName(hubName)
{
    if (m_options.allow.text().isEmpty())
        m_options.allow.parse(QStringLiteral("127.0.0.0/8, ::1"));
    m_server.setMaxPendingConnections(64);
    connect(&m_server, &QTcpServer::newConnection, this, &VideohubServer::onNewConnection);
}

VideohubServer::~VideohubServer()
{
    m_server.close();
    const std::vector<VideohubClient *> clients = m_clients;
    m_clients.clear();
    for (VideohubClient *c : clients) {
        c->m_dropped = true; // nothing to forget any more
        delete c;
    }
}

QString VideohubServer::tag() const
{
    return QStringLiteral("videohub %1").arg(m_options.name);
}

bool VideohubServer::listen(QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = tag() + QStringLiteral(": ") + why;
        return false;
    };
    std::vector<int> levels;
    QString bad;
    if (!parseVideohubLevels(m_hub.state().model(), m_options.levels, levels, bad))
        return fail(QStringLiteral("\"%1\" is not a level of the router's configuration (or is given twice)").arg(bad));
    m_view = std::make_unique<VideohubView>(m_hub.state(), levels);
    if (!m_view->valid() || !m_hub.state().controller(m_view->address()))
        return fail(QStringLiteral("level %1 has no controller").arg(m_options.levels));
    const QString config = m_hub.state().model().configurationName();
    m_identity.model = m_options.model.isEmpty() ? QStringLiteral("xelhub ") + config : m_options.model;
    m_identity.friendlyName
        = m_options.friendlyName.isEmpty() ? m_hubName + QLatin1Char(' ') + m_options.levels : m_options.friendlyName;
    m_identity.uniqueId = videohubUniqueId(m_hubName + QLatin1Char('/') + m_options.name + QLatin1Char('/') + config
        + QLatin1Char('/') + m_options.levels);
    if (!m_server.listen(m_options.address, m_options.port))
        return fail(QStringLiteral("cannot listen on %1 port %2: %3")
                        .arg(m_options.address.toString())
                        .arg(m_options.port)
                        .arg(m_server.errorString()));
    const RouterState &state = m_hub.state();
    // Each change goes out as it happens, one write per client: the line's
    // next command may keep this thread busy in the engine for a whole
    // exchange, so nothing is held back for later. A listener shows one
    // controller level, so a status read or an acknowledged take is at most
    // one routing item here.
    connect(&state, &RouterState::crosspointChanged, this,
        [this](int16_t address, int output, int ctlLevel, int input, bool, int) {
            // An input the protocol cannot name is not sent: clients keep
            // what they had rather than see a made-up route.
            if (const auto item = m_view->routingItem(address, output, ctlLevel, input)) {
                QByteArray block;
                appendVideohubBlock(block, "VIDEO OUTPUT ROUTING", { *item });
                const std::vector<VideohubClient *> clients = m_clients;
                for (VideohubClient *c : clients)
                    c->send(block);
            }
        });
    connect(&state, &RouterState::lockChanged, this, [this](int16_t address, int output, bool) {
        const int port = m_view->outputFor(address, output);
        if (port < 0)
            return;
        const std::vector<VideohubClient *> clients = m_clients;
        for (VideohubClient *c : clients) {
            QByteArray block;
            appendVideohubBlock(
                block, "VIDEO OUTPUT LOCKS", { videohubItem(port, QByteArray(1, m_view->lockFor(port, c->origin()))) });
            c->send(block);
        }
    });
    hubLog(QStringLiteral("%1: listening on %2 port %3 for %4 (%5 inputs, %6 outputs), clients allowed from %7")
               .arg(tag(), m_options.address.toString())
               .arg(m_server.serverPort())
               .arg(m_options.levels)
               .arg(m_view->inputs())
               .arg(m_view->outputs())
               .arg(m_options.allow.text()));
    return true;
}

quint16 VideohubServer::port() const
{
    return m_server.serverPort();
}

int VideohubServer::clientCount() const
{
    return static_cast<int>(m_clients.size());
}

void VideohubServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = peerText(socket);
        QString refused;
        if (!m_options.allow.allows(socket->peerAddress()))
            refused = QStringLiteral("not in the allow-list");
        else if (clientCount() >= m_options.maxClients)
            refused = QStringLiteral("%1 clients already connected").arg(m_options.maxClients);
        if (!refused.isEmpty()) {
            hubLog(QStringLiteral("%1: client %2 refused: %3").arg(tag(), peer, refused));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *client = new VideohubClient(*this, socket);
        m_clients.push_back(client);
        hubLog(QStringLiteral("%1: client %2 connected (%3 now)").arg(tag(), peer).arg(clientCount()));
        emit clientCountChanged(clientCount());
        client->send(m_view->dump(m_identity, client->origin()));
    }
}

void VideohubServer::forget(VideohubClient *client)
{
    const auto it = std::find(m_clients.begin(), m_clients.end(), client);
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    emit clientCountChanged(clientCount());
}

bool VideohubServer::route(VideohubClient &client, const VideohubRequest &request, QString &why)
{
    const StatandConfig &model = m_hub.state().model();
    const VideohubView &v = *m_view;
    const bool married = v.levels().size() > 1;
    std::vector<TakeRequest> takes;
    for (const auto &[output, input] : request.routes) {
        if (!married) {
            // One level: the port numbers are the controller's own.
            const ControllerInfo *info = m_hub.state().controller(v.address());
            TakeRequest take { v.address(), output + 1, std::vector<int16_t>(static_cast<size_t>(info->levels), 0) };
            take.inputs[static_cast<size_t>(v.controllerLevel() - 1)] = static_cast<int16_t>(input + 1);
            takes.push_back(take);
            continue;
        }
        // Levels taken together: the configuration's destination and source
        // behind the first level's numbers, routed on every level.
        const int d = v.destinationAt(output);
        const int s = v.sourceAt(input);
        if (d < 0 || s < 0) {
            why = QStringLiteral("output %1 or input %2 is not in the router's configuration").arg(output).arg(input);
            return false;
        }
        std::vector<int16_t> perLevel(static_cast<size_t>(model.levelCount()), -1);
        for (const int l : v.levels())
            perLevel[static_cast<size_t>(l)] = static_cast<int16_t>(s);
        const RoutePlan plan = planRoute(model, d, perLevel);
        if (!plan.problem.isEmpty() || plan.takes.empty()) {
            why = plan.problem.isEmpty() ? QStringLiteral("nothing to route") : plan.problem;
            return false;
        }
        takes.insert(takes.end(), plan.takes.begin(), plan.takes.end());
    }
    // Nothing is queued unless all of it can be: a lock held by anyone else
    // refuses the whole block.
    std::vector<bool> own(takes.size(), false);
    for (size_t i = 0; i < takes.size(); ++i) {
        const TakeRequest &t = takes[i];
        const HubLine *line = m_hub.lineFor(t.address);
        if (!line || !line->online()) {
            // Not acknowledged: it would only fail on the line.
            why = line ? QStringLiteral("the controller line %1 is offline").arg(line->name())
                       : QStringLiteral("no line carries controller %1").arg(t.address);
            return false;
        }
        const std::vector<bool> *locks = m_hub.state().locks(t.address);
        if (!locks || t.output > static_cast<int>(locks->size()) || !(*locks)[static_cast<size_t>(t.output - 1)])
            continue;
        const Origin *owner = m_hub.state().lockOwner(t.address, t.output);
        if (!owner || !owner->sameClient(client.origin())) {
            why = QStringLiteral("output %1 is locked by someone else").arg(t.output - 1);
            return false;
        }
        own[i] = true;
    }
    const int entries = static_cast<int>(takes.size() + 2 * std::count(own.begin(), own.end(), true));
    if (client.m_waiting + entries > m_options.maxWaiting) {
        why = QStringLiteral("%1 routes and locks already waiting").arg(client.m_waiting);
        return false;
    }
    const QPointer<VideohubClient> self(&client);
    auto done = [self](const JournalEntry &) {
        if (self)
            --self->m_waiting;
    };
    for (size_t i = 0; i < takes.size(); ++i) {
        const TakeRequest &t = takes[i];
        HubLine *line = m_hub.lineFor(t.address);
        // Back to back on the one queue of the line, so no other take can
        // land between the unlock and the lock again.
        client.m_waiting += own[i] ? 3 : 1;
        if (own[i])
            line->submitLock(t.address, t.output, false, client.origin(), done);
        line->submitTake(t, client.origin(), done);
        if (own[i])
            line->submitLock(t.address, t.output, true, client.origin(), done);
    }
    return true;
}

bool VideohubServer::lock(VideohubClient &client, const VideohubRequest &request, QString &why)
{
    const VideohubView &v = *m_view;
    struct Change {
        std::vector<std::pair<int16_t, int>> outputs;
        bool locked;
        bool forced;
        int port;
    };
    std::vector<Change> changes;
    for (const auto &[port, what] : request.locks) {
        // A destination of levels taken together locks on every output it
        // uses; a single level, or a port the configuration does not name,
        // on its own output.
        std::vector<std::pair<int16_t, int>> outputs;
        const int d = v.levels().size() > 1 ? v.destinationAt(port) : -1;
        if (d >= 0)
            outputs = destinationOutputs(m_hub.state().model(), d);
        if (outputs.empty())
            outputs.emplace_back(v.address(), port + 1);
        bool others = false;
        for (const auto &[address, output] : outputs) {
            const HubLine *line = m_hub.lineFor(address);
            if (!line || !line->online()) {
                why = line ? QStringLiteral("the controller line %1 is offline").arg(line->name())
                           : QStringLiteral("no line carries controller %1").arg(address);
                return false;
            }
            const std::vector<bool> *locks = m_hub.state().locks(address);
            if (!locks || output > static_cast<int>(locks->size()) || !(*locks)[static_cast<size_t>(output - 1)])
                continue;
            const Origin *owner = m_hub.state().lockOwner(address, output);
            if (!owner || !owner->sameClient(client.origin()))
                others = true;
        }
        if (others && (what != 'F' || !m_options.forceUnlock)) {
            why = what == 'F' ? QStringLiteral("output %1: forcing a lock open is not allowed here").arg(port)
                              : QStringLiteral("output %1 is locked by someone else").arg(port);
            return false;
        }
        changes.push_back(Change { outputs, what == 'O', others, port });
    }
    int entries = 0;
    for (const Change &c : changes)
        entries += static_cast<int>(c.outputs.size());
    if (client.m_waiting + entries > m_options.maxWaiting) {
        why = QStringLiteral("%1 routes and locks already waiting").arg(client.m_waiting);
        return false;
    }
    const QPointer<VideohubClient> self(&client);
    auto done = [self](const JournalEntry &) {
        if (self)
            --self->m_waiting;
    };
    for (const Change &c : changes) {
        if (c.forced)
            hubLog(QStringLiteral("%1: client %2 forces open the lock of output %3")
                       .arg(tag(), client.origin().address)
                       .arg(c.port));
        for (const auto &[address, output] : c.outputs) {
            ++client.m_waiting;
            m_hub.lineFor(address)->submitLock(address, output, c.locked, client.origin(), done, c.forced);
        }
    }
    return true;
}

VideohubClient::VideohubClient(VideohubServer &server, QTcpSocket *socket)
    : QObject(&server)
    , m_server(server)
    , m_socket(socket)
    , m_origin { QStringLiteral("videohub"), peerText(socket), QString() }
{
    socket->setParent(this);
    tuneClientSocket(socket);
    m_tokens = server.m_options.blockBurst;
    m_tokensAt = server.m_hub.clock().nowMs();
    connect(socket, &QTcpSocket::readyRead, this, &VideohubClient::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this] { drop(QStringLiteral("closed by the client")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError)
            drop(m_socket->errorString());
    });
}

VideohubClient::~VideohubClient()
{
    // A dropped client is already forgotten, and may be deleted as the
    // server's child after the server itself is gone.
    if (!m_dropped)
        m_server.forget(this);
}

void VideohubClient::drop(const QString &reason)
{
    if (m_dropped)
        return;
    m_dropped = true;
    hubLog(QStringLiteral("%1: client %2 disconnected: %3").arg(m_server.tag(), m_origin.address, reason));
    m_server.forget(this);
    m_socket->disconnect(this);
    m_socket->abort();
    deleteLater();
}

void VideohubClient::send(const QByteArray &bytes)
{
    if (m_dropped)
        return;
    m_socket->write(bytes);
    // Into the kernel now: Qt would otherwise send it from the event loop,
    // which the line's next command may keep waiting for a whole exchange.
    // flush() never blocks; what the kernel does not take stays buffered.
    m_socket->flush();
    if (m_socket->bytesToWrite() > m_server.m_options.maxOutput)
        drop(QStringLiteral("not reading (%1 bytes unsent)").arg(m_socket->bytesToWrite()));
}

bool VideohubClient::takeToken()
{
    const VideohubServerOptions &o = m_server.m_options;
    const int64_t now = m_server.m_hub.clock().nowMs();
    m_tokens = std::min(o.blockBurst, m_tokens + static_cast<double>(now - m_tokensAt) * o.blockRate / 1000.0);
    m_tokensAt = now;
    if (m_tokens < 1.0)
        return false;
    m_tokens -= 1.0;
    return true;
}

void VideohubClient::onReadyRead()
{
    if (m_dropped)
        return;
    std::vector<VideohubBlock> blocks;
    QByteArray reply;
    char buffer[8192];
    for (;;) {
        const qint64 got = m_socket->read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        const VideohubBlockReader::Fault fault = m_reader.feed(buffer, got, blocks);
        for (const VideohubBlock &b : blocks) {
            if (!takeToken()) {
                send(reply);
                drop(QStringLiteral("flooding: more than %1 blocks a second").arg(m_server.m_options.blockRate));
                return;
            }
            serve(b, reply);
        }
        blocks.clear();
        if (fault != VideohubBlockReader::Fault::None) {
            send(reply);
            drop(VideohubBlockReader::faultText(fault));
            return;
        }
    }
    // Every answer to what arrived together in one write.
    if (!reply.isEmpty())
        send(reply);
}

void VideohubClient::serve(const VideohubBlock &block, QByteArray &reply)
{
    using Kind = VideohubRequest::Kind;
    const VideohubView &view = m_server.view();
    const VideohubRequest r = parseVideohubBlock(block, view.inputs(), view.outputs());
    QString why;
    switch (r.kind) {
    case Kind::Ping:
        reply += kAck;
        return;
    case Kind::Query:
        reply += kAck;
        view.appendBlock(reply, r.header, m_server.identity(), m_origin);
        return;
    case Kind::Routing:
        if (m_server.route(*this, r, why)) {
            reply += kAck;
            return;
        }
        break;
    case Kind::Locks:
        if (m_server.lock(*this, r, why)) {
            reply += kAck;
            return;
        }
        break;
    case Kind::Labels:
        if (m_server.m_options.labels == VideohubServerOptions::Labels::Ignore) {
            // Accepted and left as they are: the client is shown the names
            // the configuration gives.
            reply += kAck;
            view.appendLabels(reply, r.inputLabels);
            return;
        }
        why = QStringLiteral("labels are the router configuration's; changes are refused ([videohub] labels)");
        break;
    case Kind::Bad:
        why = r.problem;
        break;
    }
    reply += kNak;
    // Logged, but a client that sends nothing else cannot fill the log.
    constexpr int kLoggedNaks = 20;
    if (++m_naks <= kLoggedNaks)
        hubLog(QStringLiteral("%1: client %2: NAK: %3%4")
                   .arg(m_server.tag(), m_origin.address, why,
                       m_naks == kLoggedNaks ? QStringLiteral(" (further NAKs to this client are not logged)")
                                             : QString()));
}

} // namespace exel::hub
