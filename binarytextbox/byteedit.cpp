#include "byteedit.h"

#include <algorithm>

namespace ByteEdit {

namespace {
qsizetype clampTo(qsizetype pos, qsizetype size)
{
    return std::clamp<qsizetype>(pos, 0, size);
}
} // namespace

QByteArray Slice(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    const qsizetype begin = clampTo(from, bytes.size());
    const qsizetype end = clampTo(to, bytes.size());
    if (end <= begin)
        return {};
    return bytes.mid(begin, end - begin);
}

void Replace(QByteArray &bytes, qsizetype start, qsizetype length, QByteArrayView insert)
{
    const qsizetype begin = clampTo(start, bytes.size());
    // start + length may overflow for absurd lengths; clamp the length first.
    const qsizetype end = begin + clampTo(length, bytes.size() - begin);
    bytes.replace(begin, end - begin, insert);
}

QByteArray Replaced(QByteArray bytes, qsizetype start, qsizetype length, QByteArrayView insert)
{
    Replace(bytes, start, length, insert);
    return bytes;
}

void DeleteBefore(QByteArray &bytes, qsizetype caret)
{
    const qsizetype pos = clampTo(caret, bytes.size());
    if (pos > 0)
        bytes.remove(pos - 1, 1);
}

void DeleteAfter(QByteArray &bytes, qsizetype caret)
{
    const qsizetype pos = clampTo(caret, bytes.size());
    if (pos < bytes.size())
        bytes.remove(pos, 1);
}

void TruncateAt(QByteArray &bytes, qsizetype caret)
{
    bytes.truncate(clampTo(caret, bytes.size()));
}

} // namespace ByteEdit
