#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace vantero::test {

// bytes as a gzip stream (Content-Encoding: gzip), for servers that compress their answers.
QByteArray Gzip(QByteArrayView bytes, int level = 6);
// A gzip stream that decodes to size zero bytes, built in pieces so it costs little memory.
QByteArray GzipOfZeros(qint64 size);

// bytes as a brotli stream (Content-Encoding: br).
QByteArray Brotli(QByteArrayView bytes);
// A brotli stream that decodes to size zero bytes, built in pieces.
QByteArray BrotliOfZeros(qint64 size);

} // namespace vantero::test
