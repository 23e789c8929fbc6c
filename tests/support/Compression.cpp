#include "support/Compression.h"

#include <algorithm>
#include <brotli/encode.h>
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

class TBrotliWriter {
public:
    TBrotliWriter() : m_state(BrotliEncoderCreateInstance(nullptr, nullptr, nullptr)) {
        // The fastest quality: the tests need a valid stream, not a small one.
        BrotliEncoderSetParameter(m_state, BROTLI_PARAM_QUALITY, 1);
    }
    ~TBrotliWriter() { BrotliEncoderDestroyInstance(m_state); }
    TBrotliWriter(const TBrotliWriter&) = delete;
    TBrotliWriter& operator=(const TBrotliWriter&) = delete;

    void write(QByteArrayView bytes, bool last) {
        size_t availableIn = size_t(bytes.size());
        const uint8_t* nextIn = reinterpret_cast<const uint8_t*>(bytes.data());
        const BrotliEncoderOperation operation = last ? BROTLI_OPERATION_FINISH : BROTLI_OPERATION_PROCESS;
        for (;;) {
            uint8_t buffer[64 * 1024];
            size_t availableOut = sizeof buffer;
            uint8_t* nextOut = buffer;
            if (!BrotliEncoderCompressStream(m_state, operation, &availableIn, &nextIn, &availableOut, &nextOut,
                                             nullptr))
                return;
            m_out.append(reinterpret_cast<const char*>(buffer), qsizetype(sizeof buffer - availableOut));
            const bool done = last ? BrotliEncoderIsFinished(m_state) : availableIn == 0;
            if (done && !BrotliEncoderHasMoreOutput(m_state))
                return;
        }
    }
    QByteArray take() { return std::move(m_out); }

private:
    BrotliEncoderState* m_state;
    QByteArray m_out;
};

} // namespace

QByteArray Brotli(QByteArrayView bytes) {
    TBrotliWriter writer;
    writer.write(bytes, true);
    return writer.take();
}

QByteArray BrotliOfZeros(qint64 size) {
    TBrotliWriter writer;
    const QByteArray block(1024 * 1024, '\0');
    for (qint64 left = size; left > 0; left -= block.size())
        writer.write(QByteArrayView(block).first(qsizetype(std::min<qint64>(left, block.size()))), false);
    writer.write({}, true);
    return writer.take();
}

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
