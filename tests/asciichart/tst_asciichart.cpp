#include "asciichart.h"

#include <QApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The ASCII chart's rows and how the dialog hands a code back.
class tst_AsciiChart : public QObject
{
    Q_OBJECT

private slots:
    void rowText_data();
    void rowText();
    void mnemonics_data();
    void mnemonics();
    void hexColumnLinesUp();
    void layout();
    void choose_data();
    void choose();
    void closeBoxLeavesChoice();
    void reopensAtRowZero();
};

static QByteArray bytes(const char *text, qsizetype n)
{
    return QByteArray(text, n);
}

void tst_AsciiChart::rowText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("row");

    QTest::newRow("0") << 0 << QByteArray(" 0\t    NUL      00");
    QTest::newRow("9") << 9 << QByteArray(" 9\t    TAB      09");
    QTest::newRow("13") << 13 << QByteArray(" 13   \t\r   CR \t     0D");
    QTest::newRow("65") << 65 << QByteArray(" 65   \tA   \t     41");
    QTest::newRow("127 no mnemonic") << 127 << QByteArray(" 127   \t\x7F   \t     7F");
    QTest::newRow("255") << 255 << QByteArray(" 255   \t\xFF   \t     FF");
    QTest::newRow("1") << 1 << bytes(" 1   \t\x01   SOH\t     01", 21);
    QTest::newRow("32 space") << 32 << QByteArray(" 32   \t    \t     20");
}

void tst_AsciiChart::rowText()
{
    QFETCH(int, code);
    QFETCH(QByteArray, row);
    QCOMPARE(AsciiChartRowText(code), row);
}

void tst_AsciiChart::mnemonics_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("mnemonic");
    const QList<QPair<int, const char *>> padded = {
        {8, "BS "},  {10, "LF "}, {11, "VT "}, {12, "FF "}, {13, "CR "}, {14, "SO "}, {15, "SI "}, {25, "EM "},
        {28, "FS "}, {29, "GS "}, {30, "RS "}, {31, "US "}, {27, "ESC"}, {16, "DLE"}, {26, "SUB"},
    };
    for (const auto &[code, name] : padded)
        QTest::addRow("%d", code) << code << QByteArray(name);
}

void tst_AsciiChart::mnemonics()
{
    QFETCH(int, code);
    QFETCH(QByteArray, mnemonic);
    const QByteArray row = AsciiChartRowText(code);
    // The mnemonic sits between the three blanks after the character and the
    // second TAB.
    const qsizetype firstTab = row.indexOf('\t');
    QCOMPARE(row.mid(firstTab + 2, 3), QByteArray("   "));
    QCOMPARE(row.mid(firstTab + 5, 3), mnemonic);
    QCOMPARE(row.at(firstTab + 8), '\t');
}

void tst_AsciiChart::hexColumnLinesUp()
{
    // With stops every eight cells the hex field starts at the same cell in
    // every row, and mnemonics four cells into the second column.
    for (int i = 0; i < 256; ++i) {
        const QString shown = AsciiChartRowDisplay(AsciiChartRowText(i));
        QCOMPARE(shown.size(), 23);
        QCOMPARE(shown.right(2), QString::asprintf("%02X", i));
        if (i > 0 && i < 32 && i != 9)
            QVERIFY2(shown.at(12) != QLatin1Char(' '), qPrintable(QString::number(i)));
    }
}

void tst_AsciiChart::layout()
{
    AsciiChart chart;
    QCOMPARE(chart.windowTitle(), QStringLiteral("ASCII Chart"));
    QCOMPARE(chart.size(), QSize(233, 210));
    QCOMPARE(chart.AsciiMenu->geometry(), QRect(8, 40, 217, 124));
    QCOMPARE(chart.AsciiOkButton->geometry(), QRect(40, 176, 77, 25));
    QCOMPARE(chart.AsciiCancelButton->geometry(), QRect(120, 176, 77, 25));
    QCOMPARE(chart.AsciiMenu->count(), 256);
    QCOMPARE(chart.AsciiMenu->currentRow(), 0);
    // The rows as the list shows them: tabs opened to stops every eight
    // cells, and row 13 with the code page 437 glyph of CR, not a control
    // character.
    QCOMPARE(chart.AsciiMenu->item(65)->text(), QStringLiteral(" 65     A            41"));
    QCOMPARE(chart.AsciiMenu->item(13)->text(), QStringLiteral(" 13     \u266A   CR       0D"));
    QVERIFY(chart.AsciiOkButton->isDefault());
    QCOMPARE(chart.focusWidget(), chart.AsciiMenu);
    QCOMPARE(chart.AsciiMenu->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(chart.AsciiOkButton->text(), QStringLiteral("&OK"));
    QCOMPARE(chart.AsciiCancelButton->text(), QStringLiteral("&Cancel"));
}

void tst_AsciiChart::choose_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("row");
    QTest::addColumn<QByteArray>("choice");

    QTest::newRow("OK at once gives NUL") << "ok" << -1 << QByteArray(1, '\0');
    QTest::newRow("OK on TAB row") << "ok" << 9 << QByteArray(1, '\t');
    QTest::newRow("Enter on row 255") << "enter" << 255 << QByteArray(1, '\xFF');
    QTest::newRow("double-click row 65") << "double" << 65 << QByteArray("A");
    QTest::newRow("Cancel clears") << "cancel" << 65 << QByteArray();
    QTest::newRow("Escape clears") << "escape" << 65 << QByteArray();
}

void tst_AsciiChart::choose()
{
    QFETCH(QString, how);
    QFETCH(int, row);
    QFETCH(QByteArray, choice);

    AsciiChoice = "stale";
    AsciiChart chart;
    QTimer::singleShot(0, &chart, [&] {
        if (row >= 0)
            chart.AsciiMenu->setCurrentRow(row);
        if (how == "ok") {
            chart.AsciiOkButton->click();
        } else if (how == "enter") {
            chart.AsciiMenu->setFocus();
            QTest::keyClick(chart.AsciiMenu, Qt::Key_Return);
        } else if (how == "double") {
            QListWidget *list = chart.AsciiMenu;
            list->doItemsLayout();
            list->scrollToItem(list->item(row), QAbstractItemView::PositionAtCenter);
            const QPoint at = list->visualItemRect(list->item(row)).center();
            // QTest's synthesized double-click does not reach item views in
            // Qt 6.4; a click followed by the double-click event does.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QMouseEvent dbl(QEvent::MouseButtonDblClick, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &dbl);
        } else if (how == "cancel") {
            chart.AsciiCancelButton->click();
        } else {
            QTest::keyClick(chart.AsciiMenu, Qt::Key_Escape);
        }
    });
    // A dialog that failed to close must fail the test, not hang it.
    QTimer::singleShot(5000, &chart, [&] { chart.done(-1); });
    const int result = chart.exec();
    QCOMPARE(AsciiChoice, choice);
    QCOMPARE(result, choice.isEmpty() ? int(QDialog::Rejected) : int(QDialog::Accepted));
}

void tst_AsciiChart::closeBoxLeavesChoice()
{
    AsciiChoice = "k";
    AsciiChart chart;
    QTimer::singleShot(0, &chart, [&] { chart.close(); });
    chart.exec();
    QCOMPARE(AsciiChoice, QByteArray("k"));
}

void tst_AsciiChart::reopensAtRowZero()
{
    {
        AsciiChart chart;
        QTimer::singleShot(0, &chart, [&] {
            chart.AsciiMenu->setCurrentRow(200);
            chart.AsciiOkButton->click();
        });
        chart.exec();
    }
    QCOMPARE(AsciiChoice, QByteArray(1, char(200)));
    AsciiChart again;
    QCOMPARE(again.AsciiMenu->currentRow(), 0);
    QVERIFY(again.AsciiMenu->item(0)->isSelected());
}

QTEST_MAIN(tst_AsciiChart)
#include "tst_asciichart.moc"
