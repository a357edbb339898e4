#pragma once

#include "platform/Error.h"

#include <QCoroTask>
#include <QString>
#include <exception>
#include <optional>
#include <type_traits>
#include <variant>

// A task run to its end: its value or what it threw (QCoro::waitFor hangs on a throw).
template <typename T> struct Settled {
    std::optional<T> value;
    std::exception_ptr error;

    bool ok() const { return !error; }
    // The thrown error as `E`, or null.
    template <typename E> const E *as() const {
        if (!error)
            return nullptr;
        try {
            std::rethrow_exception(error);
        } catch (const E &e) {
            return &e;
        } catch (...) {
        }
        return nullptr;
    }
    QString description() const {
        if (const Error *e = as<Error>())
            return e->description();
        return error ? QStringLiteral("<not an Error>") : QString();
    }
};

namespace detail {
template <typename T, typename V> QCoro::Task<Settled<V>> settleTask(QCoro::Task<T> task) {
    Settled<V> settled;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            settled.value = V{};
        } else {
            settled.value = co_await std::move(task);
        }
    } catch (...) {
        settled.error = std::current_exception();
    }
    co_return settled;
}
} // namespace detail

// A task without a value settles to std::monostate.
template <typename T, typename V = std::conditional_t<std::is_void_v<T>, std::monostate, T>>
Settled<V> settle(QCoro::Task<T> task) {
    return QCoro::waitFor(detail::settleTask<T, V>(std::move(task)));
}
