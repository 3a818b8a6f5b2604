#pragma once

#include <QString>
#include <optional>
#include <utility>

// Why a step failed; a Result is made from it.
struct Failure
{
    QString reason;
};

// What a stand-in's step gives back: its value, or the reason it failed, never both. Result<>
// carries no value: the step worked, or it says why not.
template <typename T = void> class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Failure failure) : m_reason(std::move(failure.reason)) {}

    bool Ok() const { return m_value.has_value(); }
    explicit operator bool() const { return Ok(); }
    const T& operator*() const { return *m_value; }
    const T* operator->() const { return &*m_value; }
    // Empty after a success.
    const QString& Reason() const { return m_reason; }

private:
    std::optional<T> m_value;
    QString m_reason;
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure) : m_ok(false), m_reason(std::move(failure.reason)) {}

    bool Ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const QString& Reason() const { return m_reason; }

private:
    bool m_ok = true;
    QString m_reason;
};
