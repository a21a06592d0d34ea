// The web panel's wire readers, pure functions from bytes to requests: the
// HTTP request reader (one request at a time from the start of a
// connection's bytes, bounded head and body) and the JSON command reader
// (a WebSocket message or an API request body, checked against the router's
// configuration). Neither touches a socket or the hub.
#pragma once

#include "statandconfig.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

namespace exel::hub {

struct HttpLimits {
    int maxHead = 8192; // request line and headers
    int maxBody = 16384;
};

struct HttpRequest {
    QByteArray method; // upper case as sent
    QString path; // decoded, without the query
    std::map<QString, QString> query; // decoded
    std::map<QByteArray, QByteArray> headers; // names lower case; repeated ones joined with ", "
    QByteArray body;
    bool keepAlive = true;

    QByteArray header(const QByteArray &lowerName) const;
    // A cookie's value from the Cookie header, empty when absent.
    QString cookie(const QString &name) const;
    bool isWebSocketUpgrade() const;
};

struct HttpParse {
    enum class Status { NeedMore, Complete, Bad };
    Status status = Status::NeedMore;
    HttpRequest request;
    qsizetype consumed = 0; // bytes of the buffer the request took
    int errorCode = 0; // Bad: the status to answer (400, 413, 431, 501, 505)
    QString error;
};

// Reads the request at the start of buffer.
HttpParse parseHttpRequest(const QByteArray &buffer, const HttpLimits &limits = {});

// What a client asks of the web panel.
struct WebCommand {
    enum class Op { State, Config, Journal, Salvos, SalvoShow, Take, Lock, Salvo, Undo, Watch };
    Op op = Op::State;
    double tag = 0; // the client's "req", echoed in the reply
    bool hasTag = false;
    int destination = -1; // model index
    std::vector<int16_t> sources; // per model level: model source, -1 leave
    bool locked = false;
    bool force = false;
    QString salvo;
    int64_t id = 0; // Undo: the journal entry
    int limit = 100; // Journal: how many of the newest
    std::vector<int> destinations; // Watch

    // Whether the command changes the router (a view-only operator may not).
    bool changes() const { return op == Op::Take || op == Op::Lock || op == Op::Salvo || op == Op::Undo; }
};

bool webOpFromName(const QString &name, WebCommand::Op &op);
QString webOpName(WebCommand::Op op);

// Reads a command's fields from a JSON object for a known op (the HTTP API,
// where the path names the op).
bool parseWebRequest(WebCommand::Op op, const QJsonObject &object, const StatandConfig &model, WebCommand &command,
    QString &error);
// Reads one WebSocket message: a JSON object with "op" and the op's fields.
bool parseWebMessage(const QByteArray &message, const StatandConfig &model, WebCommand &command, QString &error,
    int maxBytes = 16384);

} // namespace exel::hub
