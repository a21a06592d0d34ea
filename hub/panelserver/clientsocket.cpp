// Client sockets of the hub's servers.
#include "clientsocket.h"

#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace exel::hub {

void tuneClientSocket(QTcpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const int fd = static_cast<int>(socket->socketDescriptor());
    if (fd < 0)
        return;
    const int idle = 30;
    const int interval = 10;
    const int count = 3;
    const unsigned int userTimeout = 30000;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

QString peerText(const QHostAddress &address, quint16 port)
{
    QHostAddress a = address;
    bool isV4 = false;
    const quint32 v4 = a.toIPv4Address(&isV4);
    if (isV4)
        a = QHostAddress(v4);
    return a.toString() + QLatin1Char(':') + QString::number(port);
}

QString peerText(const QTcpSocket *socket)
{
    return peerText(socket->peerAddress(), socket->peerPort());
}

} // namespace exel::hub
