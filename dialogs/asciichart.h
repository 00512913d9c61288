#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// The code chosen in the ASCII chart: one byte after OK or a double-click,
// empty after Cancel. The pane menu inserts it; the Tools menu discards it.
extern QByteArray AsciiChoice;

// The text of the chart's row for one byte value: decimal field, the byte
// itself (or its name for NUL and TAB), the control mnemonic below 32 and the
// upper-case hex value, separated by TABs that the list expands to stops every
// eight character cells.
QByteArray AsciiChartRowText(int code);

// How a row reads on screen: TABs expanded to the next multiple of eight
// cells, every other byte drawn as its code page 437 glyph.
QString AsciiChartRowDisplay(const QByteArray &row);

// A modal reference card of all 256 byte values that hands the chosen one back
// through AsciiChoice. Each opening builds the list afresh with row 0 selected.
class AsciiChart : public QDialog
{
    Q_OBJECT

public:
    explicit AsciiChart(QWidget *parent = nullptr);

    QListWidget *AsciiMenu = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *AsciiOkButton = nullptr;
    QPushButton *AsciiCancelButton = nullptr;

    void AsciiOkButton_Click();
    void AsciiCancelButton_Click();
    void AsciiMenu_DblClick(QListWidgetItem *item);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Form_Load();
};
