#pragma once

#include <QString>

#include <stdexcept>

namespace vantero {

// What kind of trouble a failed statement met, where the user can act on it.
enum class TDatabaseFault { Other, DiskFull, ReadOnly, Locked, Damaged };

// Raised by the store for every failed statement; carries the text the user reads.
class TDatabaseError : public std::runtime_error {
public:
    explicit TDatabaseError(const QString& text, TDatabaseFault fault = TDatabaseFault::Other,
                            const QString& detail = {})
        : std::runtime_error(text.toStdString()), m_text(text), m_fault(fault), m_detail(detail) {}
    QString text() const { return m_text; }
    TDatabaseFault fault() const { return m_fault; }
    // The engine's or the system's own text, which text() carries in brackets; may be empty.
    QString detail() const { return m_detail; }
    // Nothing more can be written until the user frees space or changes the file's rights.
    bool cannotStore() const { return m_fault == TDatabaseFault::DiskFull || m_fault == TDatabaseFault::ReadOnly; }

private:
    QString m_text;
    TDatabaseFault m_fault;
    QString m_detail;
};

// The error for an engine result code (primary or extended) met on the database file at path:
// a Chinese sentence naming the problem and the file, the engine's text in brackets. A full
// disk is told from damage by the engine's code and the folder's free space, a read-only file
// from a read-only folder by their rights.
TDatabaseError DescribeEngineFailure(int code, const QString& engineText, const QString& path);

// The same for a system error number (errno) met on a file the program writes at path.
TDatabaseError DescribeFileFailure(int errnum, const QString& path);

// Whether the file system holding path has (almost) no room left for a write.
bool DiskIsFull(const QString& path);

} // namespace vantero
