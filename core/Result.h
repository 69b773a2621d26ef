#pragma once

#include "core/Error.h"

#include <optional>
#include <stdexcept>
#include <utility>
#include <variant>

namespace vantrel {

/** Either a value or the Error that prevented it. Accessing the side that is not there is a programming error. */
template <class T>
class Result {
public:
    Result(T value)
        : m_state(std::move(value))
    {
    }
    Result(Error error)
        : m_state(std::move(error))
    {
    }

    bool ok() const noexcept { return m_state.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    const T& value() const& { return checkedValue(*this); }
    T& value() & { return checkedValue(*this); }
    T&& value() && { return std::move(checkedValue(*this)); }

    const Error& error() const
    {
        if (ok()) {
            throw std::logic_error("Result::error() on a success");
        }
        return std::get<1>(m_state);
    }

private:
    template <class Self>
    static auto& checkedValue(Self& self)
    {
        if (!self.ok()) {
            throw std::logic_error("Result::value() on a failure: " + std::get<1>(self.m_state).text());
        }
        return std::get<0>(self.m_state);
    }

    std::variant<T, Error> m_state;
};

/** Success, or the Error of a failed action. */
template <>
class Result<void> {
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error))
    {
    }

    bool ok() const noexcept { return !m_error; }
    explicit operator bool() const noexcept { return ok(); }

    const Error& error() const
    {
        if (!m_error) {
            throw std::logic_error("Result::error() on a success");
        }
        return *m_error;
    }

private:
    std::optional<Error> m_error;
};

} // namespace vantrel
