// Writes replies to a TCP connection the short way: straight to the
// socket when nothing of an earlier reply waits in Qt's write buffer, and
// through that buffer only what the kernel would not take at once. Qt's
// buffer alone copies every reply and waits for a notifier's turn in the
// event loop before the first byte leaves.
#ifndef SIMTCPWRITER_H
#define SIMTCPWRITER_H

#include <QByteArray>

class QTcpSocket;

class SimTcpWriter
{
public:
    static void write(QTcpSocket *socket, const QByteArray &bytes);

private:
    // The bytes the kernel took without waiting; -1 when the socket failed.
    static qint64 sendNow(qintptr descriptor, const QByteArray &bytes);
};

#endif // SIMTCPWRITER_H
