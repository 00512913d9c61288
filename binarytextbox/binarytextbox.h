#pragma once

#include <QByteArray>
#include "bytestore.h"
#include "bytetext.h"

#include <stdexcept>

class ByteLineEdit;

// Turns byte edit boxes into binary-safe panes. The box holds the pane's exact
// bytes (visible cell i showing byte i, a NUL as a blank), so the pane's bytes
// and its visible text are one and the same; the pane's event filter makes
// the edits a pane makes differently from a plain box. The tables are
// program-wide and keyed by the box's handle.
namespace BinaryTextBox {

// A pane key that is missing, or added twice.
class PaneError : public std::logic_error
{
public:
    using std::logic_error::logic_error;
};

// Makes the box a pane: installs the pane's event filter; the box's current
// bytes are the pane's. Throws PaneError if already attached.
void AttachPane(ByteLineEdit *box);

// Removes the filter and the pane's entries. Throws PaneError if not attached.
void DetachPane(ByteLineEdit *box);

// A copy of the pane's bytes; throws PaneError for a handle that is not
// attached.
QByteArray GetPaneBytes(int handle);

// The pane's bytes themselves (the box's store), for reading without a copy.
const ByteStore &PaneStore(int handle);

// Replaces the pane's bytes (the caret goes to 0); throws PaneError for a
// handle that is not attached.
void SetPaneBytes(int handle, QByteArrayView bytes);

// SetPaneBytes(handle, GetPaneBytes(handle) + bytes), in time proportional to
// the appended bytes rather than to what the pane holds; the caret and
// selection stay.
void AppendPaneBytes(int handle, QByteArrayView bytes);

// Whether a handle is attached, and the box behind it (nullptr when not).
bool IsAttached(int handle);
ByteLineEdit *PaneControl(int handle);

} // namespace BinaryTextBox
