#include "clipboardblock.h"

#include <QStringView>

namespace ClipboardBlock {

QByteArray EncodeClipboardBlock(const QByteArray &bytes)
{
    const QByteArray count = QByteArray::number(bytes.size());
    QByteArray block;
    block.reserve(count.size() + 1 + bytes.size());
    block.append(count).append(',').append(bytes);
    return block;
}

QByteArray ParseClipboardBlock(const QByteArray &block)
{
    return ClipboardBlockData(block).toByteArray();
}

QByteArrayView ClipboardBlockData(QByteArrayView block)
{
    // The count is read digit by digit but never grows beyond the block's own
    // size: nothing is ever allocated or read by a count the block cannot back.
    const qsizetype size = block.size();
    qsizetype count = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = block.at(i);
        if (c < '0' || c > '9')
            break;
        count = count * 10 + (c - '0');
        if (count > size)
            count = size + 1; // saturate: more than the block can hold
    }
    const qsizetype comma = block.indexOf(',');
    const qsizetype dataStart = comma < 0 ? 0 : comma + 1;
    const qsizetype available = size - dataStart;
    return block.sliced(dataStart, qMin(count, available));
}

QByteArray PlainTextPart(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

QByteArray BytesFromPlainText(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return QStringView(text).left(nul < 0 ? text.size() : nul).toUtf8();
}

} // namespace ClipboardBlock
