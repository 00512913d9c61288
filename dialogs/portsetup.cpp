#include "portsetup.h"

#include "portreopen.h"
#include "helpwindow.h"
#include "keycodes.h"
#include "modestring.h"
#include "porterrorbox.h"
#include "serialportcontrol.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

// The dialog is laid out in twips; 15 twips make one pixel at 96 dpi.
int px(int twips)
{
    return qRound(twips / 15.0);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

template<typename List>
void fill(QComboBox *combo, const List &list)
{
    combo->clear();
    for (const auto &entry : list)
        combo->addItem(QString::fromUtf16(entry.text));
}

// An index from outside (the program-wide values) selects within the list, so
// the lists always show an entry and OK always stores a valid position.
void selectWithin(QComboBox *combo, qint32 index)
{
    combo->setCurrentIndex(std::clamp<qint32>(index, 0, combo->count() - 1));
}

} // namespace

PortSetup::PortSetup(SerialPortControl &comm, QWidget *terminalWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint)
    , m_comm(comm)
    , m_terminalWindow(terminalWindow)
{
    setObjectName(QStringLiteral("PortSetup"));
    setWindowTitle(QStringLiteral("Portlark - Serial Port Settings"));
    setFixedSize(px(5055), px(2250));
    setSizeGripEnabled(false);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(pal);
    setAutoFillBackground(true);

    QFont bold = QApplication::font();
    bold.setPointSizeF(8.25);
    bold.setBold(true);
    setFont(bold);

    struct LabelSpec
    {
        const char16_t *text;
        QRect rect;
    };
    const LabelSpec labels[5] = {
        {u"Baud Rate:", twipsRect(240, 240, 975, 195)},      {u"Data Bits:", twipsRect(240, 960, 855, 195)},
        {u"Parity:", twipsRect(240, 600, 555, 195)},         {u"Stop Bits:", twipsRect(240, 1320, 840, 195)},
        {u"Flow Control:", twipsRect(240, 1680, 1125, 195)},
    };
    for (int i = 0; i < 5; ++i) {
        Label1[i] = new QLabel(QString::fromUtf16(labels[i].text), this);
        Label1[i]->setObjectName(QStringLiteral("Label1_%1").arg(i));
        // The desktop's bold font runs wider than the captions' design widths;
        // the labels may take the room up to the lists so no caption is cut.
        QRect rect = labels[i].rect;
        rect.setWidth(std::max(rect.width(), px(1680 - 240) - 4));
        Label1[i]->setGeometry(rect);
    }

    auto makeCombo = [this](const char *name, QRect rect) {
        auto *combo = new QComboBox(this);
        combo->setObjectName(QString::fromLatin1(name));
        combo->setEditable(false);
        combo->setGeometry(rect);
        combo->installEventFilter(this);
        return combo;
    };
    BaudCombo = makeCombo("BaudCombo", twipsRect(1680, 240, 975, 300));
    ParityCombo = makeCombo("ParityCombo", twipsRect(1680, 600, 975, 315));
    DataBitsCombo = makeCombo("DataBitsCombo", twipsRect(1680, 960, 975, 315));
    StopBitsCombo = makeCombo("StopBitsCombo", twipsRect(1680, 1320, 975, 300));
    FlowCtrlCombo = makeCombo("FlowCtrlCombo", twipsRect(1680, 1680, 1575, 300));

    auto makeButton = [this](const char *name, const QString &text, QRect rect) {
        auto *button = new QPushButton(text, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(rect);
        return button;
    };
    OK_Button = makeButton("OK_Button", QStringLiteral("OK"), twipsRect(3720, 240, 1095, 375));
    Cancel_Button = makeButton("Cancel_Button", QStringLiteral("Cancel"), twipsRect(3720, 720, 1095, 375));
    HelpButton = makeButton("HelpButton", QStringLiteral("Help"), twipsRect(3720, 1200, 1095, 375));
    OK_Button->setDefault(true);
    OK_Button->installEventFilter(this);
    HelpButton->installEventFilter(this);

    connect(OK_Button, &QPushButton::clicked, this, &PortSetup::OK_Button_Click);
    connect(Cancel_Button, &QPushButton::clicked, this, &PortSetup::Cancel_Button_Click);
    connect(HelpButton, &QPushButton::clicked, this, &PortSetup::HelpButton_Click);

    QWidget *order[]
        = {OK_Button, Cancel_Button, BaudCombo, ParityCombo, DataBitsCombo, StopBitsCombo, FlowCtrlCombo, HelpButton};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    OK_Button->setFocus();

    Form_Load();
}

PortSetup::~PortSetup() = default;

void PortSetup::Form_Load()
{
    // Beside the terminal window, slightly left and down, but never off the
    // screen: a terminal window near the left edge would otherwise push the
    // dialog partly out of reach.
    QScreen *screen = m_terminalWindow ? m_terminalWindow->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        QPoint at = area.center() - QPoint(width() / 2, height() / 2);
        if (m_terminalWindow) {
            const QPoint terminal = m_terminalWindow->frameGeometry().topLeft();
            at = QPoint(terminal.x() - px(800), terminal.y() + px(340));
        }
        QSize frame = size();
        create();
        if (QWindow *handle = windowHandle()) {
            const QMargins m = handle->frameMargins();
            frame += QSize(m.left() + m.right(), m.top() + m.bottom());
        }
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - frame.width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height())));
        move(at);
    }

    fill(BaudCombo, BaudList);
    fill(DataBitsCombo, DataBitsList);
    fill(ParityCombo, ParityList);
    fill(StopBitsCombo, StopBitsList);
    fill(FlowCtrlCombo, FlowControlList);

    ParseModeString(ModeString, BaudIndex, ParityIndex, DataBitsIndex, StopBitsIndex);

    selectWithin(BaudCombo, BaudIndex);
    selectWithin(ParityCombo, ParityIndex);
    selectWithin(DataBitsCombo, DataBitsIndex);
    selectWithin(StopBitsCombo, StopBitsIndex);
    // A flow-control number without an entry (3 from the settings, or any
    // other) shows no selection, and OK keeps it unless the user picks one.
    const bool listed = HandshakeMode >= 0 && HandshakeMode < FlowCtrlCombo->count();
    FlowCtrlCombo->setCurrentIndex(listed ? HandshakeMode : -1);
}

void PortSetup::OK_Button_Click()
{
    BaudIndex = BaudCombo->currentIndex();
    ParityIndex = ParityCombo->currentIndex();
    DataBitsIndex = DataBitsCombo->currentIndex();
    StopBitsIndex = StopBitsCombo->currentIndex();
    if (FlowCtrlCombo->currentIndex() >= 0)
        HandshakeMode = FlowCtrlCombo->currentIndex();

    // Always rebuilt, so a loosely written stored string becomes canonical.
    ModeString = BuildModeString(BaudIndex, ParityIndex, DataBitsIndex, StopBitsIndex);

    bool reopenFailed = false;
    bool reopened = false;
    if (m_comm.IsOpen()) {
        reopened = true;
        // A port that refuses the new settings would otherwise be left closed
        // without a word while the terminal still shows it as selected.
        reopenFailed = !ReopenPort(m_comm, {std::nullopt, ModeString, HandshakeMode, std::nullopt, std::nullopt});
    }

    accept();

    if (reopenFailed) {
        ShowPortNotAvailable(m_comm.LastError());
        emit portReopenFailed();
    } else if (reopened) {
        emit portReopened();
    }
}

void PortSetup::Cancel_Button_Click()
{
    QDialog::reject();
}

void PortSetup::reject()
{
    Cancel_Button_Click();
}

void PortSetup::HelpButton_Click()
{
    ShowHelpContents(this);
}

void PortSetup::helpKey(qint16 &keyCode)
{
    if (keyCode == VK_F1) {
        keyCode = 0;
        HelpButton_Click();
    }
}

void PortSetup::BaudCombo_KeyDown(qint16 &KeyCode, qint16)
{
    helpKey(KeyCode);
}

void PortSetup::ParityCombo_KeyDown(qint16 &KeyCode, qint16)
{
    helpKey(KeyCode);
}

void PortSetup::DataBitsCombo_KeyDown(qint16 &KeyCode, qint16)
{
    helpKey(KeyCode);
}

void PortSetup::StopBitsCombo_KeyDown(qint16 &KeyCode, qint16)
{
    helpKey(KeyCode);
}

void PortSetup::FlowCtrlCombo_KeyDown(qint16 &KeyCode, qint16)
{
    helpKey(KeyCode);
}

void PortSetup::OK_Button_KeyDown(qint16 &KeyCode, qint16)
{
    helpKey(KeyCode);
}

void PortSetup::HelpButton_KeyDown(qint16 &KeyCode, qint16)
{
    helpKey(KeyCode);
}

bool PortSetup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);

    const auto *key = static_cast<QKeyEvent *>(event);
    qint16 code = VirtualKeyOf(key->key());
    const qint16 shift = qint16(ModifierMaskOf(key->modifiers()));
    if (watched == BaudCombo)
        BaudCombo_KeyDown(code, shift);
    else if (watched == ParityCombo)
        ParityCombo_KeyDown(code, shift);
    else if (watched == DataBitsCombo)
        DataBitsCombo_KeyDown(code, shift);
    else if (watched == StopBitsCombo)
        StopBitsCombo_KeyDown(code, shift);
    else if (watched == FlowCtrlCombo)
        FlowCtrlCombo_KeyDown(code, shift);
    else if (watched == OK_Button)
        OK_Button_KeyDown(code, shift);
    else if (watched == HelpButton)
        HelpButton_KeyDown(code, shift);
    return code == 0;
}
