#include "byteedit.h"

#include <QTest>

// The edit arithmetic behind every pane edit: selections read from a box may
// point past the end of the bytes, and must clamp rather than index outside.
class tst_ByteEdit : public QObject
{
    Q_OBJECT

private slots:
    void replace_data();
    void replace();
    void slice_data();
    void slice();
    void caretDeletes_data();
    void caretDeletes();
};

void tst_ByteEdit::replace_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<QByteArray>("insert");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("insert at caret") << QByteArray("abcd") << qsizetype(2) << qsizetype(0) << QByteArray("X")
                                     << QByteArray("abXcd");
    QTest::newRow("replace selection") << QByteArray("abcd") << qsizetype(1) << qsizetype(2) << QByteArray("X")
                                       << QByteArray("aXd");
    QTest::newRow("enter over selection")
        << QByteArray("abcd") << qsizetype(1) << qsizetype(2) << QByteArray("\r\n") << QByteArray("a\r\nd");
    QTest::newRow("delete selection") << QByteArray("abcd") << qsizetype(1) << qsizetype(2) << QByteArray()
                                      << QByteArray("ad");
    QTest::newRow("NULs kept") << QByteArray("a\0b", 3) << qsizetype(1) << qsizetype(0) << QByteArray("\0\1", 2)
                               << QByteArray("a\0\1\0b", 5);
    QTest::newRow("start past end appends")
        << QByteArray("ab") << qsizetype(9) << qsizetype(0) << QByteArray("Z") << QByteArray("abZ");
    QTest::newRow("length past end") << QByteArray("abcd") << qsizetype(2) << qsizetype(100) << QByteArray("Z")
                                     << QByteArray("abZ");
    QTest::newRow("huge length no overflow")
        << QByteArray("abcd") << qsizetype(1) << std::numeric_limits<qsizetype>::max() << QByteArray()
        << QByteArray("a");
    QTest::newRow("negative start") << QByteArray("abcd") << qsizetype(-3) << qsizetype(1) << QByteArray("Z")
                                    << QByteArray("Zbcd");
    QTest::newRow("empty store") << QByteArray() << qsizetype(0) << qsizetype(0) << QByteArray("\0", 1)
                                 << QByteArray("\0", 1);
}

void tst_ByteEdit::replace()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, length);
    QFETCH(QByteArray, insert);
    QFETCH(QByteArray, expected);

    QCOMPARE(ByteEdit::Replaced(bytes, start, length, insert), expected);
    ByteEdit::Replace(bytes, start, length, insert);
    QCOMPARE(bytes, expected);
}

void tst_ByteEdit::slice_data()
{
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<qsizetype>("to");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("middle") << qsizetype(1) << qsizetype(3) << QByteArray("b\0", 2);
    QTest::newRow("to past end") << qsizetype(2) << qsizetype(50) << QByteArray("\0d", 2);
    QTest::newRow("from past end") << qsizetype(7) << qsizetype(9) << QByteArray();
    QTest::newRow("empty range") << qsizetype(2) << qsizetype(2) << QByteArray();
    QTest::newRow("reversed") << qsizetype(3) << qsizetype(1) << QByteArray();
}

void tst_ByteEdit::slice()
{
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, to);
    QFETCH(QByteArray, expected);
    QCOMPARE(ByteEdit::Slice(QByteArray("ab\0d", 4), from, to), expected);
}

void tst_ByteEdit::caretDeletes_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<qsizetype>("caret");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("before caret 3") << "before" << qsizetype(3) << QByteArray("abd");
    QTest::newRow("before caret 0") << "before" << qsizetype(0) << QByteArray("abcd");
    QTest::newRow("before caret past end") << "before" << qsizetype(10) << QByteArray("abc");
    QTest::newRow("after caret 1") << "after" << qsizetype(1) << QByteArray("acd");
    QTest::newRow("after caret at end") << "after" << qsizetype(4) << QByteArray("abcd");
    QTest::newRow("truncate at 1") << "truncate" << qsizetype(1) << QByteArray("a");
    QTest::newRow("truncate past end") << "truncate" << qsizetype(8) << QByteArray("abcd");
}

void tst_ByteEdit::caretDeletes()
{
    QFETCH(QString, op);
    QFETCH(qsizetype, caret);
    QFETCH(QByteArray, expected);

    QByteArray bytes("abcd");
    if (op == "before")
        ByteEdit::DeleteBefore(bytes, caret);
    else if (op == "after")
        ByteEdit::DeleteAfter(bytes, caret);
    else
        ByteEdit::TruncateAt(bytes, caret);
    QCOMPARE(bytes, expected);
}

QTEST_APPLESS_MAIN(tst_ByteEdit)
#include "tst_byteedit.moc"
