#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "keystrokes.h"
#include "paneclipboard.h"
#include "panewindowproc.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QVBoxLayout>

using namespace BinaryTextBox;

// Keys on a real pane box: after every key the pane's bytes and the box's
// visible text must show the same edit.
class tst_PaneKeys : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void editing_data();
    void editing();
    void readOnlyPane_data();
    void readOnlyPane();
    void readOnlyCopyAndSelect();
    void clipboardKeys();
    void pastePrivateBlockWithNuls();
    void pastePlainTextFromOtherProgram();
    void copyWithoutSelectionKeepsClipboard();
    void cutEvenWhenNothingUsableToPaste();
    void tabMovesFocus();
    void modifierMask_data();
    void modifierMask();

private:
    void checkInStep(const ByteLineEdit &box);
};

void tst_PaneKeys::init()
{
    QApplication::clipboard()->clear();
}

void tst_PaneKeys::checkInStep(const ByteLineEdit &box)
{
    QCOMPARE(DisplayText(GetPaneBytes(box.hWnd())), box.Text());
}

void tst_PaneKeys::editing_data()
{
    QTest::addColumn<QByteArray>("initial");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<KeyStrokes>("strokes");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray abcd("abcd");
    const auto ctrl = Qt::ControlModifier;
    const auto shift = Qt::ShiftModifier;
    const auto alt = Qt::AltModifier;

    QTest::newRow("type X at caret") << abcd << 2 << 0 << KeyStrokes{typed('X')} << QByteArray("abXcd");
    QTest::newRow("type X over selection") << abcd << 1 << 2 << KeyStrokes{typed('X')} << QByteArray("aXd");
    QTest::newRow("type E9") << abcd << 4 << 0 << KeyStrokes{typed(QChar(0xE9))} << QByteArray("abcd\xE9");
    QTest::newRow("type beyond Latin-1") << abcd << 1 << 0 << KeyStrokes{typed(QChar(0x20AC))} << abcd;
    QTest::newRow("multi-character text")
        << abcd << 0 << 0 << KeyStrokes{key(Qt::Key_unknown, {}, QStringLiteral(u"\u00E9x"))}
        << QByteArray("\xE9xabcd");
    QTest::newRow("Backspace at 0") << abcd << 0 << 0 << KeyStrokes{key(Qt::Key_Backspace, {}, "\b")} << abcd;
    QTest::newRow("Backspace at 2") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_Backspace, {}, "\b")}
                                    << QByteArray("acd");
    QTest::newRow("Backspace selection") << abcd << 1 << 2 << KeyStrokes{key(Qt::Key_Backspace, {}, "\b")}
                                         << QByteArray("ad");
    QTest::newRow("Backspace without text")
        << abcd << 3 << 0 << KeyStrokes{key(Qt::Key_Backspace)} << QByteArray("abd");
    QTest::newRow("Shift+Backspace") << abcd << 3 << 0 << KeyStrokes{key(Qt::Key_Backspace, shift, "\b")}
                                     << QByteArray("abd");
    QTest::newRow("Ctrl+Backspace") << abcd << 3 << 0 << KeyStrokes{key(Qt::Key_Backspace, ctrl, "\x7f")}
                                    << QByteArray("abd");
    QTest::newRow("Ctrl+H deletes as Backspace")
        << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_H, ctrl, "\x08")} << QByteArray("acd");
    QTest::newRow("Ctrl+H over selection")
        << abcd << 1 << 2 << KeyStrokes{key(Qt::Key_H, ctrl, "\x08")} << QByteArray("ad");
    QTest::newRow("Ctrl+H at 0") << abcd << 0 << 0 << KeyStrokes{key(Qt::Key_H, ctrl, "\x08")} << abcd;
    QTest::newRow("Alt+Backspace") << abcd << 3 << 0 << KeyStrokes{key(Qt::Key_Backspace, alt, "\b")} << abcd;
    QTest::newRow("Alt+Shift+Backspace") << abcd << 3 << 0 << KeyStrokes{key(Qt::Key_Backspace, alt | shift, "\b")}
                                         << abcd;
    QTest::newRow("Delete at end") << abcd << 4 << 0 << KeyStrokes{key(Qt::Key_Delete, {}, "\x7f")} << abcd;
    QTest::newRow("Delete at 1") << abcd << 1 << 0 << KeyStrokes{key(Qt::Key_Delete, {}, "\x7f")} << QByteArray("acd");
    QTest::newRow("Delete selection") << abcd << 1 << 2 << KeyStrokes{key(Qt::Key_Delete)} << QByteArray("ad");
    QTest::newRow("Shift+Delete no selection")
        << abcd << 3 << 0 << KeyStrokes{key(Qt::Key_Delete, shift)} << QByteArray("abd");
    QTest::newRow("Shift+Delete no selection at 0") << abcd << 0 << 0 << KeyStrokes{key(Qt::Key_Delete, shift)} << abcd;
    QTest::newRow("Ctrl+Delete no selection")
        << abcd << 1 << 0 << KeyStrokes{key(Qt::Key_Delete, ctrl)} << QByteArray("a");
    QTest::newRow("Ctrl+Delete selection")
        << abcd << 1 << 2 << KeyStrokes{key(Qt::Key_Delete, ctrl)} << QByteArray("ad");
    QTest::newRow("Ctrl+Shift+Delete") << abcd << 1 << 0 << KeyStrokes{key(Qt::Key_Delete, ctrl | shift)}
                                       << QByteArray("acd");
    QTest::newRow("Alt+Delete") << abcd << 1 << 0 << KeyStrokes{key(Qt::Key_Delete, alt)} << abcd;
    QTest::newRow("Enter with selection")
        << abcd << 1 << 2 << KeyStrokes{key(Qt::Key_Return, {}, "\r")} << QByteArray("a\r\nd");
    QTest::newRow("keypad Enter at end") << abcd << 4 << 0 << KeyStrokes{key(Qt::Key_Enter, {}, "\r")}
                                         << QByteArray("abcd\r\n");
    QTest::newRow("Enter then type") << abcd << 0 << 0 << KeyStrokes{key(Qt::Key_Return, {}, "\r"), typed('Z')}
                                     << QByteArray("\r\nZabcd");
    QTest::newRow("Tab inserts nothing") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_Tab, {}, "\t")} << abcd;
    QTest::newRow("Ctrl+Z as letter") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_Z, ctrl, "z")} << abcd;
    QTest::newRow("Ctrl+Z as control code") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_Z, ctrl, "\x1a")} << abcd;
    QTest::newRow("Ctrl+1") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_1, ctrl, "1")} << abcd;
    QTest::newRow("Ctrl+Space") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_Space, ctrl, " ")} << abcd;
    QTest::newRow("Escape") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_Escape, {}, "\x1b")} << abcd;
    QTest::newRow("Alt+a") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_A, alt, "a")} << abcd;
    QTest::newRow("Ctrl+X without selection") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_X, ctrl, "\x18")} << abcd;
    QTest::newRow("F10 alone") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_F10)} << abcd;
    QTest::newRow("Ctrl+A then type") << abcd << 2 << 0 << KeyStrokes{key(Qt::Key_A, ctrl, "a"), typed('Q')}
                                      << QByteArray("Q");
    QTest::newRow("navigate then type") << abcd << 4 << 0
                                        << KeyStrokes{key(Qt::Key_Home), key(Qt::Key_Right), key(Qt::Key_Right, shift),
                                                      typed('-'),        key(Qt::Key_End),   typed('!')}
                                        << QByteArray("a-cd!");
    QTest::newRow("NULs stay NULs around typing")
        << QByteArray("\0\0", 2) << 1 << 0 << KeyStrokes{typed('A')} << QByteArray("\0A\0", 3);
}

void tst_PaneKeys::editing()
{
    QFETCH(QByteArray, initial);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(KeyStrokes, strokes);
    QFETCH(QByteArray, expected);

    ByteLineEdit box;
    box.setText(DisplayText(initial));
    AttachPane(&box);
    SetPaneBytes(box.hWnd(), initial);
    box.setSelStart(start);
    box.setSelLength(length);
    for (const KeyStroke &s : strokes) {
        send(&box, s);
        checkInStep(box);
    }
    QCOMPARE(GetPaneBytes(box.hWnd()), expected);
    DetachPane(&box);
}

void tst_PaneKeys::readOnlyPane_data()
{
    QTest::addColumn<KeyStroke>("stroke");
    QTest::newRow("type") << typed('X');
    QTest::newRow("Backspace") << key(Qt::Key_Backspace, {}, "\b");
    QTest::newRow("Delete") << key(Qt::Key_Delete);
    QTest::newRow("Shift+Delete cut") << key(Qt::Key_Delete, Qt::ShiftModifier);
    QTest::newRow("Ctrl+Delete") << key(Qt::Key_Delete, Qt::ControlModifier);
    QTest::newRow("Enter") << key(Qt::Key_Return, {}, "\r");
    QTest::newRow("Ctrl+V") << key(Qt::Key_V, Qt::ControlModifier, "\x16");
    QTest::newRow("Shift+Insert") << key(Qt::Key_Insert, Qt::ShiftModifier);
    QTest::newRow("Ctrl+X") << key(Qt::Key_X, Qt::ControlModifier, "\x18");
}

void tst_PaneKeys::readOnlyPane()
{
    QFETCH(KeyStroke, stroke);
    PutBytesOnClipboard(0, "paste");
    ByteLineEdit box;
    box.setText("abcd");
    box.setLocked(true);
    AttachPane(&box);
    box.setSelStart(1);
    box.setSelLength(2);
    send(&box, stroke);
    checkInStep(box);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("abcd"));
    QCOMPARE(box.Text(), QByteArray("abcd"));
    DetachPane(&box);
}

void tst_PaneKeys::readOnlyCopyAndSelect()
{
    ByteLineEdit box;
    box.setText(" x ");
    box.setLocked(true);
    AttachPane(&box);
    SetPaneBytes(box.hWnd(), QByteArray("\0x\0", 3));
    QTest::keyClick(&box, Qt::Key_Home);
    QTest::keyClick(&box, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(box.SelLength(), 3);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    QCOMPARE(GetBytesFromClipboard(0), QByteArray("\0x\0", 3));
    DetachPane(&box);
}

void tst_PaneKeys::clipboardKeys()
{
    ByteLineEdit box;
    box.setText("abcd");
    AttachPane(&box);
    const int h = box.hWnd();
    SetPaneBytes(h, QByteArray("a\0cd", 4));

    // Ctrl+C copies the exact bytes, NUL included; the text stays.
    box.setSelStart(1);
    box.setSelLength(2);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    checkInStep(box);
    QCOMPARE(GetBytesFromClipboard(h), QByteArray("\0c", 2));
    QCOMPARE(QApplication::clipboard()->text(), QString()); // plain text ends at the NUL

    // Ctrl+V at the end acts once: the Ctrl+V character does not type.
    box.setSelStart(4);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    checkInStep(box);
    QCOMPARE(GetPaneBytes(h), QByteArray("a\0cd\0c", 6));
    QCOMPARE(box.SelStart(), 6);

    // Ctrl+X cuts.
    box.setSelStart(0);
    box.setSelLength(1);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_X, QStringLiteral("\x18"), Qt::ControlModifier);
    checkInStep(box);
    QCOMPARE(GetPaneBytes(h), QByteArray("\0cd\0c", 5));
    QCOMPARE(GetBytesFromClipboard(h), QByteArray("a"));

    // Shift+Delete with a selection cuts, Shift+Insert pastes, Ctrl+Insert copies.
    box.setSelStart(1);
    box.setSelLength(2);
    QTest::keyClick(&box, Qt::Key_Delete, Qt::ShiftModifier);
    checkInStep(box);
    QCOMPARE(GetPaneBytes(h), QByteArray("\0\0c", 3));
    QCOMPARE(GetBytesFromClipboard(h), QByteArray("cd"));
    box.setSelStart(0);
    QTest::keyClick(&box, Qt::Key_Insert, Qt::ShiftModifier);
    checkInStep(box);
    QCOMPARE(GetPaneBytes(h), QByteArray("cd\0\0c", 5));
    box.setSelStart(4);
    box.setSelLength(1);
    QTest::keyClick(&box, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(GetBytesFromClipboard(h), QByteArray("c"));
    QCOMPARE(GetPaneBytes(h), QByteArray("cd\0\0c", 5));
    DetachPane(&box);
}

void tst_PaneKeys::pastePrivateBlockWithNuls()
{
    PutBytesOnClipboard(0, QByteArray("\0\x01", 2));
    ByteLineEdit box;
    box.setText("ab");
    AttachPane(&box);
    box.setSelStart(1);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_V, QStringLiteral("v"), Qt::ControlModifier);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("a\0\x01"
                                                  "b",
                                                  4));
    QCOMPARE(box.Text(), QByteArray("a \x01"
                                    "b"));
    DetachPane(&box);
}

void tst_PaneKeys::pastePlainTextFromOtherProgram()
{
    QApplication::clipboard()->setText(QStringLiteral(u"line1\r\nline2\n\u00E9"));
    ByteLineEdit box;
    AttachPane(&box);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    // Text from other programs is UTF-8: e-acute arrives as its two bytes.
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("line1\r\nline2\n\xC3\xA9"));
    checkInStep(box);
    DetachPane(&box);
}

void tst_PaneKeys::copyWithoutSelectionKeepsClipboard()
{
    QApplication::clipboard()->setText(QStringLiteral("keep"));
    ByteLineEdit box;
    box.setText("abcd");
    AttachPane(&box);
    box.setSelStart(2);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("keep"));
    QVERIFY(!QApplication::clipboard()->mimeData()->hasFormat(QStringLiteral("NerovaBString")));
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("abcd"));
    DetachPane(&box);
}

void tst_PaneKeys::cutEvenWhenNothingUsableToPaste()
{
    // With nothing on the clipboard a paste removes the selection and
    // inserts nothing.
    QApplication::clipboard()->clear();
    ByteLineEdit box;
    box.setText("abcd");
    AttachPane(&box);
    box.setSelStart(1);
    box.setSelLength(2);
    QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    checkInStep(box);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("ad"));
    DetachPane(&box);
}

void tst_PaneKeys::tabMovesFocus()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *box = new ByteLineEdit;
    auto *next = new QLineEdit;
    layout->addWidget(box);
    layout->addWidget(next);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AttachPane(box);
    box->setFocus();
    QVERIFY(box->hasFocus());
    QTest::sendKeyEvent(QTest::Click, box, Qt::Key_Tab, QStringLiteral("\t"), Qt::NoModifier);
    QVERIFY(next->hasFocus());
    QCOMPARE(GetPaneBytes(box->hWnd()), QByteArray());
    QTest::sendKeyEvent(QTest::Click, next, Qt::Key_Backtab, QStringLiteral("\t"), Qt::ShiftModifier);
    QVERIFY(box->hasFocus());
    QTest::sendKeyEvent(QTest::Click, box, Qt::Key_Backtab, QStringLiteral("\t"), Qt::ShiftModifier);
    QVERIFY(!box->hasFocus());
    QCOMPARE(box->Text(), QByteArray());
    DetachPane(box);
}

void tst_PaneKeys::modifierMask_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("mask");
    QTest::newRow("none") << int(Qt::NoModifier) << 0;
    QTest::newRow("shift") << int(Qt::ShiftModifier) << 1;
    QTest::newRow("ctrl") << int(Qt::ControlModifier) << 2;
    QTest::newRow("alt") << int(Qt::AltModifier) << 4;
    QTest::newRow("all") << int(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier) << 7;
    QTest::newRow("meta and keypad ignored") << int(Qt::MetaModifier | Qt::KeypadModifier | Qt::ShiftModifier) << 1;
}

void tst_PaneKeys::modifierMask()
{
    QFETCH(int, modifiers);
    QFETCH(int, mask);
    QCOMPARE(ModifierMaskOf(Qt::KeyboardModifiers(modifiers)), mask);
}

QTEST_MAIN(tst_PaneKeys)
#include "tst_panekeys.moc"
