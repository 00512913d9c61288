#include "testbytes.h"

#include <QRandomGenerator>

QByteArray allByteValues(int repeat)
{
    QByteArray bytes;
    bytes.reserve(256 * repeat);
    for (int r = 0; r < repeat; ++r) {
        for (int v = 0; v < 256; ++v)
            bytes.append(char(v));
    }
    return bytes;
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (qsizetype i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(gen.generate());
    return bytes;
}
