#pragma once

class ByteLineEdit;

// The clipboard edits a pane makes itself, shared by the pane's keys and its
// context menu. The box holds the pane's bytes, so each is one edit of the
// box (SelText / setSelText for the rest).
namespace BinaryTextBox {

// Copies the selection's bytes to the clipboard, then removes them whether or
// not the clipboard took them.
void CutSelection(ByteLineEdit *box);

// Replaces the selection with the clipboard's bytes (nothing usable there:
// the selection is removed).
void PasteOverSelection(ByteLineEdit *box);

} // namespace BinaryTextBox
