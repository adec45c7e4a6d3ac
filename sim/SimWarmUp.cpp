#include "sim/SimWarmUp.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const int kDeadlineMs = 2000;

// A descriptor closed when it goes out of scope.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) { }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool nonBlocking(int fd)
{
    return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}
} // namespace

bool SimWarmUp::run(QByteArray *buffer, int bytes)
{
    buffer->reserve(bytes);
    buffer->resize(bytes);
    memset(buffer->data(), 0, size_t(bytes));
    const bool sent = loopback(*buffer);
    buffer->resize(0); // the capacity stays: reserve() asked for it
    return sent;
}

bool SimWarmUp::loopback(const QByteArray &bytes)
{
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener.get() < 0 || ::bind(listener.get(), reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(listener.get(), 1) != 0
        || ::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return false;
    Fd receiver(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    // A connect to a listening loopback socket completes at once, from the backlog.
    if (receiver.get() < 0 || ::connect(receiver.get(), reinterpret_cast<sockaddr *>(&address), length) != 0)
        return false;
    Fd sender(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (sender.get() < 0 || !nonBlocking(sender.get()) || !nonBlocking(receiver.get()))
        return false;
    return pump(sender.get(), receiver.get(), bytes);
}

// Sends all of `bytes` and reads them back, waiting for either side as
// needed, for at most kDeadlineMs.
bool SimWarmUp::pump(int sender, int receiver, const QByteArray &bytes)
{
    char sink[65536];
    qint64 sent = 0;
    qint64 received = 0;
    QDeadlineTimer deadline(kDeadlineMs);
    while (received < bytes.size()) {
        if (sent < bytes.size()) {
            const ssize_t n =
                ::send(sender, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
        }
        const ssize_t n = ::recv(receiver, sink, sizeof sink, 0);
        if (n > 0) {
            received += n;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        pollfd wait[2] = {{receiver, POLLIN, 0}, {sender, short(sent < bytes.size() ? POLLOUT : 0), 0}};
        if (deadline.hasExpired() || ::poll(wait, 2, int(qMax<qint64>(1, deadline.remainingTime()))) < 0)
            return false;
    }
    return true;
}
