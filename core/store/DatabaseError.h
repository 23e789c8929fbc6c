#pragma once

#include <QString>

#include <stdexcept>

namespace vantero {

// Raised by the store for every failed statement; carries the engine's text.
class TDatabaseError : public std::runtime_error {
public:
    explicit TDatabaseError(const QString& text) : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

private:
    QString m_text;
};

} // namespace vantero
