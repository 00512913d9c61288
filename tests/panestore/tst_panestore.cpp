#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"

#include <QTest>

using namespace BinaryTextBox;

// The pane store: attaching, detaching, reading and replacing a pane's bytes,
// and the display form of bytes.
class tst_PaneStore : public QObject
{
    Q_OBJECT

private slots:
    void displayText_data();
    void displayText();
    void attachTakesTextAsBytes();
    void missingAndDuplicateKeys_data();
    void missingAndDuplicateKeys();
    void receiveAppendKeepsInvariant();
    void clearLeavesEmptyEntry();
    void panesAreIndependent();
    void detachRemovesFilterAndEntries();
    void appendDoesNotTouchOtherCopies();
};

void tst_PaneStore::displayText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("shown");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("NUL A NUL") << QByteArray("\0A\0", 3) << QByteArray(" A ");
    QByteArray controls;
    for (int i = 1; i <= 0x20; ++i)
        controls.append(char(i));
    QTest::newRow("controls and space unchanged") << controls << controls;
    QByteArray high;
    for (int i = 0x7F; i <= 0xFF; ++i)
        high.append(char(i));
    QTest::newRow("7F to FF unchanged") << high << high;
}

void tst_PaneStore::displayText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, shown);
    QCOMPARE(DisplayText(bytes), shown);
}

void tst_PaneStore::attachTakesTextAsBytes()
{
    ByteLineEdit box;
    box.setText("abc");
    AttachPane(&box);
    QVERIFY(IsAttached(box.hWnd()));
    QCOMPARE(PaneControl(box.hWnd()), &box);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("abc"));
    DetachPane(&box);
}

void tst_PaneStore::missingAndDuplicateKeys_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("attach twice") << "attach";
    QTest::newRow("detach unknown") << "detach";
    QTest::newRow("get unknown") << "get";
    QTest::newRow("set unknown") << "set";
    QTest::newRow("append unknown") << "append";
    QTest::newRow("detach twice") << "detachTwice";
    QTest::newRow("attach null") << "attachNull";
}

void tst_PaneStore::missingAndDuplicateKeys()
{
    QFETCH(QString, operation);
    ByteLineEdit box;
    box.setText("xy");
    const int h = box.hWnd();

    if (operation == "attach") {
        AttachPane(&box);
        QVERIFY_THROWS_EXCEPTION(PaneError, AttachPane(&box));
        // The failed attach changed nothing: one detach undoes the first.
        QCOMPARE(GetPaneBytes(h), QByteArray("xy"));
        DetachPane(&box);
        QVERIFY(!IsAttached(h));
    } else if (operation == "detach") {
        QVERIFY_THROWS_EXCEPTION(PaneError, DetachPane(&box));
    } else if (operation == "get") {
        QVERIFY_THROWS_EXCEPTION(PaneError, GetPaneBytes(h));
    } else if (operation == "set") {
        QVERIFY_THROWS_EXCEPTION(PaneError, SetPaneBytes(h, "a"));
        QVERIFY(!IsAttached(h));
    } else if (operation == "append") {
        QVERIFY_THROWS_EXCEPTION(PaneError, AppendPaneBytes(h, "a"));
        QVERIFY(!IsAttached(h));
    } else if (operation == "detachTwice") {
        AttachPane(&box);
        DetachPane(&box);
        QVERIFY_THROWS_EXCEPTION(PaneError, DetachPane(&box));
    } else {
        QVERIFY_THROWS_EXCEPTION(PaneError, AttachPane(nullptr));
    }
}

void tst_PaneStore::receiveAppendKeepsInvariant()
{
    ByteLineEdit box;
    box.setText("OK");
    box.setLocked(true);
    AttachPane(&box);
    const QByteArray received("\r\n");
    // As the receive path appends: the bytes, the caret to the new end.
    box.appendAtEnd(received);

    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("OK\r\n"));
    QCOMPARE(box.Text().size(), 4);
    QCOMPARE(box.SelStart(), 4);
    DetachPane(&box);
}

void tst_PaneStore::clearLeavesEmptyEntry()
{
    ByteLineEdit box;
    box.setText("abc");
    AttachPane(&box);
    box.setText(QByteArray());
    SetPaneBytes(box.hWnd(), QByteArray());
    QVERIFY(IsAttached(box.hWnd()));
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray());
    DetachPane(&box);
}

void tst_PaneStore::panesAreIndependent()
{
    ByteLineEdit one;
    ByteLineEdit two;
    QVERIFY(one.hWnd() != two.hWnd());
    one.setText("1");
    two.setText("2");
    AttachPane(&one);
    AttachPane(&two);
    SetPaneBytes(one.hWnd(), QByteArray("\0\0", 2));
    AppendPaneBytes(two.hWnd(), "x");
    QCOMPARE(GetPaneBytes(one.hWnd()), QByteArray("\0\0", 2));
    QCOMPARE(GetPaneBytes(two.hWnd()), QByteArray("2x"));
    DetachPane(&one);
    QCOMPARE(GetPaneBytes(two.hWnd()), QByteArray("2x"));
    DetachPane(&two);
}

void tst_PaneStore::detachRemovesFilterAndEntries()
{
    ByteLineEdit box;
    AttachPane(&box);
    // Attached: Enter is the pane's own key and inserts CR LF.
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(box.Text(), QByteArray("\r\n"));
    DetachPane(&box);
    QVERIFY(!IsAttached(box.hWnd()));
    QCOMPARE(PaneControl(box.hWnd()), nullptr);
    // Detached: the box's own handling is back, which leaves Enter alone.
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(box.Text(), QByteArray("\r\n"));
    // And it can be attached again afterwards.
    AttachPane(&box);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("\r\n"));
    DetachPane(&box);
}

void tst_PaneStore::appendDoesNotTouchOtherCopies()
{
    ByteLineEdit box;
    box.setText("ab");
    AttachPane(&box);
    const QByteArray before = GetPaneBytes(box.hWnd());
    AppendPaneBytes(box.hWnd(), QByteArray("\0c", 2));
    QCOMPARE(before, QByteArray("ab"));
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("ab\0c", 4));
    DetachPane(&box);
}

QTEST_MAIN(tst_PaneStore)
#include "tst_panestore.moc"
