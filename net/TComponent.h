#pragma once

#include <exception>
#include <functional>

// Base of the non-visual components. It records the owner and the two state
// flags the components look at:
//   designing  - the component lives in a form designer: it opens no socket
//                and holds no receive buffer. It is inherited from the owner,
//                so a designer marks its root and everything made under it
//                follows.
//   destroying - the destructor has begun; components then fire no more
//                events.
// Lifetime follows C++ ownership: an owner holds what it owns as members or
// unique_ptrs and so destroys it with itself. The owner pointer is kept for
// the designing state and for callers that walk up the tree.
class TComponent {
public:
    explicit TComponent(TComponent* owner)
        : m_owner(owner), m_designing(owner != nullptr && owner->Designing()) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return m_owner; }
    bool Designing() const { return m_designing; }
    bool IsDestroying() const { return m_destroying; }

    // Only for a designer's root component, before anything is made under it.
    void SetDesigning(bool designing) { m_designing = designing; }

protected:
    // Marks the component as being destroyed. A destructor calls this first.
    void Destroying() { m_destroying = true; }

private:
    TComponent* m_owner { nullptr };
    bool m_designing { false };
    bool m_destroying { false };
};

// An event of a component: a call of some object's method with the component
// that fires it. An empty function is an unassigned event and is skipped.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

// The application's central exception handler, for errors raised where no
// caller can catch them (a timer tick). The application installs its own at
// start-up (showing the error box); until then the message goes to standard
// error. HandleComponentException never throws.
using TExceptionHandler = std::function<void(std::exception_ptr)>;
void SetComponentExceptionHandler(TExceptionHandler handler);
void HandleComponentException(const std::exception_ptr& error) noexcept;
