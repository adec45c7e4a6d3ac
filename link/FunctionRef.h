// A callable passed down a call without being copied or allocated: a
// reference to a function object that lives in the caller's frame, for as
// long as the call lasts. Reads by name go through a few layers of
// callables; std::function would allocate for most of them on every read.
#ifndef FUNCTIONREF_H
#define FUNCTIONREF_H

#include <memory>
#include <type_traits>
#include <utility>

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)>
{
public:
    template <typename F, typename = std::enable_if_t<!std::is_same<std::decay_t<F>, FunctionRef>::value>>
    FunctionRef(
        F &&f) // NOLINT(bugprone-forwarding-reference-overload): copies go through the copy constructor
        : m_object(const_cast<void *>(static_cast<const void *>(std::addressof(f)))),
          m_call([](void *object, Args... args) -> R {
              return (*static_cast<std::add_pointer_t<std::remove_reference_t<F>>>(object))(
                  std::forward<Args>(args)...);
          })
    {
    }

    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

private:
    void *m_object;
    R (*m_call)(void *, Args...);
};

#endif // FUNCTIONREF_H
