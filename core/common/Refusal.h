#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace vantero {

// The one shape of an expected refusal: a wrong address, a page of another seller, a full disk.
// The caller gets either the value or the sentence the user reads (Chinese, the technical text
// in brackets after it). Faults nobody expects stay exceptions (TDatabaseError).
struct TRefusal {
    QString text;
};

template <typename T> class TRefusable {
public:
    TRefusable(T value) : m_value(std::move(value)) {}
    TRefusable(TRefusal refusal) : m_refusal(std::move(refusal.text)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const T* operator->() const { return &*m_value; }
    // Empty when the value is there.
    const QString& refusal() const { return m_refusal; }

private:
    std::optional<T> m_value;
    QString m_refusal;
};

// For an operation that has no value to give back.
using TRefusableVoid = TRefusable<std::monostate>;

} // namespace vantero
