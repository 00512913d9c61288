#include "bytelineedit.h"
#include "bytetext.h"
#include "keystrokes.h"
#include "repaintthrottle.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPaintEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <set>

namespace {

// Where the box draws cell i: found from the pixels by selecting the cell
// and looking for the highlight, so hit-testing is checked against what the
// user sees, not against the box's own arithmetic.
struct Columns
{
    int left = -1;
    int right = -1; // exclusive
};

Columns paintedCell(ByteLineEdit *box, qsizetype i)
{
    const qsizetype oldStart = box->SelStart();
    const qsizetype oldLength = box->SelLength();
    box->setSelStart(i);
    box->setSelLength(1);
    QImage image(box->size(), QImage::Format_ARGB32);
    box->render(&image);
    const QRgb highlight = box->palette().color(QPalette::Highlight).rgb();
    Columns c;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixel(x, y) == highlight) {
                if (c.left < 0)
                    c.left = x;
                c.right = x + 1;
                break;
            }
        }
    }
    box->setSelStart(oldStart);
    box->setSelLength(oldLength);
    return c;
}

void click(ByteLineEdit *box, int x, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    QTest::mouseClick(box, Qt::LeftButton, m, QPoint(x, box->height() / 2));
}

} // namespace

class tst_ByteLineEdit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keys_data();
    void keys();
    void controlCharactersNeverReachTheText_data();
    void controlCharactersNeverReachTheText();
    void userEditsSignalButApiChangesDoNot();

    void selectionApi_data();
    void selectionApi();
    void appendKeepsCaretAndSelection();
    void setTextResetsCaret();

    void clipboardKeys_data();
    void clipboardKeys();
    void copyWithoutSelectionLeavesClipboard();

    void clickLandsOnPaintedCellAfterScroll_data();
    void clickLandsOnPaintedCellAfterScroll();
    void dragAndShiftClickSelect();
    void doubleClickSelectsWord_data();
    void doubleClickSelectsWord();
    void caretStaysInView();
    void receivedDataRepaintsOnlyTheCells();
    void streamedRowMatchesOnePaintedWhole();
    void everyByteHasItsOwnCell();

    void handlesAreUnique();
    void appendBytesKeepsValueSemantics();

private:
    ByteLineEdit *m_box = nullptr;
};

void tst_ByteLineEdit::init()
{
    m_box = new ByteLineEdit;
    m_box->resize(433, 25);
    m_box->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_box));
    m_box->activateWindow();
    m_box->setFocus();
}

void tst_ByteLineEdit::cleanup()
{
    delete m_box;
    m_box = nullptr;
}

void tst_ByteLineEdit::keys_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<KeyStrokes>("strokes");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<int>("caret");

    const auto shift = Qt::ShiftModifier;
    const auto ctrl = Qt::ControlModifier;
    const QByteArray abcd("abcd");

    // Typing
    QTest::newRow("type in the middle") << abcd << 2 << 0 << false << KeyStrokes{typed('X')} << QByteArray("abXcd") << 3
                                        << 0 << 3;
    QTest::newRow("type replaces the selection")
        << abcd << 1 << 2 << false << KeyStrokes{typed('X')} << QByteArray("aXd") << 2 << 0 << 2;
    QTest::newRow("type a word") << QByteArray() << 0 << 0 << false << typed("hello") << QByteArray("hello") << 5 << 0
                                 << 5;
    QTest::newRow("type e acute is byte E9") << QByteArray("ab") << 1 << 0 << false << KeyStrokes{typed(0xE9)}
                                             << QByteArray("a\xE9"
                                                           "b")
                                             << 2 << 0 << 2;
    QTest::newRow("type y diaeresis is byte FF")
        << QByteArray() << 0 << 0 << false << KeyStrokes{typed(0xFF)} << QByteArray("\xFF") << 1 << 0 << 1;
    QTest::newRow("type space") << abcd << 4 << 0 << false << KeyStrokes{typed(' ')} << QByteArray("abcd ") << 5 << 0
                                << 5;
    QTest::newRow("euro sign has no byte")
        << abcd << 1 << 2 << false << KeyStrokes{typed(0x20AC)} << abcd << 1 << 2 << 3;
    QTest::newRow("U+0100 has no byte") << abcd << 2 << 0 << false << KeyStrokes{typed(0x100)} << abcd << 2 << 0 << 2;
    QTest::newRow("two characters in one key")
        << abcd << 4 << 0 << false << KeyStrokes{{Qt::Key_unknown, {}, QStringLiteral("\u00e9\u20ac!")}}
        << QByteArray("abcd\xE9!") << 6 << 0 << 6;
    QTest::newRow("Alt+letter types nothing")
        << abcd << 2 << 0 << false << KeyStrokes{typed('x', Qt::AltModifier)} << abcd << 2 << 0 << 2;
    QTest::newRow("tab types nothing") << abcd << 2 << 0 << false << KeyStrokes{key(Qt::Key_Tab)} << abcd << 2 << 0
                                       << 2;
    QTest::newRow("Ctrl+digit types nothing")
        << abcd << 2 << 0 << false << KeyStrokes{typed('1', ctrl)} << abcd << 2 << 0 << 2;

    // Backspace
    QTest::newRow("backspace at start") << abcd << 0 << 0 << false << KeyStrokes{key(Qt::Key_Backspace)} << abcd << 0
                                        << 0 << 0;
    QTest::newRow("backspace in the middle")
        << abcd << 2 << 0 << false << KeyStrokes{key(Qt::Key_Backspace)} << QByteArray("acd") << 1 << 0 << 1;
    QTest::newRow("backspace at end") << abcd << 4 << 0 << false << KeyStrokes{key(Qt::Key_Backspace)}
                                      << QByteArray("abc") << 3 << 0 << 3;
    QTest::newRow("backspace deletes the selection")
        << abcd << 1 << 2 << false << KeyStrokes{key(Qt::Key_Backspace)} << QByteArray("ad") << 1 << 0 << 1;
    QTest::newRow("ctrl+backspace deletes one byte")
        << abcd << 3 << 0 << false << KeyStrokes{key(Qt::Key_Backspace, ctrl)} << QByteArray("abd") << 2 << 0 << 2;
    QTest::newRow("shift+backspace deletes one byte")
        << abcd << 3 << 0 << false << KeyStrokes{key(Qt::Key_Backspace, shift)} << QByteArray("abd") << 2 << 0 << 2;

    // Delete and its variants
    QTest::newRow("delete at end") << abcd << 4 << 0 << false << KeyStrokes{key(Qt::Key_Delete)} << abcd << 4 << 0 << 4;
    QTest::newRow("delete after caret") << abcd << 1 << 0 << false << KeyStrokes{key(Qt::Key_Delete)}
                                        << QByteArray("acd") << 1 << 0 << 1;
    QTest::newRow("delete at start") << abcd << 0 << 0 << false << KeyStrokes{key(Qt::Key_Delete)} << QByteArray("bcd")
                                     << 0 << 0 << 0;
    QTest::newRow("delete the selection")
        << abcd << 1 << 2 << false << KeyStrokes{key(Qt::Key_Delete)} << QByteArray("ad") << 1 << 0 << 1;
    QTest::newRow("shift+delete deletes before caret")
        << abcd << 3 << 0 << false << KeyStrokes{key(Qt::Key_Delete, shift)} << QByteArray("abd") << 2 << 0 << 2;
    QTest::newRow("shift+delete at start")
        << abcd << 0 << 0 << false << KeyStrokes{key(Qt::Key_Delete, shift)} << abcd << 0 << 0 << 0;
    QTest::newRow("shift+delete cuts the selection")
        << abcd << 1 << 2 << false << KeyStrokes{key(Qt::Key_Delete, shift)} << QByteArray("ad") << 1 << 0 << 1;
    QTest::newRow("ctrl+delete deletes to end")
        << abcd << 1 << 0 << false << KeyStrokes{key(Qt::Key_Delete, ctrl)} << QByteArray("a") << 1 << 0 << 1;
    QTest::newRow("ctrl+delete at start")
        << abcd << 0 << 0 << false << KeyStrokes{key(Qt::Key_Delete, ctrl)} << QByteArray() << 0 << 0 << 0;
    QTest::newRow("ctrl+delete at end") << abcd << 4 << 0 << false << KeyStrokes{key(Qt::Key_Delete, ctrl)} << abcd << 4
                                        << 0 << 4;
    QTest::newRow("ctrl+delete with selection")
        << abcd << 1 << 2 << false << KeyStrokes{key(Qt::Key_Delete, ctrl)} << QByteArray("ad") << 1 << 0 << 1;
    QTest::newRow("ctrl+shift+delete is plain delete")
        << abcd << 1 << 0 << false << KeyStrokes{key(Qt::Key_Delete, ctrl | shift)} << QByteArray("acd") << 1 << 0 << 1;

    // Navigation and selection
    const QByteArray words("foo bar.baz  qux");
    QTest::newRow("left right") << abcd << 2 << 0 << false
                                << KeyStrokes{key(Qt::Key_Left), key(Qt::Key_Left), key(Qt::Key_Right)} << abcd << 1
                                << 0 << 1;
    QTest::newRow("left stops at start") << abcd << 0 << 0 << false << KeyStrokes{key(Qt::Key_Left)} << abcd << 0 << 0
                                         << 0;
    QTest::newRow("right stops at end") << abcd << 4 << 0 << false << KeyStrokes{key(Qt::Key_Right)} << abcd << 4 << 0
                                        << 4;
    QTest::newRow("home end") << abcd << 2 << 0 << false << KeyStrokes{key(Qt::Key_Home)} << abcd << 0 << 0 << 0;
    QTest::newRow("end") << abcd << 1 << 0 << false << KeyStrokes{key(Qt::Key_End)} << abcd << 4 << 0 << 4;
    QTest::newRow("shift+left twice selects backwards")
        << QByteArray("abcdef") << 3 << 0 << false << KeyStrokes{key(Qt::Key_Left, shift), key(Qt::Key_Left, shift)}
        << QByteArray("abcdef") << 1 << 2 << 1;
    QTest::newRow("shift+end selects to end")
        << QByteArray("abcdef") << 3 << 0 << false << KeyStrokes{key(Qt::Key_End, shift)} << QByteArray("abcdef") << 3
        << 3 << 6;
    QTest::newRow("shift+home then shift+right")
        << QByteArray("abcdef") << 3 << 0 << false << KeyStrokes{key(Qt::Key_Home, shift), key(Qt::Key_Right, shift)}
        << QByteArray("abcdef") << 1 << 2 << 1;
    QTest::newRow("left collapses to selection start")
        << abcd << 1 << 2 << false << KeyStrokes{key(Qt::Key_Left)} << abcd << 1 << 0 << 1;
    QTest::newRow("right collapses to selection end")
        << abcd << 1 << 2 << false << KeyStrokes{key(Qt::Key_Right)} << abcd << 3 << 0 << 3;
    QTest::newRow("keypad home") << abcd << 3 << 0 << false << KeyStrokes{key(Qt::Key_Home, Qt::KeypadModifier)} << abcd
                                 << 0 << 0 << 0;
    QTest::newRow("ctrl+right word by word")
        << words << 0 << 0 << false << KeyStrokes{key(Qt::Key_Right, ctrl)} << words << 4 << 0 << 4;
    QTest::newRow("ctrl+right stops at punctuation")
        << words << 4 << 0 << false << KeyStrokes{key(Qt::Key_Right, ctrl)} << words << 7 << 0 << 7;
    QTest::newRow("ctrl+right skips double blank")
        << words << 8 << 0 << false << KeyStrokes{key(Qt::Key_Right, ctrl)} << words << 13 << 0 << 13;
    QTest::newRow("ctrl+right to end") << words << 13 << 0 << false << KeyStrokes{key(Qt::Key_Right, ctrl)} << words
                                       << 16 << 0 << 16;
    QTest::newRow("ctrl+left word by word")
        << words << 16 << 0 << false
        << KeyStrokes{key(Qt::Key_Left, ctrl), key(Qt::Key_Left, ctrl), key(Qt::Key_Left, ctrl)} << words << 7 << 0
        << 7;
    QTest::newRow("ctrl+left from inside a word")
        << words << 6 << 0 << false << KeyStrokes{key(Qt::Key_Left, ctrl)} << words << 4 << 0 << 4;
    QTest::newRow("ctrl+left over leading blanks")
        << QByteArray("   ab") << 2 << 0 << false << KeyStrokes{key(Qt::Key_Left, ctrl)} << QByteArray("   ab") << 0
        << 0 << 0;
    QTest::newRow("ctrl+shift+right selects a word")
        << words << 4 << 0 << false << KeyStrokes{key(Qt::Key_Right, ctrl | shift)} << words << 4 << 3 << 7;
    QTest::newRow("control glyph bytes are not word bytes") << QByteArray("ab\x01\x02"
                                                                          "cd")
                                                            << 0 << 0 << false << KeyStrokes{key(Qt::Key_Right, ctrl)}
                                                            << QByteArray("ab\x01\x02"
                                                                          "cd")
                                                            << 2 << 0 << 2;
    QTest::newRow("ctrl+a selects all") << abcd << 2 << 0 << false << KeyStrokes{key(Qt::Key_A, ctrl)} << abcd << 0 << 4
                                        << 4;
    QTest::newRow("type after ctrl+a replaces all")
        << abcd << 2 << 0 << false << KeyStrokes{key(Qt::Key_A, ctrl), typed('z')} << QByteArray("z") << 1 << 0 << 1;

    // Locked: no editing, but selection and navigation
    QTest::newRow("locked ignores typing") << abcd << 1 << 2 << true << KeyStrokes{typed('X')} << abcd << 1 << 2 << 3;
    QTest::newRow("locked ignores backspace")
        << abcd << 2 << 0 << true << KeyStrokes{key(Qt::Key_Backspace)} << abcd << 2 << 0 << 2;
    QTest::newRow("locked ignores delete")
        << abcd << 1 << 2 << true << KeyStrokes{key(Qt::Key_Delete)} << abcd << 1 << 2 << 3;
    QTest::newRow("locked ignores shift+delete")
        << abcd << 2 << 0 << true << KeyStrokes{key(Qt::Key_Delete, shift)} << abcd << 2 << 0 << 2;
    QTest::newRow("locked ignores ctrl+delete")
        << abcd << 1 << 0 << true << KeyStrokes{key(Qt::Key_Delete, ctrl)} << abcd << 1 << 0 << 1;
    QTest::newRow("locked ignores cut") << abcd << 1 << 2 << true << KeyStrokes{key(Qt::Key_X, ctrl)} << abcd << 1 << 2
                                        << 3;
    QTest::newRow("locked selects") << abcd << 1 << 0 << true
                                    << KeyStrokes{key(Qt::Key_Right, shift), key(Qt::Key_End, shift)} << abcd << 1 << 3
                                    << 4;
    QTest::newRow("locked select all") << abcd << 1 << 0 << true << KeyStrokes{key(Qt::Key_A, ctrl)} << abcd << 0 << 4
                                       << 4;
}

void tst_ByteLineEdit::keys()
{
    QFETCH(QByteArray, text);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(bool, locked);
    QFETCH(KeyStrokes, strokes);

    m_box->setText(text);
    m_box->setSelStart(start);
    m_box->setSelLength(length);
    m_box->setLocked(locked);
    send(m_box, strokes);

    QTEST(m_box->Text(), "expected");
    QTEST(int(m_box->SelStart()), "selStart");
    QTEST(int(m_box->SelLength()), "selLength");
    QTEST(int(m_box->cursorPosition()), "caret");
}

void tst_ByteLineEdit::controlCharactersNeverReachTheText_data()
{
    QTest::addColumn<KeyStroke>("stroke");
    QTest::addColumn<bool>("accepted");

    // A plain key whose text is a control code is consumed so it does not
    // act elsewhere; Enter, Escape and Tab are left to the window.
    QTest::newRow("ctrl+z") << key(Qt::Key_Z, Qt::ControlModifier) << false;
    QTest::newRow("raw SOH without modifiers") << KeyStroke{Qt::Key_unknown, {}, QStringLiteral("\x01")} << true;
    QTest::newRow("raw NUL") << KeyStroke{Qt::Key_unknown, {}, QString(QChar(0))} << true;
    QTest::newRow("raw unit separator") << KeyStroke{Qt::Key_unknown, {}, QStringLiteral("\x1f")} << true;
    QTest::newRow("return") << key(Qt::Key_Return) << false;
    QTest::newRow("enter") << KeyStroke{Qt::Key_Enter, Qt::KeypadModifier, QStringLiteral("\r")} << false;
    QTest::newRow("escape") << key(Qt::Key_Escape) << false;
}

void tst_ByteLineEdit::controlCharactersNeverReachTheText()
{
    QFETCH(KeyStroke, stroke);
    m_box->setText("abcd");
    m_box->setSelStart(1);
    m_box->setSelLength(2);

    QKeyEvent press(QEvent::KeyPress, stroke.key, stroke.modifiers, stroke.text);
    QApplication::sendEvent(m_box, &press);

    QCOMPARE(m_box->Text(), QByteArray("abcd"));
    QCOMPARE(m_box->SelStart(), 1);
    QCOMPARE(m_box->SelLength(), 2);
    QTEST(press.isAccepted(), "accepted");
}

void tst_ByteLineEdit::userEditsSignalButApiChangesDoNot()
{
    QSignalSpy edited(m_box, &ByteLineEdit::textEdited);
    m_box->setText("abc");
    m_box->appendText("def");
    m_box->setSelStart(1);
    m_box->setSelLength(1);
    m_box->setSelText("X");
    QCOMPARE(edited.count(), 0);

    send(m_box, {typed('y')});
    QCOMPARE(edited.count(), 1);
    send(m_box, {key(Qt::Key_Backspace), key(Qt::Key_Delete)});
    QCOMPARE(edited.count(), 3);
    // Nothing to delete: no edit, no signal.
    m_box->setSelStart(0);
    send(m_box, {key(Qt::Key_Backspace), key(Qt::Key_Left)});
    QCOMPARE(edited.count(), 3);
}

void tst_ByteLineEdit::selectionApi_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("insert");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<QByteArray>("selText");
    QTest::addColumn<QByteArray>("textAfterInsert");
    QTest::addColumn<int>("caretAfterInsert");

    QTest::newRow("inside") << 1 << 2 << QByteArray("XYZ") << 1 << 2 << QByteArray("bc") << QByteArray("aXYZdef") << 4;
    QTest::newRow("start clamped to end")
        << 99 << 0 << QByteArray("!") << 6 << 0 << QByteArray() << QByteArray("abcdef!") << 7;
    QTest::newRow("negative start clamped") << -5 << 1 << QByteArray("\x00\x01", 2) << 0 << 1 << QByteArray("a")
                                            << QByteArray("\x00\x01"
                                                          "bcdef",
                                                          7)
                                            << 2;
    QTest::newRow("length clamped") << 4 << 50 << QByteArray("-") << 4 << 2 << QByteArray("ef") << QByteArray("abcd-")
                                    << 5;
    QTest::newRow("negative length is none")
        << 2 << -3 << QByteArray("+") << 2 << 0 << QByteArray() << QByteArray("ab+cdef") << 3;
    QTest::newRow("empty insert deletes")
        << 0 << 6 << QByteArray() << 0 << 6 << QByteArray("abcdef") << QByteArray() << 0;
}

void tst_ByteLineEdit::selectionApi()
{
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QByteArray, insert);

    m_box->setText("abcdef");
    m_box->setSelStart(start);
    m_box->setSelLength(length);
    QTEST(int(m_box->SelStart()), "selStart");
    QTEST(int(m_box->SelLength()), "selLength");
    QTEST(m_box->SelText(), "selText");
    QCOMPARE(m_box->cursorPosition(), m_box->SelStart() + m_box->SelLength());

    m_box->setSelText(insert);
    // The box keeps the bytes exactly and shows a NUL as a blank.
    QTEST(m_box->bytes().toByteArray(), "textAfterInsert");
    QCOMPARE(m_box->Text(), DisplayText(m_box->bytes().toByteArray()));
    QTEST(int(m_box->SelStart()), "caretAfterInsert");
    QCOMPARE(m_box->SelLength(), 0);
}

void tst_ByteLineEdit::appendKeepsCaretAndSelection()
{
    m_box->setText("abcdef");
    // A selection made backwards keeps its moving end at the start.
    m_box->setSelStart(4);
    send(m_box, {key(Qt::Key_Left, Qt::ShiftModifier), key(Qt::Key_Left, Qt::ShiftModifier)});
    QCOMPARE(m_box->cursorPosition(), 2);

    m_box->appendText(QByteArray("\x00\xff\r\n", 4));
    QCOMPARE(m_box->bytes().toByteArray(), QByteArray("abcdef\x00\xff\r\n", 10));
    QCOMPARE(m_box->Text(), QByteArray("abcdef \xff\r\n"));
    QCOMPARE(m_box->SelStart(), 2);
    QCOMPARE(m_box->SelLength(), 2);
    QCOMPARE(m_box->cursorPosition(), 2);

    // Shift+End from there extends from the fixed end over the new bytes.
    send(m_box, {key(Qt::Key_End, Qt::ShiftModifier)});
    QCOMPARE(m_box->SelStart(), 4);
    QCOMPARE(m_box->SelLength(), 6);
}

void tst_ByteLineEdit::setTextResetsCaret()
{
    m_box->setText(QByteArray(500, 'x'));
    m_box->setSelStart(490);
    m_box->setSelLength(5);
    QVERIFY(m_box->firstVisibleCell() > 0);
    m_box->setText("short");
    QCOMPARE(m_box->Text(), QByteArray("short"));
    QCOMPARE(m_box->SelStart(), 0);
    QCOMPARE(m_box->SelLength(), 0);
    QCOMPARE(m_box->cursorPosition(), 0);
    QCOMPARE(m_box->firstVisibleCell(), 0);
}

void tst_ByteLineEdit::clipboardKeys_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<KeyStrokes>("strokes");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("clipboard");

    const auto ctrl = Qt::ControlModifier;
    const auto shift = Qt::ShiftModifier;
    // Text "a\xE9cd" with "\xE9c" selected, clipboard holding "old".
    QTest::newRow("ctrl+c") << false << KeyStrokes{key(Qt::Key_C, ctrl)}
                            << QByteArray("a\xE9"
                                          "cd")
                            << QStringLiteral("\u00e9c");
    QTest::newRow("ctrl+insert") << false << KeyStrokes{key(Qt::Key_Insert, ctrl)}
                                 << QByteArray("a\xE9"
                                               "cd")
                                 << QStringLiteral("\u00e9c");
    QTest::newRow("ctrl+x") << false << KeyStrokes{key(Qt::Key_X, ctrl)} << QByteArray("ad")
                            << QStringLiteral("\u00e9c");
    QTest::newRow("shift+delete cuts") << false << KeyStrokes{key(Qt::Key_Delete, shift)} << QByteArray("ad")
                                       << QStringLiteral("\u00e9c");
    QTest::newRow("ctrl+v") << false << KeyStrokes{key(Qt::Key_V, ctrl)} << QByteArray("aoldd")
                            << QStringLiteral("old");
    QTest::newRow("shift+insert") << false << KeyStrokes{key(Qt::Key_Insert, shift)} << QByteArray("aoldd")
                                  << QStringLiteral("old");
    QTest::newRow("locked copies") << true << KeyStrokes{key(Qt::Key_C, ctrl)}
                                   << QByteArray("a\xE9"
                                                 "cd")
                                   << QStringLiteral("\u00e9c");
    QTest::newRow("locked does not cut") << true << KeyStrokes{key(Qt::Key_X, ctrl)}
                                         << QByteArray("a\xE9"
                                                       "cd")
                                         << QStringLiteral("old");
    QTest::newRow("locked does not paste") << true << KeyStrokes{key(Qt::Key_V, ctrl)}
                                           << QByteArray("a\xE9"
                                                         "cd")
                                           << QStringLiteral("old");
}

void tst_ByteLineEdit::clipboardKeys()
{
    QFETCH(bool, locked);
    QFETCH(KeyStrokes, strokes);

    QApplication::clipboard()->setText(QStringLiteral("old"));
    m_box->setText("a\xE9"
                   "cd");
    m_box->setSelStart(1);
    m_box->setSelLength(2);
    m_box->setLocked(locked);
    send(m_box, strokes);

    QTEST(m_box->Text(), "expected");
    QTEST(QApplication::clipboard()->text(), "clipboard");
}

void tst_ByteLineEdit::copyWithoutSelectionLeavesClipboard()
{
    QApplication::clipboard()->setText(QStringLiteral("keep"));
    m_box->setText("abc");
    m_box->setSelStart(1);
    send(m_box, {key(Qt::Key_C, Qt::ControlModifier), key(Qt::Key_X, Qt::ControlModifier)});
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("keep"));
    QCOMPARE(m_box->Text(), QByteArray("abc"));

    // Pasting text with characters beyond Latin-1 keeps the ones with bytes.
    QApplication::clipboard()->setText(QStringLiteral("\u00e9\u0100z"));
    send(m_box, {key(Qt::Key_V, Qt::ControlModifier)});
    QCOMPARE(m_box->Text(), QByteArray("a\xE9zbc"));
    QCOMPARE(m_box->cursorPosition(), 3);
}

void tst_ByteLineEdit::clickLandsOnPaintedCellAfterScroll_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("fromEnd");

    QTest::newRow("1000 bytes, cell near the end") << 1000 << 12;
    QTest::newRow("1000 bytes, last cell") << 1000 << 1;
    QTest::newRow("1 MiB, cell near the end") << (1 << 20) << 7;
    QTest::newRow("1 MiB, last cell") << (1 << 20) << 1;
}

void tst_ByteLineEdit::clickLandsOnPaintedCellAfterScroll()
{
    QFETCH(int, size);
    QFETCH(int, fromEnd);

    // Blanks, so the highlight of a selected cell is not broken by a glyph.
    m_box->setText(QByteArray(size, ' '));
    m_box->setSelStart(size);
    const qsizetype first = m_box->firstVisibleCell();
    QVERIFY(first > 0);

    const qsizetype target = size - fromEnd;
    const Columns cell = paintedCell(m_box, target);
    QCOMPARE(m_box->firstVisibleCell(), first);
    QVERIFY2(cell.left >= 0, "selected cell not painted");
    QVERIFY(cell.right - cell.left >= 3);

    // Left part of the cell: caret before it; right part: after it.
    click(m_box, cell.left + 1);
    QCOMPARE(m_box->cursorPosition(), target);
    QCOMPARE(m_box->SelLength(), 0);
    click(m_box, cell.right - 2);
    QCOMPARE(m_box->cursorPosition(), target + 1);
    QCOMPARE(m_box->firstVisibleCell(), first);

    // Beyond the last cell: the end.
    click(m_box, m_box->width() - 3);
    QCOMPARE(m_box->cursorPosition(), size);

    // The neighbour to the left is painted right before it.
    const Columns before = paintedCell(m_box, target - 1);
    QCOMPARE(before.right, cell.left);
}

void tst_ByteLineEdit::dragAndShiftClickSelect()
{
    m_box->setText("0123456789abcdef");
    const Columns c2 = paintedCell(m_box, 2);
    const Columns c7 = paintedCell(m_box, 7);
    const Columns c11 = paintedCell(m_box, 11);
    const int y = m_box->height() / 2;

    QTest::mousePress(m_box, Qt::LeftButton, {}, QPoint(c7.left + 1, y));
    QTest::mouseMove(m_box, QPoint(c2.left + 1, y));
    QTest::mouseRelease(m_box, Qt::LeftButton, {}, QPoint(c2.left + 1, y));
    QCOMPARE(m_box->SelStart(), 2);
    QCOMPARE(m_box->SelLength(), 5);
    QCOMPARE(m_box->cursorPosition(), 2);

    // Shift+click moves the caret end and keeps the anchor at 7.
    click(m_box, c11.left + 1, Qt::ShiftModifier);
    QCOMPARE(m_box->SelStart(), 7);
    QCOMPARE(m_box->SelLength(), 4);

    // A plain click drops the selection.
    click(m_box, c2.left + 1);
    QCOMPARE(m_box->SelLength(), 0);
    QCOMPARE(m_box->cursorPosition(), 2);

    // A right click neither moves the caret nor selects.
    QTest::mouseClick(m_box, Qt::RightButton, {}, QPoint(c11.left + 1, y));
    QCOMPARE(m_box->cursorPosition(), 2);
}

void tst_ByteLineEdit::doubleClickSelectsWord_data()
{
    QTest::addColumn<int>("cell");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");

    // "foo bar.baz  \x01\x02qux"
    QTest::newRow("middle of a word") << 5 << 4 << 3;
    QTest::newRow("first letter") << 0 << 0 << 3;
    QTest::newRow("last letter") << 10 << 8 << 3;
    QTest::newRow("punctuation") << 7 << 7 << 1;
    QTest::newRow("blanks") << 12 << 11 << 2;
    QTest::newRow("control glyphs") << 13 << 13 << 2;
    QTest::newRow("word after control glyphs") << 16 << 15 << 3;
}

void tst_ByteLineEdit::doubleClickSelectsWord()
{
    QFETCH(int, cell);
    m_box->setText("foo bar.baz  \x01\x02qux");
    const Columns c = paintedCell(m_box, cell);
    QTest::mouseDClick(m_box, Qt::LeftButton, {}, QPoint((c.left + c.right) / 2, m_box->height() / 2));
    QTEST(int(m_box->SelStart()), "selStart");
    QTEST(int(m_box->SelLength()), "selLength");
}

void tst_ByteLineEdit::caretStaysInView()
{
    const int size = 5000;
    m_box->setText(QByteArray(size, ' '));
    send(m_box, {key(Qt::Key_End)});
    const qsizetype atEnd = m_box->firstVisibleCell();
    QVERIFY(atEnd > 0);
    // The last cell is on screen, and clicking at the far right is the end.
    QVERIFY(paintedCell(m_box, size - 1).left >= 0);

    // Walking left past the first visible cell scrolls one cell at a time.
    m_box->setSelStart(atEnd);
    QCOMPARE(m_box->firstVisibleCell(), atEnd);
    send(m_box, {key(Qt::Key_Left)});
    QCOMPARE(m_box->firstVisibleCell(), atEnd - 1);

    send(m_box, {key(Qt::Key_Home)});
    QCOMPARE(m_box->firstVisibleCell(), 0);

    // Deleting at the end of a scrolled text keeps the end at the right edge
    // rather than leaving blank space.
    send(m_box, {key(Qt::Key_End), key(Qt::Key_Backspace), key(Qt::Key_Backspace)});
    QCOMPARE(m_box->firstVisibleCell(), atEnd - 2);

    // A narrower box scrolls further to keep the caret in view.
    m_box->resize(200, 25);
    QVERIFY(m_box->firstVisibleCell() > atEnd - 2);
    QVERIFY(paintedCell(m_box, size - 3).left >= 0);
}

namespace {
// Keeps the area of every paint event a widget gets.
class PaintAreas : public QObject
{
public:
    explicit PaintAreas(QWidget *w) { w->installEventFilter(this); }
    QList<QRect> areas;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            areas.append(static_cast<QPaintEvent *>(event)->rect());
        return false;
    }
};
} // namespace

void tst_ByteLineEdit::receivedDataRepaintsOnlyTheCells()
{
    m_box->setLocked(true);
    QTest::qWait(3 * RepaintThrottle::LongestFrame); // let the first paint and any frame end
    PaintAreas paints(m_box);
    // Blocks arriving in bursts over several frames, as received data does.
    QByteArray sent;
    for (int burst = 0; burst < 6; ++burst) {
        for (int i = 0; i < 20; ++i) {
            const QByteArray block = QByteArray::number(burst * 100 + i) + ' ';
            m_box->appendAtEnd(block);
            sent += block;
        }
        QTest::qWait(RepaintThrottle::FrameInterval / 2);
    }
    QTRY_VERIFY(m_box->visibleText().endsWith(sent.right(20)));
    QTRY_VERIFY(!paints.areas.isEmpty());
    QTest::qWait(3 * RepaintThrottle::LongestFrame);
    // Every repaint is inside the frame: the styled panel is not drawn again
    // for data, however the frames fell.
    for (const QRect &area : std::as_const(paints.areas)) {
        QVERIFY2(
            area.left() > 0 && area.top() > 0 && area.right() < m_box->width() - 1
                && area.bottom() < m_box->height() - 1,
            qPrintable(QStringLiteral("%1,%2 %3x%4").arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height())));
    }
}

void tst_ByteLineEdit::streamedRowMatchesOnePaintedWhole()
{
    // Received blocks over many frames, fast and slow, repainting only the
    // cells of a box that paints every pixel of its own: what the window
    // shows is what one paint of the whole box draws, every byte value
    // included.
    m_box->setLocked(true);
    QTest::qWait(3 * RepaintThrottle::LongestFrame);
    const auto onScreen = [this] { return m_box->screen()->grabWindow(m_box->winId()).toImage(); };
    for (int frame = 0; frame < 30; ++frame) {
        QByteArray block;
        for (int i = 0; i < (frame < 15 ? 5 + frame % 4 : 90); ++i)
            block += char((frame * 37 + i * 11) & 0xff);
        m_box->appendAtEnd(block);
        QTest::qWait(RepaintThrottle::FrameInterval + 5);
    }
    QTest::qWait(3 * RepaintThrottle::LongestFrame);
    const QImage streamed = onScreen();
    m_box->repaint();
    QCOMPARE(streamed, onScreen());
}

void tst_ByteLineEdit::everyByteHasItsOwnCell()
{
    // All 256 byte values, each painted in a cell of the same width right
    // after the one before, whatever its glyph.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    m_box->resize(4000, 25);
    m_box->setText(all);
    const Columns c0 = paintedCell(m_box, 0);
    const int width = c0.right - c0.left;
    QVERIFY(width > 2);
    for (int b = 1; b < 256; b += 17) {
        const Columns c = paintedCell(m_box, b);
        QCOMPARE(c.left, c0.left + b * width);
    }
}

void tst_ByteLineEdit::handlesAreUnique()
{
    std::set<int> handles{m_box->hWnd()};
    for (int i = 0; i < 20; ++i) {
        ByteLineEdit other;
        QVERIFY(other.hWnd() > 0);
        QVERIFY(handles.insert(other.hWnd()).second);
    }
}

void tst_ByteLineEdit::appendBytesKeepsValueSemantics()
{
    // Growing through reserve must still detach a shared text and must cope
    // with free space left at the front by a removal.
    QByteArray text("abc");
    const QByteArray copy = text;
    AppendBytes(text, "de");
    QCOMPARE(text, QByteArray("abcde"));
    QCOMPARE(copy, QByteArray("abc"));

    QByteArray expected;
    QByteArray grown;
    int moves = 0;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray block(i % 97 + 1, char(i));
        const char *before = grown.constData();
        AppendBytes(grown, block);
        if (grown.constData() != before)
            ++moves;
        expected += block;
        if (i == 1500) {
            grown.remove(0, 1000);
            expected.remove(0, 1000);
        }
    }
    QCOMPARE(grown, expected);
    // Growth is geometric: some tens of moves for 3000 appends, not one each.
    QVERIFY2(moves < 100, qPrintable(QString::number(moves)));
    QVERIFY(grown.capacity() <= 2 * grown.size());

    AppendBytes(grown, QByteArrayView());
    QCOMPARE(grown, expected);
}

QTEST_MAIN(tst_ByteLineEdit)
#include "tst_bytelineedit.moc"
