#include "link/AdsTransport.h"

#include <QSocketNotifier>

#include <poll.h>

void AdsTransport::send(const QByteArray &frame)
{
    beforeSend();
    if (unsent() > 0) {
        m_unsent = m_unsent.mid(int(m_unsentAt)) + frame; // in order, behind what waits
        m_unsentAt = 0;
        writeMore();
        return;
    }
    // Straight from the frame: a request usually fits the kernel's buffer,
    // and then costs one call and no copy.
    const qint64 taken = writeSome(frame.constData(), frame.size());
    if (taken < 0) {
        sendFailed();
        return;
    }
    if (taken < frame.size()) {
        m_unsent = frame; // shared, not copied
        m_unsentAt = taken;
    }
}

void AdsTransport::writeMore()
{
    while (unsent() > 0) {
        const qint64 taken = writeSome(m_unsent.constData() + m_unsentAt, unsent());
        if (taken < 0) {
            dropUnsent();
            sendFailed();
            return;
        }
        if (taken == 0)
            return; // the kernel's buffer is full: more when the line takes it
        m_unsentAt += taken;
    }
    dropUnsent();
}

void AdsTransport::dropUnsent()
{
    m_unsent = QByteArray();
    m_unsentAt = 0;
    if (m_writable)
        m_writable->setEnabled(false);
}

void AdsTransport::notifyWritable(bool on)
{
    if (on && unsent() > 0 && !m_writable && descriptor() >= 0) {
        m_writable = new QSocketNotifier(descriptor(), QSocketNotifier::Write, this);
        connect(m_writable, &QSocketNotifier::activated, this, &AdsTransport::onWritable);
    }
    if (m_writable)
        m_writable->setEnabled(on && unsent() > 0);
}

void AdsTransport::onWritable()
{
    writeMore();
    if (unsent() == 0) {
        if (m_writable)
            m_writable->setEnabled(false);
        emit allSent();
    }
}

void AdsTransport::waitForBytes(int ms)
{
    const int fd = descriptor();
    if (bufferedForReading() > 0 || fd < 0) {
        emit bytesReady(); // the device looks at once
        return;
    }
    const bool writing = unsent() > 0;
    pollfd p{fd, short(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, qMax(0, ms)) <= 0)
        return;
    if (writing && (p.revents & (POLLOUT | POLLERR | POLLHUP)))
        writeMore();
    if (p.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL))
        emit bytesReady();
}
