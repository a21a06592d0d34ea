// The panel server and its clients.
#include "panelserver.h"

#include "clientsocket.h"
#include "hublinkprotocol.h"
#include "hublog.h"
#include "xelemulator.h"

#include <QTcpSocket>

#include <algorithm>

namespace exel::hub {

namespace {

constexpr int kHousekeepingMs = 100;

} // namespace

PanelServer::PanelServer(HubCore &hub, PanelServerOptions options, QObject *parent)
    : QObject(parent)
    , m_hub(hub)
    , m_options(std::move(options))
{
    if (m_options.allow.text().isEmpty())
        m_options.allow.parse(QStringLiteral("127.0.0.0/8, ::1"));
    m_server.setMaxPendingConnections(64);
    connect(&m_server, &QTcpServer::newConnection, this, &PanelServer::onNewConnection);
    m_housekeeping.setInterval(kHousekeepingMs);
    connect(&m_housekeeping, &QTimer::timeout, this, &PanelServer::housekeeping);
}

PanelServer::~PanelServer()
{
    m_server.close();
    const std::vector<PanelClient *> clients = m_clients;
    m_clients.clear();
    for (PanelClient *c : clients)
        delete c;
}

bool PanelServer::listen(QString *error)
{
    if (!m_server.listen(m_options.address, m_options.port)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1 port %2: %3")
                         .arg(m_options.address.toString())
                         .arg(m_options.port)
                         .arg(m_server.errorString());
        return false;
    }
    m_housekeeping.start();
    hubLog(QStringLiteral("panel server: listening on %1 port %2, clients allowed from %3")
               .arg(m_options.address.toString())
               .arg(m_server.serverPort())
               .arg(m_options.allow.text()));
    return true;
}

quint16 PanelServer::port() const
{
    return m_server.serverPort();
}

int PanelServer::clientCount() const
{
    return static_cast<int>(m_clients.size());
}

void PanelServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = peerText(socket);
        if (!m_options.allow.allows(socket->peerAddress())) {
            hubLog(QStringLiteral("panel client %1 refused: not in the allow-list").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (clientCount() >= m_options.maxClients) {
            hubLog(QStringLiteral("panel client %1 refused: %2 clients already connected")
                       .arg(peer)
                       .arg(m_options.maxClients));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *client = new PanelClient(*this, socket);
        m_clients.push_back(client);
        hubLog(QStringLiteral("panel client %1 connected (%2 now)").arg(peer).arg(clientCount()));
        emit clientCountChanged(clientCount());
    }
}

void PanelServer::forget(PanelClient *client)
{
    const auto it = std::find(m_clients.begin(), m_clients.end(), client);
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    emit clientCountChanged(clientCount());
}

void PanelServer::housekeeping()
{
    const std::vector<PanelClient *> clients = m_clients;
    for (PanelClient *c : clients)
        c->housekeeping();
}

PanelClient::PanelClient(PanelServer &server, QTcpSocket *socket)
    : QObject(&server)
    , m_server(server)
    , m_hub(server.m_hub)
    , m_socket(socket)
    , m_peer(peerText(socket))
{
    socket->setParent(this);
    tuneClientSocket(socket);
    m_tokens = server.m_options.requestBurst;
    m_tokensAt = m_hub.clock().nowMs();
    connect(socket, &QTcpSocket::readyRead, this, &PanelClient::onReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &PanelClient::onBytesWritten);
    connect(socket, &QTcpSocket::disconnected, this, [this] { drop(QStringLiteral("closed by the client")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError)
            drop(m_socket->errorString());
    });
}

PanelClient::~PanelClient()
{
    m_server.forget(this);
}

void PanelClient::drop(const QString &reason)
{
    if (m_dropped)
        return;
    m_dropped = true;
    m_queue.clear();
    m_waiting = false;
    ++m_waitToken;
    hubLog(QStringLiteral("panel client %1 disconnected: %2").arg(m_peer, reason));
    m_server.forget(this);
    m_socket->disconnect(this);
    m_socket->abort();
    deleteLater();
}

Origin PanelClient::origin() const
{
    return Origin { QStringLiteral("panel"), m_peer, QString() };
}

bool PanelClient::takeToken()
{
    const PanelServerOptions &o = m_server.m_options;
    const int64_t now = m_hub.clock().nowMs();
    m_tokens = std::min(o.requestBurst, m_tokens + (now - m_tokensAt) * o.requestRate / 1000.0);
    m_tokensAt = now;
    if (m_tokens < 1.0)
        return false;
    m_tokens -= 1.0;
    return true;
}

void PanelClient::onReadyRead()
{
    if (m_dropped)
        return;
    std::vector<PanelRequest> requests;
    char buffer[4096];
    for (;;) {
        const qint64 got = m_socket->read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        m_reader.feed(buffer, got, requests);
        for (PanelRequest &r : requests) {
            if (!takeToken()) {
                drop(QStringLiteral("flooding: more than %1 requests a second").arg(m_server.m_options.requestRate));
                return;
            }
            switch (r.kind) {
            case PanelRequest::Kind::TooLong:
                drop(QStringLiteral("a line longer than %1 characters").arg(PanelRequestReader::kMaxLine));
                return;
            case PanelRequest::Kind::BadChecksum:
                // As a controller: a damaged request gets no answer.
                break;
            case PanelRequest::Kind::Command:
                m_queue.push_back(parsePanelCommand(r.body));
                if (static_cast<int>(m_queue.size()) > m_server.m_options.maxQueued) {
                    drop(QStringLiteral("flooding: more than %1 requests waiting").arg(m_server.m_options.maxQueued));
                    return;
                }
                break;
            }
        }
        requests.clear();
    }
    serveQueue();
}

void PanelClient::onBytesWritten()
{
}

void PanelClient::answer(const QByteArray &bytes)
{
    if (m_dropped)
        return;
    m_lastAnswer = bytes;
    m_socket->write(bytes);
    if (m_socket->bytesToWrite() > m_server.m_options.maxOutput)
        drop(QStringLiteral("not reading its answers (%1 bytes unsent)").arg(m_socket->bytesToWrite()));
}

void PanelClient::beginWait()
{
    m_waiting = true;
    ++m_waitToken;
    m_waitDeadline = m_hub.clock().nowMs() + m_server.m_options.answerDeadlineMs;
}

void PanelClient::endWait()
{
    m_waiting = false;
    ++m_waitToken;
}

void PanelClient::housekeeping()
{
    if (m_waiting && m_hub.clock().nowMs() > m_waitDeadline) {
        // The panel has given up on this answer by now; an answer after its
        // time-out would be taken for the answer to its next question.
        endWait();
        serveQueue();
    }
}

void PanelClient::serveQueue()
{
    while (!m_dropped && !m_waiting && !m_queue.empty()) {
        const PanelCommand cmd = std::move(m_queue.front());
        m_queue.pop_front();
        serve(cmd);
    }
    // What was answered goes out now, in one write and as far as the socket
    // takes it without blocking, rather than at the event loop's next turn.
    if (!m_dropped && m_socket->bytesToWrite() > 0)
        m_socket->flush();
}

XelEmulator &PanelClient::configAnswers()
{
    // The configuration queries are answered from the hub's configuration by
    // the emulator's own answer code, one instance per client so that each
    // client's "KQ" continuations run through its own query.
    if (!m_config)
        m_config = std::make_unique<XelEmulator>(m_hub.state().model());
    return *m_config;
}

void PanelClient::serve(const PanelCommand &cmd)
{
    using Kind = PanelCommand::Kind;
    if (cmd.kind == Kind::Repeat) {
        answer(m_lastAnswer.isEmpty() ? QByteArray("E\r\n") : m_lastAnswer);
        return;
    }
    if (cmd.kind == Kind::BadAddress)
        return;
    // Which controller: the address given, else address 0 or the only one.
    // "KQ" carries none and belongs to the query it continues.
    const ControllerInfo *info = nullptr;
    if (cmd.kind == Kind::QueryNext)
        info = m_hub.state().controller(m_queryAddress);
    else
        info = cmd.hasAddress ? m_hub.state().controller(cmd.address) : m_hub.state().defaultController();
    if (!info)
        return; // no controller at that address: silence, as on the wire
    const int16_t address = info->address;
    HubLine *line = m_hub.lineFor(address);
    if (!line)
        return;
    // An offline controller does not answer, through the hub or not: the
    // panel counts its silence into its own offline state. A take or lock
    // change still goes to the line, which journals it as failed and says
    // nothing back, so it is never lost without a trace.
    const bool takeOrLock = cmd.kind == Kind::Take || cmd.kind == Kind::LockToggle;
    if (!line->online() && !takeOrLock)
        return;

    const QPointer<PanelClient> self(this);
    switch (cmd.kind) {
    case Kind::Status: {
        if (cmd.output > info->outputs) {
            answer(QByteArray("E\r\n"));
            return;
        }
        line->watch(address, cmd.output);
        const int output = cmd.output;
        if (line->statusFresh(address, output, m_hub.freshness().statusStaleMs)) {
            answer(statusAnswer(output, *m_hub.state().status(address, output)));
            return;
        }
        beginWait();
        const uint64_t token = m_waitToken;
        line->requestStatus(address, output, [self, token, address, output](bool answered) {
            if (!self || self->m_waitToken != token)
                return;
            const OutputStatus *s = self->m_hub.state().status(address, output);
            if (answered && s && s->known())
                self->answer(statusAnswer(output, *s));
            self->endWait();
            self->serveQueue();
        });
        return;
    }
    case Kind::Locks: {
        if (line->locksFresh(address, m_hub.freshness().locksStaleMs)) {
            answer(locksAnswer(*m_hub.state().locks(address)));
            return;
        }
        beginWait();
        const uint64_t token = m_waitToken;
        line->requestLocks(address, [self, token, address](bool answered) {
            if (!self || self->m_waitToken != token)
                return;
            if (answered)
                self->answer(locksAnswer(*self->m_hub.state().locks(address)));
            self->endWait();
            self->serveQueue();
        });
        return;
    }
    case Kind::Take:
    case Kind::LockToggle: {
        beginWait();
        const uint64_t token = m_waitToken;
        auto done = [self, token](const JournalEntry &entry) {
            if (!self || self->m_waitToken != token)
                return;
            // The controller's own answer; nothing when it gave none.
            if (!entry.reply.isEmpty())
                self->answer(relayAnswer(entry.reply));
            self->endWait();
            self->serveQueue();
        };
        if (cmd.kind == Kind::Take)
            line->submitTake(TakeRequest { address, cmd.output, cmd.inputs }, origin(), done);
        else
            line->submitLockToggle(address, cmd.output, origin(), done);
        return;
    }
    case Kind::Identity:
    case Kind::Query:
    case Kind::QueryNext: {
        if (cmd.kind == Kind::Query)
            m_queryAddress = address;
        // The emulator reads the request as it arrives on a line: with its
        // address prefix and checksum.
        const QString prefix = address == 0 ? QString() : QString::number(address);
        const QString body = (cmd.kind == Kind::QueryNext ? QString() : prefix) + cmd.text;
        const EmuReply r = configAnswers().handleLine((body + HublinkChecksumChars(body)).toLatin1());
        if (!r.bytes.isEmpty())
            answer(r.bytes);
        return;
    }
    case Kind::Unknown:
    case Kind::Malformed:
        answer(QByteArray("E\r\n"));
        return;
    case Kind::Repeat:
    case Kind::BadAddress:
        return;
    }
}

} // namespace exel::hub
