#include "byteexport.h"

#include <QTest>

using namespace ByteExport;

// The forms selected bytes are exported in. The text forms must carry every
// byte value exactly, so each is checked against its exact text and the
// escaped form is read back.
class tst_ByteExport : public QObject
{
    Q_OBJECT

private slots:
    void formats_data();
    void formats();
    void escapedRoundTripsEveryByte();
    void unescapeRejects_data();
    void unescapeRejects();
};

void tst_ByteExport::formats_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("raw joins the pieces") << int(Format::Raw) << QByteArray("AT\r\n\0\xFF\"\\", 8);
    QTest::newRow("hex a piece a line") << int(Format::Hex) << QByteArray("41 54 0D 0A\n00 FF 22 5C\n");
    QTest::newRow("C array") << int(Format::CArray)
                             << QByteArray("const unsigned char bytes[8] = {\n"
                                           "    0x41, 0x54, 0x0D, 0x0A,\n"
                                           "    0x00, 0xFF, 0x22, 0x5C,\n"
                                           "};\n");
    QTest::newRow("escaped") << int(Format::Escaped) << QByteArray("\"AT\\r\\n\"\n\"\\x00\\xFF\\\"\\\\\"\n");
}

void tst_ByteExport::formats()
{
    QFETCH(int, format);
    QFETCH(QByteArray, expected);
    // An empty piece (a selected row without bytes) adds nothing.
    const QList<QByteArray> pieces{"AT\r\n", {}, QByteArray("\0\xFF\"\\", 4)};
    QCOMPARE(Export(Format(format), pieces), expected);
    QCOMPARE(Export(Format(format), {{}, {}}), QByteArray());
}

void tst_ByteExport::escapedRoundTripsEveryByte()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    // A long piece wraps the C array at 16 a line; the escaped form of all
    // 256 values reads back exactly, alone and as several pieces.
    const QByteArray array = Export(Format::CArray, {all});
    QCOMPARE(array.count('\n'), 256 / 16 + 2);
    QVERIFY(array.contains("    0x10, 0x11,"));

    const QByteArray escaped = EscapedString(all);
    QCOMPARE(UnescapeStrings(escaped), std::optional<QByteArray>(all));
    const QList<QByteArray> pieces{all.left(100), all.mid(100, 1), all.mid(101)};
    QCOMPARE(UnescapeStrings(Export(Format::Escaped, pieces)), std::optional<QByteArray>(all));
    // Only printable ASCII in the text form.
    for (char c : escaped)
        QVERIFY(uchar(c) >= 0x20 && uchar(c) <= 0x7E);
    QVERIFY(escaped.contains("\\x7F\\x80"));
    QVERIFY(escaped.contains(" !\\\"#"));
}

void tst_ByteExport::unescapeRejects_data()
{
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("no quotes") << QByteArray("AT");
    QTest::newRow("unterminated") << QByteArray("\"AT");
    QTest::newRow("unknown escape") << QByteArray("\"\\q\"");
    QTest::newRow("one hex digit") << QByteArray("\"\\x4\"");
    QTest::newRow("hex escape cut short") << QByteArray("\"\\x");
    QTest::newRow("raw line break inside") << QByteArray("\"a\nb\"");
    QTest::newRow("raw high byte inside") << QByteArray("\"\xE9\"");
    QTest::newRow("text between strings") << QByteArray("\"a\" + \"b\"");
}

void tst_ByteExport::unescapeRejects()
{
    QFETCH(QByteArray, text);
    QCOMPARE(UnescapeStrings(text), std::nullopt);
}

QTEST_APPLESS_MAIN(tst_ByteExport)
#include "tst_byteexport.moc"
