#include "panewindowproc.h"

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "paneclipboard.h"
#include "paneedit.h"
#include "panemenu.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

namespace BinaryTextBox {

void PaneKeyDown(ByteLineEdit *box, qint16 &key, int mask)
{
    const int h = box->hWnd();
    // A read-only pane shows received data: keys that would edit it leave
    // its bytes alone, while selecting and copying work. The keys passed on
    // (the Delete variants among them) are edits the box makes itself.
    const bool locked = box->Locked();
    const qsizetype selLength = box->SelLength();

    if (key == VK_DELETE) {
        // Shift+Delete with a selection cuts: the box alone would only delete.
        if (mask == MaskShift && selLength > 0) {
            if (!locked)
                CutSelection(box);
            key = 0;
        }
    } else if (key == VK_BACK && mask == MaskAlt) {
        key = 0;
    } else if (key == VK_RETURN) {
        if (!locked)
            box->setSelText("\r\n");
        key = 0;
    } else if ((key == VK_C || key == VK_INSERT) && mask == MaskCtrl) {
        PutBytesOnClipboard(h, box->SelText());
        key = 0;
    } else if ((key == VK_V && mask == MaskCtrl) || (key == VK_INSERT && mask == MaskShift)) {
        if (!locked)
            PasteOverSelection(box);
        key = 0;
    } else if (key == VK_X && mask == MaskCtrl && selLength > 0) {
        if (!locked)
            CutSelection(box);
        key = 0;
    }
}

void PaneKeyPress(ByteLineEdit *, qint16 &ch)
{
    // Backspace and the printable codes are typed by the box itself, into the
    // pane's bytes. Control characters (Tab, Enter, Escape, Ctrl+letters,
    // Ctrl+Z among them) never enter a pane by typing.
    if (ch != VK_BACK && (ch < 32 || ch > 255))
        ch = 0;
}

bool PaneWindowProc::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<ByteLineEdit *>(watched);
    if (!box || !IsAttached(box->hWnd()))
        return false;

    switch (event->type()) {
    case QEvent::ContextMenu:
        // The position the event carries is not used: the menu opens at the
        // mouse pointer, whatever opened it.
        ShowPaneMenu(box);
        return true;
    case QEvent::KeyPress:
        return keyPress(box, static_cast<QKeyEvent *>(event));
    case QEvent::ShortcutOverride: {
        // Keys the pane acts on must reach it even when a window shortcut
        // shares them.
        auto *key = static_cast<QKeyEvent *>(event);
        const int mask = ModifierMaskOf(key->modifiers());
        const qint16 vk = VirtualKeyOf(key->key());
        const bool ours = ((mask & MaskAlt) == 0
                           && (vk == VK_DELETE || vk == VK_RETURN || vk == VK_BACK
                               || (mask == MaskCtrl && (vk == VK_C || vk == VK_V || vk == VK_X || vk == VK_INSERT))
                               || (mask == MaskShift && vk == VK_INSERT)))
                          || (vk == VK_BACK && mask == MaskAlt) || (vk == VK_F10 && (mask & MaskShift));
        if (ours) {
            event->accept();
            return true;
        }
        return false;
    }
    case QEvent::InputMethod: {
        // Text committed by an input method is typing too.
        auto *im = static_cast<QInputMethodEvent *>(event);
        const QString commit = im->commitString();
        for (const QChar c : commit) {
            qint16 ch = c.unicode() <= 0xFF ? qint16(c.unicode()) : qint16(0);
            if (ch < 32 || ch == VK_BACK)
                continue;
            PaneKeyPress(box, ch);
            if (ch != 0 && !box->Locked())
                box->setSelText(QByteArray(1, char(ch)));
        }
        return true;
    }
    default:
        return false;
    }
}

bool PaneWindowProc::keyPress(ByteLineEdit *box, QKeyEvent *event)
{
    const int mask = ModifierMaskOf(event->modifiers());
    const qint16 vk = VirtualKeyOf(event->key());

    // Tab and Backtab move the focus on; the box's own event handling does it.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) && (mask & (MaskCtrl | MaskAlt)) == 0)
        return false;

    // F10 is a system key: with Shift it opens the pane's menu, alone it does
    // nothing in a pane.
    if (vk == VK_F10) {
        if (mask & MaskShift)
            ShowPaneMenu(box);
        return true;
    }

    // System keystrokes (Alt held) edit nothing: Alt+Backspace is consumed,
    // and so is any Alt combination that would type or delete, which the box
    // would otherwise act on. The rest go on; menu mnemonics are shortcuts and
    // never get this far.
    if (mask & MaskAlt)
        return vk == VK_BACK || vk == VK_DELETE || !event->text().isEmpty();

    // Ctrl+A selects all in the box and changes no bytes.
    if (vk == 0x41 && mask == MaskCtrl)
        return false;

    qint16 key = vk;
    PaneKeyDown(box, key, mask);
    if (key == 0)
        return true;

    // The character step. Delete's text (DEL) is not a typed character;
    // Backspace always is, whatever text the key reports, as the box deletes
    // for it with any modifier.
    if (vk == VK_DELETE)
        return false;
    if (vk == VK_BACK) {
        qint16 ch = VK_BACK;
        PaneKeyPress(box, ch);
        return ch == 0;
    }
    const QString text = event->text();
    if (text.isEmpty())
        return false;

    // Text of several characters (a compose sequence) is typed here one
    // character at a time, as the box would otherwise see a single key.
    if (text.size() > 1) {
        for (const QChar c : text) {
            qint16 ch = c.unicode() <= 0xFF ? qint16(c.unicode()) : qint16(0);
            if (ch == 0 || ch == VK_BACK)
                continue;
            PaneKeyPress(box, ch);
            if (ch != 0 && !box->Locked())
                box->setSelText(QByteArray(1, char(ch)));
        }
        return true;
    }

    const char16_t first = text.at(0).unicode();
    qint16 ch = 0;
    if (first > 0xFF) {
        return true; // no byte for it: consumed, nothing inserted
    } else if (mask & MaskCtrl) {
        // Ctrl with a letter or one of @[\]^_ types a control code; some
        // sources (test drivers, remote keyboards) report the plain letter.
        // Ctrl with any other key types nothing (and the box must not
        // type it either).
        if (first < 0x20)
            ch = qint16(first);
        else if (first >= 0x40 && first < 0x80)
            ch = qint16(first & 0x1F);
        else
            return true;
    } else {
        ch = qint16(first);
    }
    if (ch == 0)
        return true;
    if (ch == VK_BACK) {
        // A Backspace code typed by another key (Ctrl+H) deletes as Backspace
        // does; the box does not act on it, so both edits are made here.
        if (!box->Locked()) {
            if (box->SelLength() == 0 && box->SelStart() > 0) {
                box->setSelStart(box->SelStart() - 1);
                box->setSelLength(1);
            }
            box->setSelText({});
        }
        return true;
    }
    PaneKeyPress(box, ch);
    return ch == 0;
}

} // namespace BinaryTextBox
