#include "clipboardblock.h"
#include "paneclipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>

using namespace BinaryTextBox;

// Copy and paste of pane bytes on the application clipboard: plain text beside
// the private block, and which one a paste takes.
class tst_PaneClipboard : public QObject
{
    Q_OBJECT

private slots:
    void init() { QApplication::clipboard()->clear(); }
    void copyPutsBothForms_data();
    void copyPutsBothForms();
    void emptyCopyLeavesClipboard();
    void pasteChoosesForm_data();
    void pasteChoosesForm();
};

static const QString kFormat = QString::fromLatin1(ClipboardBlock::FormatName);

void tst_PaneClipboard::copyPutsBothForms_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("plain"); // the text/plain data other programs get
    QTest::addColumn<QString>("text");     // what they read from it
    QTest::addColumn<QByteArray>("block");

    QTest::newRow("41 00 42") << QByteArray("A\0B", 3) << QByteArray("A") << QStringLiteral("A")
                              << QByteArray("3,A\0B", 5);
    QTest::newRow("leading NUL") << QByteArray("\0Z", 2) << QByteArray() << QString() << QByteArray("2,\0Z", 4);
    QTest::newRow("UTF-8 text goes out as itself")
        << QByteArray("\xC3\xA9\xE2\x82\xAC\r\n") << QByteArray("\xC3\xA9\xE2\x82\xAC\r\n")
        << QStringLiteral(u"\u00E9\u20AC\r\n") << QByteArray("7,\xC3\xA9\xE2\x82\xAC\r\n");
    QTest::newRow("bytes that are no UTF-8 go out unchanged")
        << QByteArray("a\xE9\xFF") << QByteArray("a\xE9\xFF") << QStringLiteral(u"a\uFFFD\uFFFD")
        << QByteArray("3,a\xE9\xFF");
    QTest::newRow("300 bytes") << QByteArray(300, 'q') << QByteArray(300, 'q') << QString(300, QLatin1Char('q'))
                               << QByteArray("300,") + QByteArray(300, 'q');
}

void tst_PaneClipboard::copyPutsBothForms()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, plain);
    QFETCH(QString, text);
    QFETCH(QByteArray, block);

    QVERIFY(PutBytesOnClipboard(1, bytes));
    const QMimeData *data = QApplication::clipboard()->mimeData();
    QVERIFY(data);
    QVERIFY(data->hasText());
    QCOMPARE(data->data(QStringLiteral("text/plain")), plain);
    QCOMPARE(data->text(), text);
    QCOMPARE(data->data(kFormat), block);
    QCOMPARE(GetBytesFromClipboard(1), bytes);
    QVERIFY(ClipboardHasText());
}

void tst_PaneClipboard::emptyCopyLeavesClipboard()
{
    QApplication::clipboard()->setText(QStringLiteral("from elsewhere"));
    QVERIFY(!PutBytesOnClipboard(1, QByteArray()));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("from elsewhere"));
    QVERIFY(!QApplication::clipboard()->mimeData()->hasFormat(kFormat));
}

void tst_PaneClipboard::pasteChoosesForm_data()
{
    QTest::addColumn<QString>("text");     // null: no plain text
    QTest::addColumn<QByteArray>("block"); // null: no private block
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain text only, CR LF kept")
        << QStringLiteral("x\r\ny\n") << QByteArray() << QByteArray("x\r\ny\n");
    QTest::newRow("plain text as its UTF-8") << QStringLiteral(u"\u00E9\u20AC\U0001F600") << QByteArray()
                                             << QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    QTest::newRow("neither form") << QString() << QByteArray() << QByteArray();
    QTest::newRow("block wins over text") << QStringLiteral("text") << QByteArray("2,\0\1", 4) << QByteArray("\0\1", 2);
    QTest::newRow("block count 0 wins, empty") << QStringLiteral("text") << QByteArray("0,abc") << QByteArray();
    QTest::newRow("empty block falls back to text") << QStringLiteral("text") << QByteArray("") << QByteArray("text");
    QTest::newRow("block larger allocation") << QString() << QByteArray("1,a\0\0\0", 6) << QByteArray("a");
    QTest::newRow("block claiming too much") << QString() << QByteArray("4000000000,ab") << QByteArray("ab");
}

void tst_PaneClipboard::pasteChoosesForm()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, expected);

    auto *data = new QMimeData;
    if (!text.isNull())
        data->setText(text);
    if (!block.isNull())
        data->setData(kFormat, block);
    data->setData(QStringLiteral("application/x-other"), "ignored");
    QApplication::clipboard()->setMimeData(data);
    QCOMPARE(GetBytesFromClipboard(1), expected);
    QCOMPARE(ClipboardHasText(), !text.isNull());
}

QTEST_MAIN(tst_PaneClipboard)
#include "tst_paneclipboard.moc"
