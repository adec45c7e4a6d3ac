// AMS/TCP frames over a serial line, with no framing of its own. Bytes are
// handed over as they come: the exchange knows from a reply's announced
// length when it is whole. The line owns the quiet gap as its turnaround: a
// request goes out only once the line has been quiet for the gap since the
// last byte received, so it cannot run into the end of a transmission.
#ifndef SERIALTRANSPORT_H
#define SERIALTRANSPORT_H

#include "link/AdsTransport.h"
#include "link/SerialLineSettings.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>

class SerialTransport : public AdsTransport
{
    Q_OBJECT
public:
    // Opens `portName` with `settings`; null when it does not open or refuses one.
    static SerialTransport *open(const QString &portName, const SerialLineSettings &settings, int gapMs,
                                 QObject *parent);
    // New settings on the open line, the old ones back if it refuses.
    bool reconfigure(const SerialLineSettings &settings, int gapMs);

    QString portName() const { return m_portName; }
    bool isOpen() const override;
    bool deliverTo(AdsExchange &exchange) override;
    void drainTo(AdsExchange &exchange) override;
    void close() override;

protected:
    int descriptor() const override { return m_port->isOpen() ? int(m_port->handle()) : -1; }
    qint64 bufferedForReading() const override { return m_port->bytesAvailable(); }
    qint64 writeSome(const char *data, qint64 size) override;
    void sendFailed() override;
    void beforeSend() override { waitOutTurnaround(); }

private:
    SerialTransport(const QString &portName, QObject *parent);
    void onError(QSerialPort::SerialPortError error);
    void waitOutTurnaround() const;
    bool deviceGone() const;
    bool readableNow() const;

    QSerialPort *m_port;
    QString m_portName;
    int m_gapMs = 2;
    QElapsedTimer m_sinceArrival; // since the last byte received
    bool m_looking = false; // the port is looking at a hang-up or an error
};

#endif // SERIALTRANSPORT_H
