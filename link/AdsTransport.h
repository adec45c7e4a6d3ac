// What the exchange needs of a line, whatever carries it: send a frame, hand
// over what arrived, wait for more, drain what is stale, close. Frames are
// the same bytes on every line.
//
// A send never blocks: the kernel takes what fits, the rest stays unsent and
// goes while the exchange waits, as the line takes it (a wait asks for room
// to write as well as for bytes to read, but only while bytes are unsent, so
// it never spins).
#ifndef ADSTRANSPORT_H
#define ADSTRANSPORT_H

#include <QByteArray>
#include <QObject>
#include <QPointer>

class AdsExchange;
class QSocketNotifier;

class AdsTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isOpen() const = 0;
    // Hands `frame` to the kernel as far as it takes it now, behind anything
    // still unsent.
    void send(const QByteArray &frame);
    // Bytes sent but not yet taken by the kernel.
    qint64 unsent() const { return m_unsent.size() - m_unsentAt; }
    // Hands over more of them, as far as the kernel takes them now. A line
    // that fails on the way is closed and reported lost.
    void writeMore();
    // While on, the thread's event loop hands unsent bytes over as the line
    // takes them, and allSent() follows the last of them.
    void notifyWritable(bool on);

    // Moves the bytes the line has ready into `exchange`; false when none were.
    virtual bool deliverTo(AdsExchange &exchange) = 0;
    // Blocks up to `ms`, without running the event loop, until bytes are
    // ready (bytesReady() is emitted from inside) or, while bytes are
    // unsent, until the line takes more (they go from inside).
    void waitForBytes(int ms);
    // Everything the line holds now, in the buffers and in the kernel, taken
    // without blocking: stale before a request.
    virtual void drainTo(AdsExchange &exchange) = 0;
    // Closes on the host's request, at once: it never waits for the peer,
    // which may be frozen. No loss is reported; unsent bytes are dropped.
    virtual void close() = 0;

signals:
    // Bytes are ready for deliverTo().
    void bytesReady();
    // The line went without being asked to.
    void lost();
    // Every byte sent has been handed over (while notifyWritable is on).
    void allSent();

protected:
    // The descriptor to wait on; below 0 when there is none (yet).
    virtual int descriptor() const = 0;
    // Bytes the device itself holds for reading: they are ready at once.
    virtual qint64 bufferedForReading() const = 0;
    // Writes without blocking: the bytes taken, 0 when none fit now, -1
    // when the line failed.
    virtual qint64 writeSome(const char *data, qint64 size) = 0;
    // The line failed while sending: close it and report it lost.
    virtual void sendFailed() = 0;
    // Waits, if the line needs it, before a frame goes out.
    virtual void beforeSend() { }
    void dropUnsent();

private:
    void onWritable();

    QByteArray m_unsent; // the frames, or their tails, the kernel has not taken
    qint64 m_unsentAt = 0;
    QPointer<QSocketNotifier> m_writable;
};

#endif // ADSTRANSPORT_H
