#include "sim/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

int StopSignals::s_pipe[2] = {-1, -1};

StopSignals::StopSignals(QObject *parent) : QObject(parent) { }

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    struct sigaction restore = {};
    restore.sa_handler = SIG_DFL;
    sigaction(SIGINT, &restore, nullptr);
    sigaction(SIGTERM, &restore, nullptr);
    if (m_reload) {
        sigaction(SIGHUP, &restore, nullptr);
        sigaction(SIGUSR1, &restore, nullptr);
    }
    delete m_notifier; // before its descriptor closes
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
}

bool StopSignals::install(bool reload)
{
    if (m_notifier || s_pipe[0] >= 0)
        return false;
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);
    m_reload = reload;

    struct sigaction action = {};
    action.sa_handler = &StopSignals::handler;
    sigemptyset(&action.sa_mask);
    // Restart interrupted system calls: a blocking wait for a reply goes on.
    action.sa_flags = SA_RESTART;
    bool installed = sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
    if (reload)
        installed = installed && sigaction(SIGHUP, &action, nullptr) == 0
                    && sigaction(SIGUSR1, &action, nullptr) == 0;
    return installed;
}

void StopSignals::handler(int signalNumber)
{
    // Only async-signal-safe calls here.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (::write(s_pipe[1], &byte, 1) < 0) {
        // The pipe is full: a stop is already pending.
    }
    errno = saved;
}

void StopSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(s_pipe[0], &byte, 1) == 1) {
        if (byte == SIGHUP || byte == SIGUSR1)
            emit reloadRequested(int(byte));
        else
            emit stopRequested(int(byte));
    }
}
