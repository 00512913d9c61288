#include "paneclipboard.h"

#include "clipboardblock.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace BinaryTextBox {

bool PutBytesOnClipboard(int ownerHandle, const QByteArray &bytes)
{
    Q_UNUSED(ownerHandle); // the toolkit's clipboard needs no owner window
    if (bytes.isEmpty())
        return false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto *data = new QMimeData;
    data->setText(ClipboardBlock::PlainTextFromBytes(bytes));
    data->setData(QString::fromLatin1(ClipboardBlock::FormatName),
                  ClipboardBlock::EncodeClipboardBlock(bytes));
    clipboard->setMimeData(data);
    return true;
}

QByteArray GetBytesFromClipboard(int ownerHandle)
{
    Q_UNUSED(ownerHandle);
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return {};
    const QMimeData *data = clipboard->mimeData();
    if (!data)
        return {};
    const QString format = QString::fromLatin1(ClipboardBlock::FormatName);
    // The private block wins over the plain text; the text is converted only
    // when it is the one used, since it may be as large as the block.
    if (data->hasFormat(format)) {
        const QByteArray block = data->data(format);
        if (!block.isEmpty())
            return ClipboardBlock::ParseClipboardBlock(block);
    }
    if (data->hasText())
        return ClipboardBlock::BytesFromPlainText(data->text());
    return {};
}

bool ClipboardHasText()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    const QMimeData *data = clipboard->mimeData();
    return data && data->hasText();
}

} // namespace BinaryTextBox
