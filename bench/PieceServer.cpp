#include "bench/PieceServer.h"

#include "link/WireBytes.h"

#include "bench/RawAds.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {
const int kMaxPeers = 4;
// Requests larger than a read request with its header are not served here.
const std::size_t kMaxRequest = 64 + PieceServer::kMaxData;
const int kPollMs = 50;
// However it is driven, the thread ends on its own after this long.
const auto kLifetime = std::chrono::minutes(10);

void pause(int us)
{
    timespec t{us / 1000000, long(us % 1000000) * 1000};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) { }
}

bool sendAll(int fd, const char *at, std::size_t n)
{
    while (n > 0) {
        const ssize_t put = ::send(fd, at, n, MSG_NOSIGNAL);
        if (put > 0) {
            at += put;
            n -= std::size_t(put);
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}
} // namespace

PieceServer::~PieceServer()
{
    stop();
}

bool PieceServer::start(const std::vector<std::size_t> &cuts, int pauseUs)
{
    if (m_thread.joinable())
        return false;
    m_cuts = cuts;
    m_pauseUs = pauseUs;
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return false;
    const int on = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = 0;
    socklen_t len = sizeof at;
    if (::bind(m_listen, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0
        || ::listen(m_listen, kMaxPeers) != 0
        || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&at), &len) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return false;
    }
    m_port = ntohs(at.sin_port);
    m_peers.assign(kMaxPeers, Peer());
    m_inbox.assign(std::size_t(kMaxPeers) * kMaxRequest, 0);
    m_reply.assign(AdsLayout::ReadReplyHeaderSize + kMaxData, 0);
    m_stop = false;
    m_thread = std::thread([this]() { run(); });
    return true;
}

void PieceServer::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (Peer &p : m_peers)
        drop(p);
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
}

void PieceServer::drop(Peer &peer)
{
    if (peer.fd >= 0)
        ::close(peer.fd);
    peer.fd = -1;
    peer.held = 0;
}

void PieceServer::run()
{
    const auto end = std::chrono::steady_clock::now() + kLifetime;
    pollfd fds[kMaxPeers + 1];
    while (!m_stop && std::chrono::steady_clock::now() < end) {
        fds[0] = {m_listen, POLLIN, 0};
        for (int i = 0; i < kMaxPeers; ++i)
            fds[i + 1] = {m_peers[std::size_t(i)].fd, POLLIN, 0};
        const int n = ::poll(fds, kMaxPeers + 1, kPollMs);
        if (n <= 0)
            continue;
        for (int i = 0; i < kMaxPeers; ++i) {
            Peer &peer = m_peers[std::size_t(i)];
            if (peer.fd >= 0 && (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) && !serveOne(peer))
                drop(peer);
        }
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            Peer *slot = nullptr;
            for (Peer &p : m_peers)
                if (!slot && p.fd < 0)
                    slot = &p;
            if (slot)
                slot->fd = fd;
            else
                ::close(fd);
        }
    }
}

// Takes what the peer sent; answers each whole request. False: drop the peer.
bool PieceServer::serveOne(Peer &peer)
{
    char *inbox = m_inbox.data() + std::size_t(&peer - m_peers.data()) * kMaxRequest;
    const ssize_t got = ::recv(peer.fd, inbox + peer.held, kMaxRequest - peer.held, 0);
    if (got <= 0)
        return got < 0 && errno == EINTR;
    peer.held += std::size_t(got);
    while (peer.held >= AdsLayout::TcpHeaderSize) {
        const std::size_t whole = AdsLayout::TcpHeaderSize + WireBytes::le32(inbox + AdsLayout::OffTcpLength);
        if (whole < AdsLayout::HeaderSize || whole > kMaxRequest)
            return false;
        if (peer.held < whole)
            break;
        answer(peer.fd, inbox);
        std::memmove(inbox, inbox + whole, peer.held - whole);
        peer.held -= whole;
    }
    return true;
}

void PieceServer::answer(int fd, const char *q)
{
    using namespace WireBytes;
    using L = AdsLayout;
    const std::uint16_t command = le16(q + L::OffCommand);
    std::size_t data = 4; // the result; a read adds its length and bytes
    if (command == L::CmdRead) {
        std::uint32_t length = le32(q + L::OffRequestLength);
        if (length > kMaxData)
            length = kMaxData;
        data = 8 + length;
    }
    char *p = m_reply.data();
    std::memset(p, 0, L::HeaderSize + data);
    putLe32(p + L::OffTcpLength, std::uint32_t(L::AmsHeaderSize + data));
    std::memcpy(p + L::OffTargetNetId, q + L::OffSourceNetId, 8); // back to the requester
    std::memcpy(p + L::OffSourceNetId, q + L::OffTargetNetId, 8);
    std::memcpy(p + L::OffCommand, q + L::OffCommand, 2);
    putLe16(p + L::OffStateFlags, L::StateAdsCommand | L::StateResponse);
    putLe32(p + L::OffAmsLength, std::uint32_t(data));
    std::memcpy(p + L::OffInvokeId, q + L::OffInvokeId, 4);
    if (command == L::CmdRead)
        putLe32(p + L::OffReadLength, std::uint32_t(data - 8));
    const std::size_t size = L::HeaderSize + data;

    std::size_t from = 0;
    for (std::size_t cut : m_cuts) {
        if (cut <= from || cut >= size)
            continue;
        if (!sendAll(fd, p + from, cut - from))
            return;
        from = cut;
        pause(m_pauseUs);
    }
    ++m_served; // before the last piece: a client that has the reply sees the count
    sendAll(fd, p + from, size - from);
}
