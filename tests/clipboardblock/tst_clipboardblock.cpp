#include "clipboardblock.h"

#include <QTest>

using namespace ClipboardBlock;

// The private clipboard block and the plain-text form of pane bytes. Blocks
// come from other processes, so parsing must survive anything.
class tst_ClipboardBlock : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void parseMalformed_data();
    void parseMalformed();
    void roundTripEveryByte();
    void plainText_data();
    void plainText();
    void bytesFromText_data();
    void bytesFromText();
};

void tst_ClipboardBlock::encode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("block");

    QTest::newRow("A NUL B") << QByteArray("A\0B", 3) << QByteArray("3,A\0B", 5);
    QTest::newRow("single NUL") << QByteArray(1, '\0') << QByteArray("1,\0", 3);
    QTest::newRow("comma in data") << QByteArray(",,") << QByteArray("2,,,");
    QTest::newRow("300 bytes") << QByteArray(300, '\xAA') << QByteArray("300,") + QByteArray(300, '\xAA');
}

void tst_ClipboardBlock::encode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, block);
    const QByteArray encoded = EncodeClipboardBlock(bytes);
    QCOMPARE(encoded, block);
    QCOMPARE(ParseClipboardBlock(encoded), bytes);
    if (bytes.size() == 300)
        QCOMPARE(encoded.size(), 304);
}

void tst_ClipboardBlock::parseMalformed_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("count 0 with data") << QByteArray("0,abc") << QByteArray();
    QTest::newRow("larger allocation, zeros after data") << QByteArray("2,ab\0\0\0\0", 8) << QByteArray("ab");
    QTest::newRow("count larger than data") << QByteArray("10,abc") << QByteArray("abc");
    QTest::newRow("count beyond 32 bits") << QByteArray("99999999999999999999,xy") << QByteArray("xy");
    QTest::newRow("count beyond 64 bits") << QByteArray(400, '9') + ",z" << QByteArray("z");
    QTest::newRow("negative count") << QByteArray("-5,abc") << QByteArray();
    QTest::newRow("no leading digit") << QByteArray("x3,abc") << QByteArray();
    QTest::newRow("no comma takes from first byte") << QByteArray("3abcdef") << QByteArray("3ab");
    QTest::newRow("digits only") << QByteArray("12345") << QByteArray("12345");
    QTest::newRow("comma at end") << QByteArray("4,") << QByteArray();
    QTest::newRow("empty block") << QByteArray() << QByteArray();
    QTest::newRow("lone comma") << QByteArray(",") << QByteArray();
    QTest::newRow("NUL inside count") << QByteArray("1\0,ab", 5) << QByteArray("a");
}

void tst_ClipboardBlock::parseMalformed()
{
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, expected);
    QCOMPARE(ParseClipboardBlock(block), expected);
}

void tst_ClipboardBlock::roundTripEveryByte()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    all += all;
    QCOMPARE(ParseClipboardBlock(EncodeClipboardBlock(all)), all);
}

void tst_ClipboardBlock::plainText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("plain");

    QTest::newRow("A NUL B gives A") << QByteArray("A\0B", 3) << QByteArray("A");
    QTest::newRow("leading NUL gives empty") << QByteArray("\0AB", 3) << QByteArray();
    QTest::newRow("high bytes unchanged") << QByteArray("\xE9\xFF\r\n") << QByteArray("\xE9\xFF\r\n");
}

void tst_ClipboardBlock::plainText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, plain);
    QCOMPARE(PlainTextPart(bytes), plain);
}

void tst_ClipboardBlock::bytesFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("CR LF kept") << QStringLiteral("a\r\nb\tc") << QByteArray("a\r\nb\tc");
    QTest::newRow("Latin-1 range as UTF-8")
        << QStringLiteral(u"\u00E9\u00A0\u0001") << QByteArray("\xC3\xA9\xC2\xA0\x01");
    QTest::newRow("stops at NUL") << QString::fromLatin1("ab\0cd", 5) << QByteArray("ab");
    QTest::newRow("beyond Latin-1 as UTF-8") << QStringLiteral(u"x\u20ACy") << QByteArray("x\xE2\x82\xACy");
    QTest::newRow("surrogate pair as one character") << QStringLiteral(u"\U0001F600") << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QString(QChar(0xD800)).toUtf8();
}

void tst_ClipboardBlock::bytesFromText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(BytesFromPlainText(text), bytes);
    // Text that other programs copy as UTF-8 pastes as exactly those bytes.
    QCOMPARE(BytesFromPlainText(QString::fromUtf8(bytes)), bytes);
}

QTEST_APPLESS_MAIN(tst_ClipboardBlock)
#include "tst_clipboardblock.moc"
