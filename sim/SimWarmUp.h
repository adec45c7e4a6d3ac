// Takes a fresh process's first-time costs of a large reply before the
// first request comes. On a virtual machine the first touch of memory the
// process never used costs about 12 us a page (2 to 3 ms for 800 KB), and
// so does the kernel's first large send on a thread: a client timing its
// first large read would time that, not itself.
#ifndef SIMWARMUP_H
#define SIMWARMUP_H

#include <QByteArray>

class SimWarmUp
{
public:
    // Reserves and touches `bytes` of `buffer`, left empty with that
    // capacity, then sends them once through a loopback connection of its
    // own on the calling thread (the thread that will send the replies).
    // False when the loopback could not be set up or did not finish; the
    // buffer is touched either way.
    static bool run(QByteArray *buffer, int bytes);

private:
    static bool loopback(const QByteArray &bytes);
    static bool pump(int sender, int receiver, const QByteArray &bytes);
};

#endif // SIMWARMUP_H
