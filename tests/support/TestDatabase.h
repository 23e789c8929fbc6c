#pragma once

#include "store/Connection.h"

#include <QTemporaryDir>

namespace vantero::test {

// A fresh database of the program's layout in a temporary folder, removed afterwards.
class TTestDatabase {
public:
    TTestDatabase();
    ~TTestDatabase();
    QString path() const { return m_path; }
    QString dir() const { return m_dir.path(); }
    TConnection connection() const { return TConnection(m_path); }
    // Runs a statement directly (set-up of test data), values bound in order.
    void exec(const QString& sql, const QVariantList& values = {}) const;
    // The single value the query selects (checks).
    QVariant value(const QString& sql, const QVariantList& values = {}) const;

private:
    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace vantero::test
