#pragma once

#include <type_traits>
#include <utility>

namespace tmb {

template <typename Signature>
class FunctionRef;

// A non-owning reference to a callable. Unlike std::function it never allocates,
// so the audio thread can hand callbacks to the sources it renders.
template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<F>, FunctionRef>>>
    FunctionRef(F&& f) noexcept // NOLINT(google-explicit-constructor): used like a function parameter
        : m_object(const_cast<void*>(static_cast<const void*>(&f)))
        , m_call([](void* object, Args... args) -> R {
            return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
        }) {}

    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

private:
    void* m_object;
    R (*m_call)(void*, Args...);
};

} // namespace tmb
