#include "paneedit.h"

#include "bytelineedit.h"
#include "paneclipboard.h"

namespace BinaryTextBox {

void CutSelection(ByteLineEdit *box)
{
    PutBytesOnClipboard(box->hWnd(), box->SelText());
    box->setSelText({});
}

void PasteOverSelection(ByteLineEdit *box)
{
    const ClipboardBytes paste = ReadClipboardBytes(box->hWnd());
    box->setSelText(paste.bytes);
}

} // namespace BinaryTextBox
