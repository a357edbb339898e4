#pragma once

#include <coroutine>
#include <functional>
#include <gio/gio.h>
#include <memory>

// Owning handles for GLib values, and an awaitable for GLib's asynchronous calls.
namespace GLib {
struct ErrorDeleter {
    void operator()(GError *error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using Ref = std::unique_ptr<T, ObjectDeleter>;

// Awaits one asynchronous call: `start` begins it with the ready callback, and the coroutine
// resumes from that callback. GLib never calls it from inside the call that starts it, and runs
// it from the thread-default main context, which Qt's GLib event dispatcher iterates.
class AsyncCall {
public:
    explicit AsyncCall(std::function<void(GAsyncReadyCallback, gpointer)> start)
        : m_start(std::move(start)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter) {
        m_waiter = waiter;
        m_start(&AsyncCall::ready, this);
    }
    Ref<GAsyncResult> await_resume() { return std::move(m_result); }

private:
    static void ready(GObject *, GAsyncResult *result, gpointer data) {
        auto *call = static_cast<AsyncCall *>(data);
        call->m_result.reset(G_ASYNC_RESULT(g_object_ref(result)));
        call->m_waiter.resume();
    }

    std::function<void(GAsyncReadyCallback, gpointer)> m_start;
    std::coroutine_handle<> m_waiter;
    Ref<GAsyncResult> m_result;
};
} // namespace GLib
