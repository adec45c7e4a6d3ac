// Nothing may throw into the host: memory running out inside an operation
// becomes the operation's failure result.
#ifndef NOTHROW_H
#define NOTHROW_H

template <typename F, typename R>
R guarded(F &&f, R onFailure)
{
    try {
        return f();
    } catch (...) {
        return onFailure;
    }
}

#endif // NOTHROW_H
