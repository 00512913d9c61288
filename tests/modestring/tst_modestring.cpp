#include "leadingnumber.h"
#include "modestring.h"

#include <QLocale>
#include <QTest>

#include <clocale>

class tst_ModeString : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberIgnoresDecimalCommaLocale();
    void leadingIntRounding_data();
    void leadingIntRounding();

    void parse_data();
    void parse();
    void buildCorners_data();
    void buildCorners();
    void buildOutOfRangeIsClamped_data();
    void buildOutOfRangeIsClamped();
    void roundTripEveryCombination();
    void listsAreShapedAsShown();
};

void tst_ModeString::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("plain") << "9600" << 9600.0;
    QTest::newRow("stops at comma") << "9600,N,8,1" << 9600.0;
    QTest::newRow("blank between digits") << "1 9200" << 19200.0;
    QTest::newRow("leading blanks") << "  19200 , even" << 19200.0;
    QTest::newRow("tab and line feed inside") << "\t1\n92\t00" << 19200.0;
    QTest::newRow("carriage return ends it") << "19\r200" << 19.0;
    QTest::newRow("negative sign") << "-12" << -12.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("blank after sign") << "- 3" << -3.0;
    QTest::newRow("fraction") << "1.5" << 1.5;
    QTest::newRow("trailing zero fraction") << "9600.0" << 9600.0;
    QTest::newRow("fraction without integer part") << ".5" << 0.5;
    QTest::newRow("point without fraction") << "8." << 8.0;
    QTest::newRow("exponent") << "96e2" << 9600.0;
    QTest::newRow("exponent with sign and blanks") << "1.5 E - 1x" << 0.15;
    QTest::newRow("exponent letter without digits") << "12east" << 12.0;
    QTest::newRow("letters") << "N" << 0.0;
    QTest::newRow("letters before digits") << "abc9600" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("only blanks") << "   " << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("comma is not a decimal separator") << "1,5" << 1.0;
}

void tst_ModeString::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(LeadingNumber(text), expected);
}

void tst_ModeString::leadingNumberIgnoresDecimalCommaLocale()
{
    // A desktop set to a decimal-comma language must not change how "1.5"
    // in a stored mode string reads, neither through Qt's locale nor C's.
    const QLocale qtDefault;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const double underQtGerman = LeadingNumber(u"1.5");
    QLocale::setDefault(qtDefault);
    QCOMPARE(underQtGerman, 1.5);

    const char *previous = std::setlocale(LC_ALL, nullptr);
    const QByteArray saved = previous ? QByteArray(previous) : QByteArray("C");
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE"))
        QSKIP("no decimal-comma locale installed");
    const double value = LeadingNumber(u"1.5");
    const double comma = LeadingNumber(u"1,5");
    std::setlocale(LC_ALL, saved.constData());
    QCOMPARE(value, 1.5);
    QCOMPARE(comma, 1.0);
}

void tst_ModeString::leadingIntRounding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("int16");
    QTest::addColumn<int>("int32");

    QTest::newRow("half rounds to even down") << "2.5" << 2 << 2;
    QTest::newRow("half rounds to even up") << "3.5" << 4 << 4;
    QTest::newRow("negative half") << "-0.5" << 0 << 0;
    QTest::newRow("above half") << "2.51" << 3 << 3;
    QTest::newRow("int16 saturates") << "40000" << 32767 << 40000;
    QTest::newRow("int16 saturates negative") << "-40000" << -32768 << -40000;
    QTest::newRow("huge saturates") << "1e40" << 32767 << 2147483647;
    QTest::newRow("letters") << "x" << 0 << 0;
}

void tst_ModeString::leadingIntRounding()
{
    QFETCH(QString, text);
    QFETCH(int, int16);
    QFETCH(int, int32);
    QCOMPARE(int(LeadingInt16(text)), int16);
    QCOMPARE(int(LeadingInt32(text)), int32);
}

void tst_ModeString::parse_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<QList<int>>("after");
    QTest::addColumn<QString>("built");

    const QList<int> zero{0, 0, 0, 0};
    // Indices that every listed value differs from, to see what was left alone.
    const QList<int> prior{1, 1, 1, 2};

    QTest::newRow("default") << "9600,N,8,1" << zero << QList<int>{6, 0, 3, 0} << "9600,N,8,1";
    QTest::newRow("lower-case parity") << "115200,e,7,2" << zero << QList<int>{10, 2, 2, 2} << "115200,E,7,2";
    QTest::newRow("blanks and parity word")
        << "  19200 , even , 7 , 1.5" << zero << QList<int>{7, 2, 2, 1} << "19200,E,7,1.5";
    QTest::newRow("rate outside list, first opening") << "150,N,8,1" << zero << QList<int>{0, 0, 3, 0} << "110,N,8,1";
    QTest::newRow("rate outside list keeps previous")
        << "150,N,8,1" << QList<int>{6, 0, 3, 0} << QList<int>{6, 0, 3, 0} << "9600,N,8,1";
    QTest::newRow("unknown parity letter") << "9600,X,8,1" << prior << QList<int>{6, 1, 3, 0} << "9600,O,8,1";
    QTest::newRow("empty") << "" << prior << prior << "300,O,6,2";
    QTest::newRow("rate alone") << "9600" << prior << QList<int>{6, 1, 1, 2} << "9600,O,6,2";
    QTest::newRow("rate and parity") << "9600,N" << prior << QList<int>{6, 0, 1, 2} << "9600,N,6,2";
    QTest::newRow("extra field ignored") << "9600,N,8,1,extra" << prior << QList<int>{6, 0, 3, 0} << "9600,N,8,1";
    QTest::newRow("one and a half stop bits") << "9600,N,8,1.5" << zero << QList<int>{6, 0, 3, 1} << "9600,N,8,1.5";
    QTest::newRow("stop bits 1.50") << "9600,N,8,1.50" << zero << QList<int>{6, 0, 3, 1} << "9600,N,8,1.5";
    QTest::newRow("stop bits 1.25 not listed") << "9600,N,8,1.25" << prior << QList<int>{6, 0, 3, 2} << "9600,N,8,2";
    QTest::newRow("rate 9600.0 matches") << "9600.0,S,5,2" << zero << QList<int>{6, 4, 0, 2} << "9600,S,5,2";
    QTest::newRow("blank inside rate") << "1 9200,M,6,1" << zero << QList<int>{7, 3, 1, 0} << "19200,M,6,1";
    QTest::newRow("data bits 8.5 not listed") << "9600,N,8.5,1" << prior << QList<int>{6, 0, 1, 0} << "9600,N,6,1";
    QTest::newRow("data bits 9 not listed") << "9600,N,9,1" << prior << QList<int>{6, 0, 1, 0} << "9600,N,6,1";
    QTest::newRow("parity tab is not trimmed") << "9600,\tE,8,1" << prior << QList<int>{6, 1, 3, 0} << "9600,O,8,1";
    QTest::newRow("empty parity field") << "9600,,8,1" << prior << QList<int>{6, 1, 3, 0} << "9600,O,8,1";
    QTest::newRow("parity word Space") << "300,Space,7,2" << zero << QList<int>{1, 4, 2, 2} << "300,S,7,2";
    QTest::newRow("parity None word") << "300,None,7,2" << prior << QList<int>{1, 0, 2, 2} << "300,N,7,2";
    QTest::newRow("negative rate") << "-9600,N,8,1" << prior << QList<int>{1, 0, 3, 0} << "300,N,8,1";
    QTest::newRow("exponent rate") << "1.152e5,N,8,1" << zero << QList<int>{10, 0, 3, 0} << "115200,N,8,1";
    QTest::newRow("garbage") << "hello world" << prior << prior << "300,O,6,2";
    QTest::newRow("commas only") << ",,," << prior << prior << "300,O,6,2";
}

void tst_ModeString::parse()
{
    QFETCH(QString, mode);
    QFETCH(QList<int>, before);
    QFETCH(QList<int>, after);
    QFETCH(QString, built);

    qint32 baud = before[0], parity = before[1], dataBits = before[2], stopBits = before[3];
    ParseModeString(mode, baud, parity, dataBits, stopBits);
    QCOMPARE((QList<int>{baud, parity, dataBits, stopBits}), after);
    QCOMPARE(BuildModeString(baud, parity, dataBits, stopBits), built);
}

void tst_ModeString::buildCorners_data()
{
    QTest::addColumn<QList<int>>("indices");
    QTest::addColumn<QString>("expected");

    QTest::newRow("all first") << QList<int>{0, 0, 0, 0} << "110,N,5,1";
    QTest::newRow("all last") << QList<int>{10, 4, 3, 2} << "115200,S,8,2";
    QTest::newRow("0 4 0 1") << QList<int>{0, 4, 0, 1} << "110,S,5,1.5";
    QTest::newRow("10 3 3 2") << QList<int>{10, 3, 3, 2} << "115200,M,8,2";
    QTest::newRow("10 0 0 0") << QList<int>{10, 0, 0, 0} << "115200,N,5,1";
    QTest::newRow("0 4 3 2") << QList<int>{0, 4, 3, 2} << "110,S,8,2";
    QTest::newRow("no combination refused") << QList<int>{6, 0, 0, 2} << "9600,N,5,2";
    QTest::newRow("even with 7 and 1.5") << QList<int>{10, 2, 2, 1} << "115200,E,7,1.5";
}

void tst_ModeString::buildCorners()
{
    QFETCH(QList<int>, indices);
    QFETCH(QString, expected);
    QCOMPARE(BuildModeString(indices[0], indices[1], indices[2], indices[3]), expected);
}

void tst_ModeString::buildOutOfRangeIsClamped_data()
{
    QTest::addColumn<QList<int>>("indices");
    QTest::addColumn<QString>("expected");

    QTest::newRow("negative") << QList<int>{-1, -1, -1, -1} << "110,N,5,1";
    QTest::newRow("past the end") << QList<int>{11, 5, 4, 3} << "115200,S,8,2";
    QTest::newRow("extremes") << QList<int>{INT_MIN, INT_MAX, INT_MIN, INT_MAX} << "110,S,5,2";
}

void tst_ModeString::buildOutOfRangeIsClamped()
{
    QFETCH(QList<int>, indices);
    QFETCH(QString, expected);
    QCOMPARE(BuildModeString(indices[0], indices[1], indices[2], indices[3]), expected);
}

void tst_ModeString::roundTripEveryCombination()
{
    // Every canonical string parses back to the positions it was built from,
    // whatever the positions held before.
    for (qint32 b = 0; b < qint32(BaudList.size()); ++b)
        for (qint32 p = 0; p < qint32(ParityList.size()); ++p)
            for (qint32 d = 0; d < qint32(DataBitsList.size()); ++d)
                for (qint32 s = 0; s < qint32(StopBitsList.size()); ++s) {
                    const QString mode = BuildModeString(b, p, d, s);
                    qint32 b2 = 5, p2 = 3, d2 = 1, s2 = 2;
                    ParseModeString(mode, b2, p2, d2, s2);
                    QVERIFY2(b2 == b && p2 == p && d2 == d && s2 == s, qPrintable(mode));
                }
}

void tst_ModeString::listsAreShapedAsShown()
{
    QCOMPARE(QString::fromUtf16(FlowControlList[1].text), QStringLiteral("Xon / Xoff"));
    for (std::size_t i = 0; i < FlowControlList.size(); ++i)
        QCOMPARE(FlowControlList[i].mode, qint32(i));
    for (const auto &entry : BaudList)
        QCOMPARE(QString::fromUtf16(entry.text), QString::number(entry.rate));
    QCOMPARE(ModeString, QStringLiteral("9600,N,8,1"));
    QCOMPARE((QList<int>{BaudIndex, ParityIndex, DataBitsIndex, StopBitsIndex, HandshakeMode}),
             (QList<int>{0, 0, 0, 0, 0}));
}

QTEST_APPLESS_MAIN(tst_ModeString)
#include "tst_modestring.moc"
