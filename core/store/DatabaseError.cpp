#include "store/DatabaseError.h"

#include "common/StoreTexts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sqlite3.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vantero {

namespace {

// Below this the engine cannot add a page and its write-ahead log entry.
constexpr unsigned long long kFullBelowBytes = 256 * 1024;

QString Shown(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

QString FolderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

bool Writable(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

TDatabaseError Make(const QString& sentence, const QString& detail, TDatabaseFault fault) {
    if (detail.trimmed().isEmpty())
        return TDatabaseError(sentence, fault);
    return TDatabaseError(StoreTexts::WithDetail.arg(sentence, detail.trimmed()), fault, detail.trimmed());
}

TDatabaseError ReadOnly(const QString& path, const QString& detail) {
    // A file of its own that may be written sits in a folder that may not (the engine needs to
    // make its -wal and -shm files beside it).
    if (QFileInfo::exists(path) && Writable(path) && !Writable(FolderOf(path)))
        return Make(StoreTexts::ReadOnlyFolder.arg(QDir::toNativeSeparators(FolderOf(path))), detail,
                    TDatabaseFault::ReadOnly);
    return Make(StoreTexts::ReadOnlyFile.arg(Shown(path)), detail, TDatabaseFault::ReadOnly);
}

} // namespace

bool DiskIsFull(const QString& path) {
    QString at = QFileInfo(path).isDir() ? path : FolderOf(path);
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(at).constData(), &info) != 0)
        return false;
    return static_cast<unsigned long long>(info.f_bavail) * info.f_frsize < kFullBelowBytes;
}

TDatabaseError DescribeEngineFailure(int code, const QString& engineText, const QString& path) {
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Make(StoreTexts::Locked.arg(Shown(path)), {}, TDatabaseFault::Locked);
    case SQLITE_FULL:
        return Make(StoreTexts::DiskFull.arg(Shown(path)), engineText, TDatabaseFault::DiskFull);
    case SQLITE_READONLY:
        return ReadOnly(path, engineText);
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
        if (DiskIsFull(path))
            return Make(StoreTexts::DiskFull.arg(Shown(path)), engineText, TDatabaseFault::DiskFull);
        if (QFileInfo::exists(path) && (!Writable(path) || !Writable(FolderOf(path))))
            return ReadOnly(path, engineText);
        if ((code & 0xff) == SQLITE_CANTOPEN)
            return Make(StoreTexts::Unreadable.arg(Shown(path)), engineText, TDatabaseFault::Other);
        return Make(StoreTexts::WriteFailed.arg(Shown(path)), engineText, TDatabaseFault::Other);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Make(StoreTexts::Damaged.arg(Shown(path)), engineText, TDatabaseFault::Damaged);
    case SQLITE_CONSTRAINT:
        return Make(StoreTexts::ConstraintFailed, engineText, TDatabaseFault::Other);
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Make(StoreTexts::Unreadable.arg(Shown(path)), engineText, TDatabaseFault::Other);
    default:
        return Make(StoreTexts::WriteFailed.arg(Shown(path)), engineText, TDatabaseFault::Other);
    }
}

TDatabaseError DescribeFileFailure(int errnum, const QString& path) {
    const QString detail = QString::fromLocal8Bit(std::strerror(errnum));
    switch (errnum) {
    case ENOSPC:
    case EDQUOT:
        return Make(StoreTexts::DiskFull.arg(Shown(path)), detail, TDatabaseFault::DiskFull);
    case EROFS:
    case EACCES:
    case EPERM:
        return ReadOnly(path, detail);
    default:
        return Make(StoreTexts::WriteFailed.arg(Shown(path)), detail, TDatabaseFault::Other);
    }
}

} // namespace vantero
