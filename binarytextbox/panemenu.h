#pragma once

#include <QtGlobal>

class ByteLineEdit;

// A pane's own context menu: Cut, Copy, Paste and Delete on the pane's bytes
// (with the private clipboard block), Select All, and the ASCII chart, which
// inserts any byte value at the caret.
namespace BinaryTextBox {

// The values the menu returns; 0 when it is dismissed.
enum PaneMenuCommand {
    PaneMenuNone = 0,
    PaneMenuCut = 1,
    PaneMenuCopy = 2,
    PaneMenuPaste = 3,
    PaneMenuDelete = 4,
    PaneMenuSelectAll = 6,
    PaneMenuAsciiChart = 8,
};

// Which entries a pane's menu offers. The ASCII chart is always there: opened
// from a read-only pane it is for reference only.
struct PaneMenuEnabling
{
    bool cut = false;
    bool copy = false;
    bool paste = false;
    bool del = false;
    bool selectAll = false;
    bool asciiChart = true;

    bool operator==(const PaneMenuEnabling &) const = default;
};

PaneMenuEnabling PaneMenuEnablingFor(bool readOnly, qsizetype selLength, bool clipboardHasText, qsizetype textLength);

// Shows the menu at the mouse pointer, waits for the choice and carries it out
// on the pane's store as it is when the menu (or the chart) has closed, so
// bytes received meanwhile are kept. Returns the chosen identifier (0 when
// dismissed).
int ShowPaneMenu(ByteLineEdit *box);

// Carries out one of the menu's commands on an attached pane.
void RunPaneMenuCommand(ByteLineEdit *box, int command);

} // namespace BinaryTextBox
