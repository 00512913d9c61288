#include "panemenu.h"

#include "asciichart.h"
#include "binarytextbox.h"
#include "bytelineedit.h"
#include "paneclipboard.h"
#include "paneedit.h"

#include <QCursor>
#include <QMenu>
#include <QPointer>

namespace BinaryTextBox {

PaneMenuEnabling PaneMenuEnablingFor(bool readOnly, qsizetype selLength, bool clipboardHasText, qsizetype textLength)
{
    PaneMenuEnabling e;
    const bool selected = selLength > 0;
    e.cut = !readOnly && selected;
    e.del = !readOnly && selected;
    e.paste = !readOnly && clipboardHasText;
    e.copy = selected;
    e.selectAll = textLength > 0;
    e.asciiChart = true;
    return e;
}

int ShowPaneMenu(ByteLineEdit *box)
{
    if (!box)
        return PaneMenuNone;
    QPointer<ByteLineEdit> guard(box);
    box->setFocus(Qt::PopupFocusReason);

    const PaneMenuEnabling e
        = PaneMenuEnablingFor(box->Locked(), box->SelLength(), ClipboardHasText(), box->textLength());
    int chosen = PaneMenuNone;
    {
        QMenu menu(box);
        const auto add = [&menu](const QString &text, bool enabled, int id) {
            QAction *action = menu.addAction(text);
            action->setEnabled(enabled);
            action->setData(id);
        };
        add(QStringLiteral("Cu&t"), e.cut, PaneMenuCut);
        add(QStringLiteral("&Copy"), e.copy, PaneMenuCopy);
        add(QStringLiteral("&Paste"), e.paste, PaneMenuPaste);
        add(QStringLiteral("&Delete"), e.del, PaneMenuDelete);
        menu.addSeparator();
        add(QStringLiteral("Select &All"), e.selectAll, PaneMenuSelectAll);
        menu.addSeparator();
        add(QStringLiteral("ASCII Chart..."), e.asciiChart, PaneMenuAsciiChart);

        if (QAction *action = menu.exec(QCursor::pos()))
            chosen = action->data().toInt();
    }
    // The menu's loop delivers other events: the box may be gone or detached.
    if (guard && chosen != PaneMenuNone)
        RunPaneMenuCommand(guard, chosen);
    return chosen;
}

void RunPaneMenuCommand(ByteLineEdit *box, int command)
{
    if (!box)
        return;
    QPointer<ByteLineEdit> guard(box);
    const int h = box->hWnd();

    if (command == PaneMenuAsciiChart) {
        {
            AsciiChart chart;
            chart.exec();
        }
        if (!guard || AsciiChoice.isEmpty() || guard->Locked())
            return;
    }
    if (!IsAttached(h))
        return;
    // A read-only pane offers only Copy, Select All and the chart; its bytes
    // are never changed from here.
    const bool edits = command == PaneMenuCut || command == PaneMenuPaste || command == PaneMenuDelete
                       || command == PaneMenuAsciiChart;
    if (edits && box->Locked())
        return;

    // The selection is read only now: the receive path may have appended to
    // the pane while the menu or the chart was open.
    switch (command) {
    case PaneMenuCut:
        CutSelection(box);
        break;
    case PaneMenuCopy:
        PutBytesOnClipboard(h, box->SelText());
        break;
    case PaneMenuPaste:
        PasteOverSelection(box);
        break;
    case PaneMenuDelete:
        box->setSelText({});
        break;
    case PaneMenuSelectAll:
        box->setSelStart(0);
        box->setSelLength(box->textLength());
        break;
    case PaneMenuAsciiChart:
        box->setSelText(AsciiChoice);
        break;
    default:
        break;
    }
}

} // namespace BinaryTextBox
