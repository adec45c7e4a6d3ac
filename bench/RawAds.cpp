#include "bench/RawAds.h"

#include "link/WireBytes.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

namespace RawAds {

using namespace WireBytes;
using L = AdsLayout;

namespace {
// The driver's own address as it puts it in every request.
const std::uint8_t kSourceNetId[L::NetIdSize] = {0xc0, 0xa8, 0x0a, 0x64, 0x01, 0x01};
const std::uint16_t kSourcePort = 32957;
// A peer silent this long has failed; the measurement stops instead of hanging.
const int kTimeoutSeconds = 5;
// A terminal that keeps saying "readable" and then gives nothing has failed.
const int kEmptyReads = 100;

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, kTimeoutSeconds * 1000);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (p.revents & POLLIN);
}

void header(char *h, const NetId &target, std::uint16_t amsPort, std::uint16_t command,
            std::uint32_t invokeId, std::uint32_t dataLength)
{
    putLe16(h, 0);
    putLe32(h + L::OffTcpLength, L::AmsHeaderSize + dataLength);
    std::memcpy(h + L::OffTargetNetId, target.b, L::NetIdSize);
    putLe16(h + L::OffTargetPort, amsPort);
    std::memcpy(h + L::OffSourceNetId, kSourceNetId, L::NetIdSize);
    putLe16(h + L::OffSourcePort, kSourcePort);
    putLe16(h + L::OffCommand, command);
    putLe16(h + L::OffStateFlags, L::StateAdsCommand);
    putLe32(h + L::OffAmsLength, dataLength);
    putLe32(h + L::OffErrorCode, 0);
    putLe32(h + L::OffInvokeId, invokeId);
}

// Blocking reads and writes; the descriptor's own time-out (set when it was
// opened) ends a wait on a silent peer. A terminal read may answer nothing
// at once: `waitFirst` polls for bytes before each read.
bool readFully(int fd, char *at, std::size_t n, bool waitFirst)
{
    int empty = 0;
    while (n > 0) {
        if (waitFirst && !readable(fd))
            return false;
        const ssize_t got = ::read(fd, at, n);
        if (got > 0) {
            at += got;
            n -= std::size_t(got);
        } else if (got == 0 && waitFirst && ++empty < kEmptyReads) {
            continue; // the poll saw bytes another reader took first
        } else if (got == 0 || errno != EINTR) {
            return false; // closed, timed out, or failed
        }
    }
    return true;
}

bool writeFully(int fd, const char *at, std::size_t n)
{
    while (n > 0) {
        const ssize_t put = ::write(fd, at, n);
        if (put > 0) {
            at += put;
            n -= std::size_t(put);
        } else if (put == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}
} // namespace

std::vector<char> readRequest(const NetId &target, std::uint16_t amsPort, std::uint32_t invokeId,
                              std::uint32_t group, std::uint32_t offset, std::uint32_t length)
{
    std::vector<char> f(L::ReadRequestSize);
    header(f.data(), target, amsPort, L::CmdRead, invokeId, L::ReadRequestSize - L::HeaderSize);
    putLe32(f.data() + L::OffIndexGroup, group);
    putLe32(f.data() + L::OffIndexOffset, offset);
    putLe32(f.data() + L::OffRequestLength, length);
    return f;
}

std::vector<char> writeRequest(const NetId &target, std::uint16_t amsPort, std::uint32_t invokeId,
                               std::uint32_t group, std::uint32_t offset, const char *data,
                               std::uint32_t length)
{
    std::vector<char> f(L::ReadRequestSize + length);
    header(f.data(), target, amsPort, L::CmdWrite, invokeId, L::ReadRequestSize - L::HeaderSize + length);
    putLe32(f.data() + L::OffIndexGroup, group);
    putLe32(f.data() + L::OffIndexOffset, offset);
    putLe32(f.data() + L::OffRequestLength, length);
    if (length > 0)
        std::memcpy(f.data() + L::ReadRequestSize, data, length);
    return f;
}

std::vector<char> readWriteRequest(const NetId &target, std::uint16_t amsPort, std::uint32_t invokeId,
                                   std::uint32_t group, std::uint32_t offset, std::uint32_t readLength,
                                   const char *data, std::uint32_t writeLength)
{
    std::vector<char> f(L::ReadWriteRequestSize + writeLength);
    header(f.data(), target, amsPort, L::CmdReadWrite, invokeId,
           L::ReadWriteRequestSize - L::HeaderSize + writeLength);
    putLe32(f.data() + L::OffIndexGroup, group);
    putLe32(f.data() + L::OffIndexOffset, offset);
    putLe32(f.data() + L::OffRequestLength, readLength);
    putLe32(f.data() + L::OffWriteLength, writeLength);
    if (writeLength > 0)
        std::memcpy(f.data() + L::ReadWriteRequestSize, data, writeLength);
    return f;
}

void setInvokeId(std::vector<char> &frame, std::uint32_t invokeId)
{
    if (frame.size() >= L::HeaderSize)
        putLe32(frame.data() + L::OffInvokeId, invokeId);
}

int connectTcp(const char *ipv4, std::uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, ipv4, &to.sin_addr) != 1)
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit{kTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return fd;
}

int openSerial(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        // A read returns what came, or 0 after the time-out (in tenths of a second).
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = cc_t(kTimeoutSeconds * 10);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

void closeFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

namespace {
long exchangeOn(int fd, const std::vector<char> &request, std::vector<char> &reply, bool terminal,
                std::chrono::steady_clock::time_point *firstByte)
{
    if (fd < 0 || !writeFully(fd, request.data(), request.size()))
        return -1;
    if (reply.size() < L::HeaderSize)
        reply.resize(L::HeaderSize);
    if (!readFully(fd, reply.data(), L::TcpHeaderSize, terminal))
        return -1;
    if (firstByte)
        *firstByte = std::chrono::steady_clock::now();
    const std::size_t whole = L::TcpHeaderSize + le32(reply.data() + L::OffTcpLength);
    if (reply.size() < whole)
        reply.resize(whole);
    if (!readFully(fd, reply.data() + L::TcpHeaderSize, whole - L::TcpHeaderSize, terminal))
        return -1;
    return long(whole);
}
} // namespace

long exchange(int fd, const std::vector<char> &request, std::vector<char> &reply,
              std::chrono::steady_clock::time_point *firstByte)
{
    return exchangeOn(fd, request, reply, false, firstByte);
}

long exchangeOnTerminal(int fd, const std::vector<char> &request, std::vector<char> &reply)
{
    return exchangeOn(fd, request, reply, true, nullptr);
}

} // namespace RawAds
