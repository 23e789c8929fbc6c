#include "Compression.h"

#include <zlib.h>

namespace vantero::test {

namespace {

class TGzipWriter {
public:
    explicit TGzipWriter(int level) {
        // 15 window bits plus 16: a gzip header and trailer around the deflate data.
        deflateInit2(&m_stream, level, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    }
    ~TGzipWriter() { deflateEnd(&m_stream); }
    TGzipWriter(const TGzipWriter&) = delete;
    TGzipWriter& operator=(const TGzipWriter&) = delete;

    void write(QByteArrayView bytes, bool last) {
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        m_stream.avail_in = uInt(bytes.size());
        const int flush = last ? Z_FINISH : Z_NO_FLUSH;
        int rc;
        do {
            char buffer[64 * 1024];
            m_stream.next_out = reinterpret_cast<Bytef*>(buffer);
            m_stream.avail_out = sizeof buffer;
            rc = deflate(&m_stream, flush);
            m_out.append(buffer, qsizetype(sizeof buffer - m_stream.avail_out));
        } while (m_stream.avail_out == 0 || (last && rc != Z_STREAM_END));
    }
    QByteArray take() { return std::move(m_out); }

private:
    z_stream m_stream{};
    QByteArray m_out;
};

} // namespace

QByteArray Gzip(QByteArrayView bytes, int level) {
    TGzipWriter writer(level);
    writer.write(bytes, true);
    return writer.take();
}

QByteArray GzipOfZeros(qint64 size) {
    TGzipWriter writer(9);
    const QByteArray block(1024 * 1024, '\0');
    for (qint64 left = size; left > 0; left -= block.size())
        writer.write(QByteArrayView(block).first(qsizetype(std::min<qint64>(left, block.size()))), false);
    writer.write({}, true);
    return writer.take();
}

} // namespace vantero::test
