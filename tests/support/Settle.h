#pragma once

#include "platform/Error.h"

#include <QCoroTask>
#include <QString>
#include <exception>
#include <optional>
#include <variant>

// The outcome of a task run to its end from a test: its value or what it threw.
// (QCoro::waitFor never returns when the awaited task throws, so tests go through here.)
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
template <typename T> QCoro::Task<Settled<T>> settleTask(QCoro::Task<T> task) {
    Settled<T> settled;
    try {
        settled.value = co_await std::move(task);
    } catch (...) {
        settled.error = std::current_exception();
    }
    co_return settled;
}

inline QCoro::Task<Settled<std::monostate>> settleVoid(QCoro::Task<> task) {
    Settled<std::monostate> settled;
    try {
        co_await std::move(task);
        settled.value = std::monostate{};
    } catch (...) {
        settled.error = std::current_exception();
    }
    co_return settled;
}
} // namespace detail

template <typename T> Settled<T> settle(QCoro::Task<T> task) {
    return QCoro::waitFor(detail::settleTask(std::move(task)));
}

inline Settled<std::monostate> settle(QCoro::Task<> task) {
    return QCoro::waitFor(detail::settleVoid(std::move(task)));
}
