#include "ReplyFramer.h"

#include "AdsFrame.h"
#include "WireBytes.h"

void ReplyFramer::reset()
{
    m_largestReply = 0;
    m_skip = 0;
    m_frameSize = 0;
    m_strangers = 0;
}

void ReplyFramer::beginExchange(quint16 invokeId, qint64 maxReply)
{
    m_invokeId = invokeId;
    m_maxReply = maxReply;
    m_largestReply = qMax(m_largestReply, maxReply);
    m_frameSize = 0;
    m_strangers = 0;
}

bool ReplyFramer::skipPending(QByteArray &buffer)
{
    if (m_skip == 0)
        return false;
    const qint64 dropped = qMin<qint64>(m_skip, buffer.size());
    buffer.remove(0, int(dropped));
    m_skip -= dropped;
    return m_skip > 0;
}

qint64 ReplyFramer::announcedSize(const QByteArray &buffer) const
{
    return AdsFrame::TcpHeaderSize + qint64(WireBytes::le32(buffer.constData() + AdsFrame::OffTcpLength));
}

ReplyFramer::State ReplyFramer::scan(QByteArray &buffer, const StrangerSink &sink)
{
    auto skipStranger = [&](qint64 announced, StrangerKind kind) {
        ++m_strangers;
        if (sink)
            sink(buffer.left(int(qMin<qint64>(announced, buffer.size()))), kind);
        m_skip = announced;
    };
    for (;;) {
        if (skipPending(buffer) || buffer.size() < AdsFrame::TcpHeaderSize)
            return NeedMore;
        const qint64 announced = announcedSize(buffer);
        if (announced < AdsFrame::HeaderSize) {
            if (buffer.size() < announced)
                return NeedMore;
            skipStranger(announced, TooShortForId);
            continue;
        }
        if (buffer.size() < AdsFrame::HeaderSize)
            return NeedMore;
        const quint16 id = WireBytes::le16(buffer.constData() + AdsFrame::OffInvokeId);
        if (id != m_invokeId) {
            if (announced > m_largestReply) {
                skipStranger(qMin<qint64>(buffer.size(), m_maxReply), Noise);
                m_skip = 0;
                buffer.resize(0); // keeps a reserved capacity
                return NeedMore;
            }
            skipStranger(announced, OtherInvokeId);
            continue;
        }
        if (announced > m_maxReply) {
            m_frameSize = qMin<qint64>(announced, buffer.size());
            return Oversized;
        }
        if (buffer.size() < announced)
            return NeedMore;
        m_frameSize = announced;
        return FrameReady;
    }
}

void ReplyFramer::discardStale(QByteArray &buffer)
{
    while (!skipPending(buffer) && buffer.size() >= AdsFrame::TcpHeaderSize) {
        const qint64 announced = announcedSize(buffer);
        if (announced > qMax<qint64>(m_largestReply, AdsFrame::HeaderSize)) {
            buffer.resize(0);
            return;
        }
        m_skip = announced;
    }
    // A piece too short to tell its length is dropped with the rest.
    buffer.resize(0);
}
