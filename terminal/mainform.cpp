#include "mainform.h"

#include "asciichart.h"
#include "binarytextbox.h"
#include "bytelineedit.h"
#include "comportmap.h"
#include "portreopen.h"
#include "frmabout.h"
#include "helpwindow.h"
#include "lightwidget.h"
#include "modestring.h"
#include "panestorage.h"
#include "portcombobox.h"
#include "portlarkicon.h"
#include "porterrorbox.h"
#include "portsdialog.h"
#include "portsetup.h"
#include "portstatelabel.h"
#include "repaintthrottle.h"
#include "replugwiring.h"
#include "sendingtools.h"
#include "sessioncontroller.h"
#include "timelinewindow.h"
#include "serialportcontrol.h"
#include "settingsstore.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <limits>
#include <utility>

namespace {

const QString kApp = QStringLiteral("NerovaPortlark");
const QString kSection = QStringLiteral("Settings");

// Form positions are in twips; 15 twips are one pixel at 96 dpi.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

int checkValue(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void setCheckValue(QCheckBox *box, int value)
{
    if (value == 2)
        box->setTristate(true);
    box->setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

// The form's boxes were laid out for a small dialog font; the desktop's
// default font may be wider. Shrink it just enough that every caption fits
// its fixed box, rather than cutting captions off.
void fitFontToBoxes(QWidget *client)
{
    QFont font = client->font();
    const QList<QWidget *> captions = client->findChildren<QWidget *>();
    auto fits = [&] {
        for (QWidget *w : captions) {
            if ((qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)) && w->sizeHint().width() > w->width())
                return false;
        }
        return true;
    };
    while (!fits() && font.pointSizeF() > 6.5) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        client->setFont(font);
    }
}

} // namespace

MainForm::MainForm(SerialPortControl *comm, SettingsStore *store, ComPortMap *ports, QWidget *parent)
    : QMainWindow(parent)
    , Comm1(comm)
    , m_store(store)
    , m_ports(ports)
{
    Comm1->setParent(this);
    setWindowTitle(QStringLiteral("Portlark"));
    setWindowIcon(PortlarkIcon());
    buildControls();
    fitFontToBoxes(centralWidget());
    buildMenus();
    connectHandlers();
    statusBar()->setSizeGripEnabled(true);
    portState = new PortStateLabel(statusBar());
    statusBar()->addPermanentWidget(portState);
    auto *session = new SessionController(Comm1, mnuSession, statusBar(), this);
    TimelineWindow::addToMenu(mnuSession, session, this);
    // A long session must not grow the program without bound: the input
    // pane's older bytes go to disk, beside the session's spool, and what the
    // disk cannot take is marked in the record.
    m_paneStorage = new PaneStorage(Text1, statusBar(), SessionRecord::defaultDirectory());
    SessionRecord *record = session->record();
    connect(m_paneStorage, &PaneStorage::bytesNotKept, record, [record](qint64 bytes, const QString &reason) {
        record->markNotKept(
            LineObserver::now(),
            QStringLiteral("Not kept in the input pane (%1): %2 bytes received").arg(reason).arg(bytes));
    });
    // Client area 6750 x 4635 twips, plus the menu and status bars.
    resize(px(6750), px(4635) + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
}

MainForm::~MainForm() = default;

void MainForm::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    auto label = [client](const QString &name, const QString &text, QRect geometry) {
        auto *l = new QLabel(text, client);
        l->setObjectName(name);
        l->setGeometry(geometry);
        return l;
    };

    Label1[2] = label(QStringLiteral("Label1_2"), QStringLiteral("Connector:"), twipsRect(240, 240, 1230, 225));

    Combo2 = new PortComboBox(client);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->setGeometry(twipsRect(240, 480, 1260, 315));
    Combo2->addItem(QStringLiteral("None"));
    for (int n = 1; n <= ComPortMap::MaxCom; ++n)
        Combo2->addItem(QStringLiteral("COM%1").arg(n));
    Combo2->setMaxVisibleItems(12);
    Combo2->setCurrentIndex(-1);

    Command3 = new QPushButton(QStringLiteral("Settings..."), client);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setGeometry(twipsRect(1560, 480, 975, 315));

    // Each light stands at the height of its caption.
    static constexpr struct
    {
        int light, top, labelLeft, labelTop;
        const char16_t *caption;
    } lights[] = {
        {1, 120, 3360, 90, u"Clear To Send (CTS):"},
        {2, 360, 3360, 330, u"Data Set Ready (DSR):"},
        {0, 630, 3345, 600, u"Carrier Detect (CD):"},
    };
    for (const auto &l : lights) {
        Shape1[l.light] = new LightWidget(client);
        Shape1[l.light]->setObjectName(QStringLiteral("Shape1_%1").arg(l.light));
        Shape1[l.light]->setGeometry(twipsRect(3120, l.top, 135, 135));
        Label2[l.light] = label(QStringLiteral("Label2_%1").arg(l.light), QString::fromUtf16(l.caption),
                                twipsRect(l.labelLeft, l.labelTop, 2310, 195));
    }

    chkDTR = new QCheckBox(QStringLiteral("Enable Data Terminal Ready (DTR)"), client);
    chkDTR->setObjectName(QStringLiteral("chkDTR"));
    chkDTR->setGeometry(twipsRect(3090, 960, 3015, 255));
    chkDTR->setCheckState(Qt::Checked);
    chkRTS = new QCheckBox(QStringLiteral("Enable Request To Send (RTS)"), client);
    chkRTS->setObjectName(QStringLiteral("chkRTS"));
    chkRTS->setGeometry(twipsRect(3090, 1200, 3015, 255));
    chkRTS->setCheckState(Qt::Checked);

    Label1[0] = label(QStringLiteral("Label1_0"), QStringLiteral("Input Data (from COM port)"),
                      twipsRect(120, 1965, 2745, 195));
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("Total Bytes Received:"), twipsRect(3675, 1965, 1695, 195));

    Text3 = new QLineEdit(QStringLiteral("0"), client);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setGeometry(twipsRect(5400, 1920, 1215, 285));
    Text3->setReadOnly(true);

    Text1 = new ByteLineEdit(client);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(120, 2280, 6495, 375));
    Text1->setLocked(true);

    Command1 = new QPushButton(QStringLiteral("Clear Input"), client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(120, 2760, 1215, 375));

    Label1[1] = label(QStringLiteral("Label1_1"), QStringLiteral("Output Data (to COM port)"),
                      twipsRect(120, 3360, 5385, 195));

    Text2 = new ByteLineEdit(client);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(twipsRect(120, 3600, 6495, 375));

    Command2 = new QPushButton(QStringLiteral("Send"), client);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twipsRect(120, 4080, 1215, 375));

    for (QPushButton *b : {Command1, Command2, Command3})
        b->setAutoDefault(false);

    const QList<QWidget *> order = {Text1, Text2, Command1, Command2, Combo2, Text3, chkDTR, chkRTS, Command3};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    // The window opens with the focus at the start of that order, not on the
    // port list, where a first arrow key or letter would change the port.
    Text1->setFocus();
}

void MainForm::buildMenus()
{
    auto action = [this](QMenu *menu, const QString &name, const QString &text) {
        QAction *a = menu->addAction(text);
        a->setObjectName(name);
        return a;
    };
    auto separator = [](QMenu *menu, const QString &name) {
        QAction *a = menu->addSeparator();
        a->setObjectName(name);
        return a;
    };

    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuSettings = action(mnuFile, QStringLiteral("mnuSettings"), QStringLiteral("&Settings..."));
    mnuSeperator1 = separator(mnuFile, QStringLiteral("mnuSeperator1"));
    mnuExit = action(mnuFile, QStringLiteral("mnuExit"), QStringLiteral("E&xit"));

    mnuTools = menuBar()->addMenu(QStringLiteral("&Tools"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    mnuASCIIChart = action(mnuTools, QStringLiteral("mnuASCIIChart"), QStringLiteral("ASCII Chart..."));

    mnuSession = menuBar()->addMenu(QStringLiteral("&Session"));
    mnuSession->setObjectName(QStringLiteral("mnuSession"));
    mnuPorts = action(mnuSession, QStringLiteral("mnuPorts"), QStringLiteral("&Ports..."));
    m_replug = new ReplugWiring(*Comm1, *m_ports, mnuSession, this);
    m_replug->setOpeningSource([this] { return selectedOpening(); });
    mnuSession->addSeparator();
    m_sending = new SendingTools(Comm1, mnuSession, statusBar(), this);

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuIndex = action(mnuHelp, QStringLiteral("mnuIndex"), QStringLiteral("&Index"));
    mnuSeperator2 = separator(mnuHelp, QStringLiteral("mnuSeperator2"));
    mnuAbout = action(mnuHelp, QStringLiteral("mnuAbout"), QStringLiteral("&About..."));
}

void MainForm::connectHandlers()
{
    connect(Combo2, &QComboBox::currentIndexChanged, this, &MainForm::onPortIndexChanged);
    connect(Combo2, &QComboBox::activated, this, &MainForm::onPortActivated);
    connect(Combo2, &PortComboBox::aboutToShowPopup, this, &MainForm::refreshPortTooltips);
    connect(chkDTR, &QCheckBox::stateChanged, this, &MainForm::chkDTR_Click);
    connect(chkRTS, &QCheckBox::stateChanged, this, &MainForm::chkRTS_Click);
    connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &MainForm::Command3_Click);
    connect(Comm1, &SerialPortControl::SerialEvent, this, &MainForm::Comm1_SerialEvent);
    connect(mnuSettings, &QAction::triggered, this, &MainForm::mnuSettings_Click);
    connect(mnuExit, &QAction::triggered, this, &MainForm::mnuExit_Click);
    connect(mnuASCIIChart, &QAction::triggered, this, &MainForm::mnuASCIIChart_Click);
    connect(mnuIndex, &QAction::triggered, this, &MainForm::mnuIndex_Click);
    connect(mnuAbout, &QAction::triggered, this, &MainForm::mnuAbout_Click);
    connect(mnuPorts, &QAction::triggered, this, &MainForm::mnuPorts_Click);
    connect(m_replug, &ReplugWiring::reopened, this, &MainForm::showReopened);
    connect(m_replug, &ReplugWiring::waitingChanged, this, [this] { showSelectedPortState(Comm1->IsOpen()); });
}

// ---- start-up and shutdown -------------------------------------------------

void MainForm::Form_Load()
{
    if (std::exchange(m_loaded, true))
        return;

    BinaryTextBox::AttachPane(Text1);
    BinaryTextBox::AttachPane(Text2);

    m_ports->readSettings(m_store->settings());
    refreshPortTooltips();

    ModeString = m_store->GetSetting(kSection, QStringLiteral("COMModeString"), QStringLiteral("9600,N,8,1"));
    // A stored value the program cannot apply (a check-box value other than
    // 0, 1, 2; a port outside the list; a number beyond the setting's width)
    // falls back to the key's default, so start-up always succeeds.
    setCheckValue(
        chkDTR,
        ReadStoredNumber(m_store->GetSetting(kSection, QStringLiteral("DTREnable"), QStringLiteral("1")), 0, 2, 1));
    setCheckValue(
        chkRTS,
        ReadStoredNumber(m_store->GetSetting(kSection, QStringLiteral("RTSEnable"), QStringLiteral("1")), 0, 2, 1));
    m_sending->readSettings(m_store->settings());
    m_replug->readSettings(m_store->settings());
    HandshakeMode = ReadStoredNumber(m_store->GetSetting(kSection, QStringLiteral("Handshake"), QStringLiteral("0")),
                                     std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), 0);
    // The list starts with nothing selected, so only a stored port from 0 up
    // changes the selection and runs the port handler.
    const int port = ReadStoredNumber(m_store->GetSetting(kSection, QStringLiteral("CommPort"), QStringLiteral("0")),
                                      -1, ComPortMap::MaxCom, 0);
    if (port != Combo2->currentIndex())
        Combo2->setCurrentIndex(port);
}

void MainForm::Form_Unload()
{
    if (!m_loaded || std::exchange(m_unloaded, true))
        return;

    BinaryTextBox::DetachPane(Text1);
    BinaryTextBox::DetachPane(Text2);

    if (m_portSetup)
        m_portSetup->reject();
    m_sending->stop();
    m_replug->stop();

    m_store->SaveSetting(kSection, QStringLiteral("COMModeString"), ModeString);
    m_store->SaveSetting(kSection, QStringLiteral("CommPort"), QString::number(Combo2->currentIndex()));
    m_store->SaveSetting(kSection, QStringLiteral("Handshake"), QString::number(HandshakeMode));
    m_store->SaveSetting(kSection, QStringLiteral("DTREnable"), QString::number(checkValue(chkDTR)));
    m_store->SaveSetting(kSection, QStringLiteral("RTSEnable"), QString::number(checkValue(chkRTS)));
    m_ports->writeSettings(m_store->settings());
    m_sending->writeSettings(m_store->settings());
    m_replug->writeSettings(m_store->settings());
    m_store->Flush();
}

void MainForm::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void MainForm::mnuExit_Click()
{
    close();
}

void MainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (std::exchange(m_centred, true))
        return;
    if (const QScreen *s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void MainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void MainForm::Form_Resize()
{
    if (!Text1)
        return;
    const int outerTwips = frameGeometry().width() * 15;
    if (outerTwips > 400) {
        const int width = px(outerTwips - 400);
        Text1->resize(width, Text1->height());
        Text2->resize(width, Text2->height());
    }
}

// ---- port selection ---------------------------------------------------------

void MainForm::onPortIndexChanged()
{
    Combo2_Click();
    m_skipNextActivation = true;
    QTimer::singleShot(0, this, [this] { m_skipNextActivation = false; });
}

void MainForm::onPortActivated()
{
    if (std::exchange(m_skipNextActivation, false))
        return;
    Combo2_Click();
}

void MainForm::Combo2_Click()
{
    const int index = Combo2->currentIndex();
    bool opened = false;
    if (index > 0) {
        opened = ReopenPort(*Comm1, selectedOpening());
        if (!opened) {
            ShowPortNotAvailable(Comm1->LastError());
            for (LightWidget *light : Shape1)
                light->setFillColor(LightWidget::Green);
        }
        setCheckValue(chkDTR, Comm1->DtrEnabled() ? 1 : 0);
        setCheckValue(chkRTS, Comm1->RtsEnabled() ? 1 : 0);
    } else {
        Comm1->IsOpen(false);
    }
    m_replug->portChosen(opened);
    setmodemlites();
    showSelectedPortState(opened);
}

PortOpening MainForm::selectedOpening() const
{
    return {Combo2->currentIndex(), ModeString, HandshakeMode, chkDTR->checkState() == Qt::Checked,
            chkRTS->checkState() == Qt::Checked};
}

void MainForm::showSelectedPortState(bool open, qint64 backAfterMs)
{
    PortState state;
    state.comNumber = Combo2->currentIndex();
    state.open = open;
    state.waiting = !open && m_replug->isWaiting();
    state.backAfterMs = open ? backAfterMs : -1;
    if (state.comNumber > 0) {
        state.device = Comm1->DeviceName();
        state.mode = Comm1->ModeSettings();
        if (!open)
            state.problem = Comm1->LastError();
    }
    setPortState(state);
}

void MainForm::setPortState(const PortState &state)
{
    portState->setState(state);
}

void MainForm::refreshPortTooltips()
{
    m_ports->assignPresentDevices();
    for (int n = 1; n <= ComPortMap::MaxCom; ++n)
        Combo2->setItemData(n, m_ports->describe(n), Qt::ToolTipRole);
}

// ---- receiving ---------------------------------------------------------------

void MainForm::Comm1_SerialEvent()
{
    const int code = Comm1->EventCode();
    if (code != SerialPortControl::EventReceive) {
        setmodemlites();
        if (code == SerialPortControl::EventDeviceGone)
            reportLostPort();
        return;
    }
    // The panes are detached at unload, while the port stays open until the
    // window is destroyed: what still arrives then has nowhere to go.
    if (m_unloaded) {
        while (Comm1->InputCount() > 0)
            Comm1->ReadInput();
        return;
    }

    QByteArray block;
    while (Comm1->InputCount() > 0)
        block += Comm1->ReadInput();
    if (block.isEmpty())
        return;

    // The box holds the pane's bytes: one append keeps them and shows them.
    Text1->appendAtEnd(block);
    m_paneStorage->appended();
    showReceivedCount();
}

void MainForm::showReceivedCount()
{
    // Setting a line edit's text lays it out and draws it, which at a
    // steady line costs more than taking in the data: a count that changes
    // with every block is redrawn at most every fifth frame (five times a
    // second), faster than anyone reads it.
    constexpr int CountEveryFrames = 5;
    RepaintThrottle::Coalesce(
        Text3, [this] { Text3->setText(QString::number(Text1->textLength())); }, CountEveryFrames);
}

void MainForm::reportLostPort()
{
    m_replug->portLost();
    // Back at once: the reopen has shown its own state.
    if (!Comm1->IsOpen())
        showSelectedPortState(false);
}

void MainForm::showReopened(qint64 goneMs)
{
    setmodemlites();
    showSelectedPortState(true, goneMs);
}

// ---- sending, clearing and line control -------------------------------------

void MainForm::Command2_Click()
{
    const QByteArray bytes = BinaryTextBox::GetPaneBytes(Text2->hWnd());
    if (!bytes.isEmpty())
        m_sending->send(bytes);
    // The closed port drops what it is given; the user must not take the
    // press for a send.
    if (!Comm1->IsOpen()) {
        PortState state = portState->state();
        state.nothingSent = true;
        setPortState(state);
    }
}

void MainForm::Command1_Click()
{
    BinaryTextBox::SetPaneBytes(Text1->hWnd(), QByteArray());
    Text3->setText(QStringLiteral("0"));
}

void MainForm::chkDTR_Click()
{
    if (chkDTR->checkState() != Qt::PartiallyChecked)
        chkDTR->setTristate(false);
    Comm1->DtrEnabled(chkDTR->checkState() == Qt::Checked);
}

void MainForm::chkRTS_Click()
{
    if (chkRTS->checkState() != Qt::PartiallyChecked)
        chkRTS->setTristate(false);
    Comm1->RtsEnabled(chkRTS->checkState() == Qt::Checked);
}

// ---- status lights -------------------------------------------------------------

void MainForm::setmodemlites()
{
    auto colour = [](bool active) { return active ? LightWidget::Red : LightWidget::Green; };
    Shape1[0]->setFillColor(colour(Comm1->CarrierDetect()));
    Shape1[1]->setFillColor(colour(Comm1->ClearToSend()));
    Shape1[2]->setFillColor(colour(Comm1->DataSetReady()));
}

// ---- dialogs -------------------------------------------------------------------

void MainForm::showPortSetup()
{
    PortSetup dialog(*Comm1, this);
    m_portSetup = &dialog;
    // A reopen with new settings changes the mode shown, or closes the port;
    // the lines may differ after it too.
    auto reopened = [this](bool open) {
        m_replug->portChosen(open);
        setmodemlites();
        showSelectedPortState(open);
    };
    connect(&dialog, &PortSetup::portReopened, this, [reopened] { reopened(true); });
    connect(&dialog, &PortSetup::portReopenFailed, this, [reopened] { reopened(false); });
    dialog.exec();
}

void MainForm::Command3_Click()
{
    showPortSetup();
}

void MainForm::mnuSettings_Click()
{
    showPortSetup();
}

void MainForm::mnuASCIIChart_Click()
{
    {
        AsciiChart chart;
        chart.exec();
    }
    AsciiChoice.clear();
}

void MainForm::mnuIndex_Click()
{
    ShowHelpIndex(this);
}

void MainForm::mnuPorts_Click()
{
    PortsDialog dialog(*m_ports, DeviceInventory::scan(), &PortsDialog::holderSummary, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    *m_ports = dialog.map();
    m_ports->writeSettings(m_store->settings());
    m_store->Flush();
    refreshPortTooltips();
}

void MainForm::mnuAbout_Click()
{
    frmAbout about;
    about.exec();
}
