// What the exchange needs of a line, whatever carries it: send a frame, hand
// over what arrived, wait for more, drain what is stale, close. Frames are
// the same bytes on every line.
#ifndef ADSTRANSPORT_H
#define ADSTRANSPORT_H

#include <QByteArray>
#include <QObject>

class AdsExchange;

class AdsTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isOpen() const = 0;
    virtual void send(const QByteArray &frame) = 0;
    // Moves the bytes the line has ready into `exchange`; false when none were.
    virtual bool deliverTo(AdsExchange &exchange) = 0;
    // Blocks up to `ms`, without running the event loop, until bytes are
    // ready; bytesReady() is emitted from inside when they are.
    virtual void waitForBytes(int ms) = 0;
    // Everything the line holds now, in the buffers and in the kernel, taken
    // without blocking: stale before a request.
    virtual void drainTo(AdsExchange &exchange) = 0;
    // Closes on the host's request: no loss is reported.
    virtual void close() = 0;

signals:
    // Bytes are ready for deliverTo().
    void bytesReady();
    // The line went without being asked to.
    void lost();
};

#endif // ADSTRANSPORT_H
