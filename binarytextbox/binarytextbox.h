#pragma once

#include <QByteArray>
#include "bytetext.h"

#include <stdexcept>

class ByteLineEdit;

// Turns byte edit boxes into binary-safe panes: each attached pane keeps the
// exact bytes beside its visible text (same length, visible cell i showing
// byte i), and its event filter keeps the two in step with every edit.
// The tables are program-wide and keyed by the box's handle.
namespace BinaryTextBox {

// A pane key that is missing, or added twice.
class PaneError : public std::logic_error
{
public:
    using std::logic_error::logic_error;
};

// Makes the box a pane: installs the pane's event filter and keeps the box's
// current text as the pane's bytes. Throws PaneError if already attached.
void AttachPane(ByteLineEdit *box);

// Removes the filter and the pane's entries. Throws PaneError if not attached.
void DetachPane(ByteLineEdit *box);

// The pane's bytes; throws PaneError for a handle that is not attached.
QByteArray GetPaneBytes(int handle);

// Replaces the pane's bytes; throws PaneError for a handle that is not attached.
void SetPaneBytes(int handle, const QByteArray &bytes);

// SetPaneBytes(handle, GetPaneBytes(handle) + bytes), in time proportional to
// the appended bytes rather than to what the pane holds.
void AppendPaneBytes(int handle, const QByteArray &bytes);

// Whether a handle is attached, and the box behind it (nullptr when not).
bool IsAttached(int handle);
ByteLineEdit *PaneControl(int handle);

} // namespace BinaryTextBox
