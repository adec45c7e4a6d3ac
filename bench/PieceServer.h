// A controller stand-in that answers every request with its reply cut into
// pieces and a pause between them, as a slow or busy network delivers it.
// It shows what a reply in pieces costs a client beyond the pieces' arrival.
//
// Plain sockets on its own thread; all its memory is taken in start(), so it
// allocates nothing while a measured call runs.
#ifndef PIECESERVER_H
#define PIECESERVER_H

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

class PieceServer
{
public:
    PieceServer() = default;
    ~PieceServer();
    PieceServer(const PieceServer &) = delete;
    PieceServer &operator=(const PieceServer &) = delete;

    // Listens on 127.0.0.1, a free port. Each reply goes out as the pieces
    // that end at `cuts` (byte positions, ascending), `pauseUs` apart.
    bool start(const std::vector<std::size_t> &cuts, int pauseUs);
    std::uint16_t port() const { return m_port; }
    // Ends the thread and closes every socket; safe to call twice.
    void stop();

    std::uint64_t served() const { return m_served.load(); }
    // Reads answer zeroes of the length asked, up to this many bytes.
    static const std::size_t kMaxData = 65536;

private:
    struct Peer {
        int fd = -1;
        std::size_t held = 0;
    };
    void run();
    bool serveOne(Peer &peer);
    void answer(int fd, const char *request);
    void drop(Peer &peer);

    std::vector<std::size_t> m_cuts;
    int m_pauseUs = 0;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::vector<Peer> m_peers;
    std::vector<char> m_inbox; // one request per peer
    std::vector<char> m_reply;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_served{0};
    std::thread m_thread;
};

#endif // PIECESERVER_H
