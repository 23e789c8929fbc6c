#pragma once

#include <QString>
#include <QTemporaryDir>

namespace vantero::test {

// A small file system of its own (tmpfs) mounted on a temporary folder for the life of the
// object, so a test can fill it or make it read-only without touching the machine's disks.
// Needs root; elsewhere reason() says why there is none and the test skips saying so.
class TSmallDisk {
public:
    explicit TSmallDisk(int kibibytes);
    ~TSmallDisk();
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    QString reason() const { return m_reason; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Writes one file until the file system refuses more.
    void Fill();
    // Frees what Fill wrote.
    void Free();
    // Mounts the file system again, read-only or writable.
    bool SetReadOnly(bool readOnly);

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_reason;
};

} // namespace vantero::test
