// What every TCP server of the hub does with a client's socket: no delay
// (each answer and each change goes out at once) and keepalive with short
// probes, and the client's address as the log and the journal show it.
#pragma once

#include <QHostAddress>
#include <QString>

class QTcpSocket;

namespace exel::hub {

// Keepalive probes after 30 s of silence, every 10 s, three of them; bytes
// left unacknowledged for 30 s end the connection too. A client that was
// switched off or unplugged is noticed within about a minute.
void tuneClientSocket(QTcpSocket *socket);

// "10.1.2.3:40312" (an IPv4 client reached over an IPv6 socket shows as IPv4).
QString peerText(const QHostAddress &address, quint16 port);
QString peerText(const QTcpSocket *socket);

} // namespace exel::hub
