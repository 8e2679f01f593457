#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace talverin {

// The failure half of a Result: a small error enum and, where it helps a log line, a message.
template <typename E> struct Failure {
    E error;
    std::string message;
};

template <typename E> Failure<E> fail(E error, std::string message = {}) {
    return Failure<E>{error, std::move(message)};
}

// A value or a failure. Failures cross module boundaries as values, never as exceptions.
template <typename T, typename E> class Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Failure<E> failure) : m_state(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(m_state);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(m_state);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    E error() const {
        assert(!ok());
        return std::get<1>(m_state).error;
    }
    const std::string& message() const {
        assert(!ok());
        return std::get<1>(m_state).message;
    }

private:
    std::variant<T, Failure<E>> m_state;
};

// A Result without a value: success, or a failure.
template <typename E> class Result<void, E> {
public:
    Result() = default;
    Result(Failure<E> failure) : m_failure(std::move(failure)) {}

    bool ok() const { return !m_failure.has_value(); }
    explicit operator bool() const { return ok(); }
    E error() const {
        assert(!ok());
        return m_failure->error;
    }
    const std::string& message() const {
        assert(!ok());
        return m_failure->message;
    }

private:
    std::optional<Failure<E>> m_failure;
};

} // namespace talverin
