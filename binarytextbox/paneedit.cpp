#include "paneedit.h"

#include "bytelineedit.h"
#include "paneclipboard.h"

namespace BinaryTextBox {

QByteArray SelectedBytes(const ByteLineEdit *box)
{
    return box->SelText();
}

void ReplaceSelection(ByteLineEdit *box, QByteArrayView insert)
{
    box->setSelText(insert);
}

void CutSelection(ByteLineEdit *box)
{
    PutBytesOnClipboard(box->hWnd(), SelectedBytes(box));
    ReplaceSelection(box, {});
}

void PasteOverSelection(ByteLineEdit *box)
{
    const ClipboardBytes paste = ReadClipboardBytes(box->hWnd());
    ReplaceSelection(box, paste.bytes);
}

} // namespace BinaryTextBox
