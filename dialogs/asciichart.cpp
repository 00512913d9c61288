#include "asciichart.h"

#include "cp437.h"

#include <QFont>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

QByteArray AsciiChoice;

namespace {

// Three-character control mnemonics of codes 0..31, two-letter names padded
// with a blank on the right.
constexpr char kMnemonics[]
    = "NULSOHSTXETXEOTENQACKBELBS HT LF VT FF CR SO SI DLEDC1DC2DC3DC4NAKSYNETBCANEM SUBESCFS GS RS US ";
static_assert(sizeof(kMnemonics) - 1 == 96);

constexpr int kTabCells = 8;

// Dialog geometry is laid out in twips; 15 twips make one pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

QFont listFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"), 9);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

} // namespace

QByteArray AsciiChartRowText(int code)
{
    const int i = code & 0xFF;
    QByteArray hex = QByteArray::number(i, 16).toUpper();
    if (hex.size() == 1)
        hex.prepend('0');
    const QByteArray decimal = ' ' + QByteArray::number(i);

    QByteArray row = decimal;
    if (i == 0 || i == 9) {
        row += '\t';
        row += i == 0 ? "    NUL" : "    TAB";
        row += "      ";
    } else {
        row += "   ";
        row += '\t';
        row += char(i);
        row += "   ";
        if (i < 32)
            row += QByteArray(kMnemonics + 3 * i, 3);
        row += '\t';
        row += "     ";
    }
    row += hex;
    return row;
}

QString AsciiChartRowDisplay(const QByteArray &row)
{
    QString shown;
    shown.reserve(row.size() + 2 * kTabCells);
    for (const char c : row) {
        if (c == '\t') {
            do
                shown += QLatin1Char(' ');
            while (shown.size() % kTabCells != 0);
        } else {
            shown += QChar(Cp437Glyph(static_cast<unsigned char>(c)));
        }
    }
    return shown;
}

AsciiChart::AsciiChart(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("AsciiChart"));
    setWindowTitle(QStringLiteral("ASCII Chart"));
    setFixedSize(3495 / 15, 3150 / 15);
    setModal(true);

    QFont formFont = font();
    formFont.setBold(true);
    QFont buttonFont = font();
    buttonFont.setBold(false);

    AsciiMenu = new QListWidget(this);
    AsciiMenu->setObjectName(QStringLiteral("AsciiMenu"));
    AsciiMenu->setGeometry(twips(120, 600, 3255, 1860));
    AsciiMenu->setFont(listFont());
    AsciiMenu->setSelectionMode(QAbstractItemView::SingleSelection);
    AsciiMenu->setUniformItemSizes(true);
    QPalette listPalette = AsciiMenu->palette();
    listPalette.setColor(QPalette::Base, Qt::white);
    listPalette.setColor(QPalette::Text, Qt::black);
    AsciiMenu->setPalette(listPalette);

    Label2 = new QLabel(QStringLiteral("ASCII              Control"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twips(240, 120, 2175, 255));
    Label1 = new QLabel(QStringLiteral("Value   Char     Code"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(240, 360, 2055, 255));
    Label3 = new QLabel(QStringLiteral("Hex Value"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(twips(2640, 120, 855, 495));
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QLabel *label : {Label1, Label2, Label3}) {
        label->setFont(formFont);
        label->setTextFormat(Qt::PlainText);
    }

    AsciiOkButton = new QPushButton(QStringLiteral("&OK"), this);
    AsciiOkButton->setObjectName(QStringLiteral("AsciiOkButton"));
    AsciiOkButton->setGeometry(twips(600, 2640, 1155, 375));
    AsciiOkButton->setFont(buttonFont);
    AsciiOkButton->setDefault(true);
    AsciiCancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    AsciiCancelButton->setObjectName(QStringLiteral("AsciiCancelButton"));
    AsciiCancelButton->setGeometry(twips(1800, 2640, 1155, 375));
    AsciiCancelButton->setFont(buttonFont);

    setTabOrder(AsciiMenu, AsciiOkButton);
    setTabOrder(AsciiOkButton, AsciiCancelButton);

    connect(AsciiOkButton, &QPushButton::clicked, this, &AsciiChart::AsciiOkButton_Click);
    connect(AsciiCancelButton, &QPushButton::clicked, this, &AsciiChart::AsciiCancelButton_Click);
    connect(AsciiMenu, &QListWidget::itemDoubleClicked, this, &AsciiChart::AsciiMenu_DblClick);

    Form_Load();
    AsciiMenu->setFocus(Qt::OtherFocusReason);
}

void AsciiChart::Form_Load()
{
    AsciiMenu->clear();
    for (int i = 0; i < 256; ++i)
        AsciiMenu->addItem(AsciiChartRowDisplay(AsciiChartRowText(i)));
    AsciiMenu->setCurrentRow(0);
}

void AsciiChart::AsciiOkButton_Click()
{
    const int row = AsciiMenu->currentRow();
    // A single-selection list always has its current row; guard anyway so OK
    // can never hand back a value outside 0..255.
    AsciiChoice = QByteArray(1, char(row >= 0 && row < 256 ? row : 0));
    accept();
}

void AsciiChart::AsciiCancelButton_Click()
{
    AsciiChoice.clear();
    QDialog::reject();
}

void AsciiChart::AsciiMenu_DblClick(QListWidgetItem *item)
{
    if (item)
        AsciiMenu->setCurrentItem(item);
    AsciiOkButton_Click();
}

void AsciiChart::keyPressEvent(QKeyEvent *event)
{
    // Escape is the Cancel button; closing the window by the close box goes
    // through reject() and leaves the choice as it was.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        AsciiCancelButton_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}
