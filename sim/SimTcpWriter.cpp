#include "sim/SimTcpWriter.h"

#include <QTcpSocket>

#include <cerrno>
#include <sys/socket.h>

qint64 SimTcpWriter::sendNow(qintptr descriptor, const QByteArray &bytes)
{
    qint64 sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(int(descriptor), bytes.constData() + sent, size_t(bytes.size() - sent),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        break;
    }
    return sent;
}

void SimTcpWriter::write(QTcpSocket *socket, const QByteArray &bytes)
{
    // Bytes in Qt's buffer go first: a reply must not overtake them.
    if (socket->bytesToWrite() > 0 || socket->state() != QAbstractSocket::ConnectedState) {
        socket->write(bytes);
        return;
    }
    const qint64 sent = sendNow(socket->socketDescriptor(), bytes);
    if (sent < 0)
        socket->write(bytes); // Qt meets the same error and reports the connection gone
    else if (sent < bytes.size())
        socket->write(bytes.constData() + sent, bytes.size() - sent);
}
