#include "support/SmallDisk.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace vantero::test {

namespace {

const char* const kFillName = "filler.bin";

} // namespace

TSmallDisk::TSmallDisk(int kibibytes) {
    if (::geteuid() != 0) {
        m_reason =
            QStringLiteral("needs root to mount a small file system (tmpfs); run the tests as root for this case");
        return;
    }
    const QByteArray options = QByteArray("size=") + QByteArray::number(kibibytes) + "k,mode=0755";
    if (::mount("vantero-test", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, options.constData()) != 0) {
        m_reason = QStringLiteral("cannot mount a tmpfs here: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_mounted = true;
}

TSmallDisk::~TSmallDisk() {
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

void TSmallDisk::Fill() {
    const int fd = ::open(QFile::encodeName(filePath(QString::fromLatin1(kFillName))).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    static const QByteArray block(4096, 'x');
    while (::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    // Whatever part of a block is left.
    while (::write(fd, block.constData(), 1) > 0) {
    }
    ::close(fd);
}

void TSmallDisk::Free() {
    QFile::remove(filePath(QString::fromLatin1(kFillName)));
}

bool TSmallDisk::SetReadOnly(bool readOnly) {
    if (!m_mounted)
        return false;
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("vantero-test", QFile::encodeName(m_dir.path()).constData(), "tmpfs", flags, nullptr) == 0;
}

} // namespace vantero::test
