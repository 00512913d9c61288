// The terminal window against the scriptable fake control: start-up and
// shutdown with good and bad stored settings, port selection, receiving,
// sending, the line check boxes, the lights and the layout.

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "comportmap.h"
#include "fakeserialportcontrol.h"
#include "lightwidget.h"
#include "mainform.h"
#include "modestring.h"
#include "portcombobox.h"
#include "portsetup.h"
#include "portstatelabel.h"
#include "settingsstore.h"
#include "terminalfixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QStringList kLights
    = {QStringLiteral("read CarrierDetect"), QStringLiteral("read ClearToSend"), QStringLiteral("read DataSetReady")};

using Terminal = FakeTerminal;

// The check box's value as the settings store it: 0, 1, or 2 for grayed.
int value(const QCheckBox *box)
{
    return box->checkState() == Qt::Checked ? 1 : box->checkState() == Qt::PartiallyChecked ? 2 : 0;
}

QStringList portOpenSequence(int port, const QString &mode, const QStringList &flow, bool dtr, bool rts)
{
    QStringList ops = {QStringLiteral("IsOpen=false"), QStringLiteral("PortNumber=%1").arg(port),
                       QStringLiteral("ModeSettings=%1").arg(mode)};
    ops += flow;
    ops += {QStringLiteral("DtrEnabled=%1").arg(dtr ? "true" : "false"),
            QStringLiteral("RtsEnabled=%1").arg(rts ? "true" : "false"), QStringLiteral("IsOpen=true"),
            QStringLiteral("read IsOpen")};
    return ops;
}

} // namespace

class TestTerminal : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ModeString = QStringLiteral("9600,N,8,1");
        HandshakeMode = 0;
    }

    void storedNumbers_data();
    void storedNumbers();
    void firstRun();
    void startupOpensStoredPortLast();
    void startupWithNothingSelected();
    void startupWithUnavailablePort();
    void badStoredSettings_data();
    void badStoredSettings();
    void unwritableStore();
    void shutdownSavesFiveKeys_data();
    void shutdownSavesFiveKeys();
    void modeStringKeepsItsText_data();
    void modeStringKeepsItsText();
    void handshakeRule_data();
    void handshakeRule();
    void grayedCheckBoxOpensOff();
    void choosingNoneClosesOnly();
    void choosingOpenPortAgainReopens();
    void userChoiceRunsHandlerOnce();
    void failedOpenReportsOnceThenGreen();
    void receiveAppendsExactBytes();
    void receiveDrainsEverythingInOneEvent();
    void receiveMovesCaretToEnd();
    void receiveDuringModalBox();
    void lineEventsRefreshLightsOnly();
    void deviceGoneIsReported();
    void sendWritesStoreUnchanged();
    void clearInput();
    void checkBoxesDriveLines();
    void layoutMatchesForm_data();
    void layoutMatchesForm();
    void tabOrderAndMenus();
    void focusStartsOnInputPane();
    void portStateLineTellsTheTruth();
    void resizeWidensPanes();
};

void TestTerminal::storedNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << "12" << -1 << 32 << 12;
    QTest::newRow("letters read as 0") << "abc" << -1 << 32 << 0;
    QTest::newRow("empty reads as 0") << "" << -1 << 32 << 0;
    QTest::newRow("2.5 to even 2") << "2.5" << -1 << 32 << 2;
    QTest::newRow("3.5 to even 4") << "3.5" << -1 << 32 << 4;
    QTest::newRow("-0.5 to even 0") << "-0.5" << -1 << 32 << 0;
    QTest::newRow("seven then letters") << "7abc" << 0 << 10 << 7;
    QTest::newRow("blanks anywhere") << " \t1\n 2 " << -1 << 32 << 12;
    QTest::newRow("negative") << "-1" << -1 << 32 << -1;
    QTest::newRow("out of range gives fallback") << "99" << -1 << 32 << 0;
    QTest::newRow("below range gives fallback") << "-5" << -1 << 32 << 0;
    QTest::newRow("forty digits") << QString(40, u'9') << INT_MIN << INT_MAX << 0;
    QTest::newRow("overflowing exponent") << "1e400" << INT_MIN << INT_MAX << 0;
    QTest::newRow("32-bit limit kept") << "2147483647" << INT_MIN << INT_MAX << INT_MAX;
    QTest::newRow("exponent") << "1.2e1" << -1 << 32 << 12;
}

void TestTerminal::storedNumbers()
{
    QFETCH(QString, text);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, expected);
    QCOMPARE(ReadStoredNumber(text, minimum, maximum, 0), expected);
}

void TestTerminal::firstRun()
{
    Terminal t;
    t.form->Form_Load();
    QCOMPARE(ModeString, QStringLiteral("9600,N,8,1"));
    QCOMPARE(HandshakeMode, 0);
    QCOMPARE(t.form->chkDTR->checkState(), Qt::Checked);
    QCOMPARE(t.form->chkRTS->checkState(), Qt::Checked);
    QCOMPARE(t.form->Combo2->currentIndex(), 0);
    // Selecting "None" runs the port handler once: close, then the lights.
    QCOMPARE(t.comm->log, QStringList{QStringLiteral("IsOpen=false")} + kLights);
    QVERIFY(BinaryTextBox::IsAttached(t.form->Text1->hWnd()));
    QVERIFY(BinaryTextBox::IsAttached(t.form->Text2->hWnd()));
    t.form->close();
    QVERIFY(!BinaryTextBox::IsAttached(t.form->Text1->hWnd()));
}

void TestTerminal::startupOpensStoredPortLast()
{
    Terminal t("[Settings]\nCOMModeString=\"19200,E,7,2\"\nDTREnable=0\nRTSEnable=1\nHandshake=1\nCommPort=5\n");
    t.comm->cts = true;
    t.form->Form_Load();
    QStringList expected = {QStringLiteral("DtrEnabled=false")}; // the check box changed
    expected += portOpenSequence(5, QStringLiteral("19200,E,7,2"),
                                 {QStringLiteral("FlowControl=1"), QStringLiteral("RtsEnabled=true")}, false, true);
    expected += {QStringLiteral("read DtrEnabled"), QStringLiteral("read RtsEnabled")};
    expected += kLights;
    QCOMPARE(t.comm->log, expected);
    QCOMPARE(t.form->Combo2->currentText(), QStringLiteral("COM5"));
    QCOMPARE(t.form->Shape1[1]->FillColor(), LightWidget::Red);
    QCOMPARE(t.form->Shape1[0]->FillColor(), LightWidget::Green);
}

void TestTerminal::startupWithNothingSelected()
{
    Terminal t("[Settings]\nCommPort=-1\n");
    t.form->Form_Load();
    QCOMPARE(t.form->Combo2->currentIndex(), -1);
    QCOMPARE(t.comm->log, QStringList());
    for (LightWidget *light : t.form->Shape1)
        QCOMPARE(light->FillColor(), LightWidget::Green);
    t.form->close();
    QCOMPARE(t.saved(QStringLiteral("CommPort")), QStringLiteral("-1"));
}

void TestTerminal::startupWithUnavailablePort()
{
    Terminal t("[Settings]\nCommPort=3\n");
    t.comm->failOpen = true;
    t.comm->cd = true;
    MessageBoxLog closer([&] { QVERIFY(!t.form->isVisible()); });
    t.form->Form_Load();
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes[0].text, QStringLiteral("The selected serial port is not available."));
    QCOMPARE(closer.boxes[0].title, QStringLiteral("Portlark Error"));
    QCOMPARE(closer.boxes[0].detail, t.comm->failReason);
    QCOMPARE(closer.boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(closer.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(t.form->Combo2->currentIndex(), 3);
    QVERIFY(!t.comm->IsOpen());
    t.form->close();
    QCOMPARE(t.saved(QStringLiteral("CommPort")), QStringLiteral("3"));
}

void TestTerminal::badStoredSettings_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("dtr");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("handshake");
    QTest::addColumn<QString>("mode");
    QTest::newRow("check-box value 7") << QByteArray("[Settings]\nDTREnable=7\n") << 1 << 0 << 0 << "9600,N,8,1";
    QTest::newRow("grayed check box") << QByteArray("[Settings]\nDTREnable=2\n") << 2 << 0 << 0 << "9600,N,8,1";
    QTest::newRow("port 99") << QByteArray("[Settings]\nCommPort=99\n") << 1 << 0 << 0 << "9600,N,8,1";
    QTest::newRow("port -5") << QByteArray("[Settings]\nCommPort=-5\n") << 1 << 0 << 0 << "9600,N,8,1";
    QTest::newRow("forty digits") << QByteArray("[Settings]\nHandshake=" + QByteArray(40, '9')
                                                + "\nCommPort=" + QByteArray(40, '9') + "\n")
                                  << 1 << 0 << 0 << "9600,N,8,1";
    QTest::newRow("letters") << QByteArray("[Settings]\nDTREnable=yes\nHandshake=hardware\nCommPort=COM3\n") << 0 << 0
                             << 0 << "9600,N,8,1";
    QTest::newRow("unquoted mode string")
        << QByteArray("[Settings]\nCOMModeString=19200,E,7,2\n") << 1 << 0 << 0 << "19200,E,7,2";
    QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe[\x01\x02]\n=\n\x80\x81=\x00\n", 16) << 1 << 0 << 0
                                 << "9600,N,8,1";
    QTest::newRow("not ini") << QByteArray("<xml><Settings CommPort=\"3\"/></xml>\n[[[\n=====\n") << 1 << 0 << 0
                             << "9600,N,8,1";
    QTest::newRow("handshake 7 kept") << QByteArray("[Settings]\nHandshake=7\n") << 1 << 0 << 7 << "9600,N,8,1";
}

void TestTerminal::badStoredSettings()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, dtr);
    QFETCH(int, port);
    QFETCH(int, handshake);
    QFETCH(QString, mode);
    // Another program's section and a key of ours that this version does not
    // use must both survive the rewrite at shutdown.
    Terminal t(ini + "\n[Other]\nkeep=me\n[Settings]\nFuture=42\n[Ports]\nCOM9=loopback\nNote=mine\n");
    t.form->Form_Load();
    QCOMPARE(value(t.form->chkDTR), dtr);
    QCOMPARE(t.form->Combo2->currentIndex(), port);
    QCOMPARE(HandshakeMode, handshake);
    QCOMPARE(ModeString, mode);
    t.form->close();
    QSettings s(t.path(), QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("Other/keep")).toString(), QStringLiteral("me"));
    QCOMPARE(s.value(QStringLiteral("Settings/Future")).toString(), QStringLiteral("42"));
    QCOMPARE(s.value(QStringLiteral("Ports/COM9")).toString(), QStringLiteral("loopback"));
    QCOMPARE(s.value(QStringLiteral("Ports/Note")).toString(), QStringLiteral("mine"));
    QCOMPARE(s.value(QStringLiteral("Settings/CommPort")).toString(), QString::number(port));
    QCOMPARE(s.value(QStringLiteral("Settings/DTREnable")).toString(), QString::number(dtr));
}

void TestTerminal::unwritableStore()
{
    // The settings path is a directory: nothing can be read or written there,
    // yet the program starts with the defaults and closes cleanly.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NerovaPortlark.ini"));
    QVERIFY(QDir().mkpath(path));
    SettingsStore store(path);
    ComPortMap ports;
    auto *comm = new FakeSerialPortControl;
    MainForm form(comm, &store, &ports);
    form.Form_Load();
    QCOMPARE(form.Combo2->currentIndex(), 0);
    QVERIFY(form.close());
    QVERIFY(!store.Flush());
    QVERIFY(QFileInfo(path).isDir());
}

void TestTerminal::shutdownSavesFiveKeys_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("close box") << false;
    QTest::newRow("File > Exit") << true;
}

void TestTerminal::shutdownSavesFiveKeys()
{
    QFETCH(bool, byMenu);
    Terminal t;
    t.form->Form_Load();
    t.form->show();
    ModeString = QStringLiteral("115200,E,7,1.5");
    HandshakeMode = 2;
    t.form->chkRTS->setCheckState(Qt::Unchecked);
    t.form->Combo2->setCurrentIndex(12);
    if (byMenu)
        t.form->mnuExit->trigger();
    else
        t.form->close();
    QVERIFY(!t.form->isVisible());
    QCOMPARE(t.saved(QStringLiteral("COMModeString")), QStringLiteral("115200,E,7,1.5"));
    QCOMPARE(t.saved(QStringLiteral("CommPort")), QStringLiteral("12"));
    QCOMPARE(t.saved(QStringLiteral("Handshake")), QStringLiteral("2"));
    QCOMPARE(t.saved(QStringLiteral("DTREnable")), QStringLiteral("1"));
    QCOMPARE(t.saved(QStringLiteral("RTSEnable")), QStringLiteral("0"));

    // What was saved is what the next start reads.
    ModeString.clear();
    HandshakeMode = 0;
    t.restart();
    t.form->Form_Load();
    QCOMPARE(ModeString, QStringLiteral("115200,E,7,1.5"));
    QCOMPARE(HandshakeMode, 2);
    QCOMPARE(t.form->Combo2->currentIndex(), 12);
    QCOMPARE(t.form->chkRTS->checkState(), Qt::Unchecked);
}

void TestTerminal::modeStringKeepsItsText_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("text");
    QTest::newRow("blanks, unquoted") << QByteArray("COMModeString=19200 , even , 7 , 1.5") << "19200 , even , 7 , 1.5";
    QTest::newRow("blanks, quoted") << QByteArray("COMModeString=\"19200 , even , 7 , 1.5\"")
                                    << "19200 , even , 7 , 1.5";
    QTest::newRow("blanks around the sign, CR LF") << QByteArray("COMModeString = 9600,n, 8,1\r") << "9600,n, 8,1";
    QTest::newRow("partly quoted: joined as read") << QByteArray("COMModeString=\"9600\", N,8,1") << "9600,N,8,1";
}

void TestTerminal::modeStringKeepsItsText()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, text);
    Terminal t("[Other]\nCOMModeString=elsewhere\n[Settings]\n" + line + "\nCommPort=0\n");
    {
        // Saving some other key rewrites the whole file; the text must survive that.
        SettingsStore other(t.path());
        other.SaveSetting(QStringLiteral("Other"), QStringLiteral("Future"), QStringLiteral("1"));
        QVERIFY(other.Flush());
    }
    t.form->Form_Load();
    QCOMPARE(ModeString, text);
    QVERIFY(t.form->close());
    ModeString.clear();
    t.restart();
    t.form->Form_Load();
    QCOMPARE(ModeString, text);
    QCOMPARE(SettingsStore(t.path()).GetSetting(QStringLiteral("Other"), QStringLiteral("COMModeString"), {}),
             QStringLiteral("elsewhere"));
}

void TestTerminal::handshakeRule_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("flow");
    QTest::newRow("0 none") << 0 << QStringList{"FlowControl=0", "RtsEnabled=true"};
    QTest::newRow("1 xon/xoff") << 1 << QStringList{"FlowControl=1", "RtsEnabled=true"};
    QTest::newRow("2 hardware") << 2 << QStringList{"FlowControl=2", "RtsEnabled=true"};
    QTest::newRow("3 none, RTS off") << 3 << QStringList{"FlowControl=0", "RtsEnabled=false"};
    QTest::newRow("7 writes nothing") << 7 << QStringList{};
    QTest::newRow("-1 writes nothing") << -1 << QStringList{};
}

void TestTerminal::handshakeRule()
{
    QFETCH(int, mode);
    QFETCH(QStringList, flow);
    Terminal t;
    t.form->Form_Load();
    HandshakeMode = mode;
    t.comm->log.clear();
    t.form->Combo2->setCurrentIndex(4);
    QStringList expected = portOpenSequence(4, ModeString, flow, true, true);
    expected += {QStringLiteral("read DtrEnabled"), QStringLiteral("read RtsEnabled")};
    expected += kLights;
    QCOMPARE(t.comm->log, expected);
}

void TestTerminal::grayedCheckBoxOpensOff()
{
    Terminal t("[Settings]\nDTREnable=2\n");
    t.form->Form_Load();
    QCOMPARE(t.form->chkDTR->checkState(), Qt::PartiallyChecked);
    t.comm->log.clear();
    t.form->Combo2->setCurrentIndex(2);
    QStringList expected = portOpenSequence(2, ModeString, {"FlowControl=0", "RtsEnabled=true"}, false, true);
    // The box ends unchecked, and its handler writes that back.
    expected
        += {QStringLiteral("read DtrEnabled"), QStringLiteral("DtrEnabled=false"), QStringLiteral("read RtsEnabled")};
    expected += kLights;
    QCOMPARE(t.comm->log, expected);
    QCOMPARE(t.form->chkDTR->checkState(), Qt::Unchecked);
}

void TestTerminal::choosingNoneClosesOnly()
{
    Terminal t("[Settings]\nCommPort=1\n");
    t.form->Form_Load();
    QVERIFY(t.comm->IsOpen());
    t.comm->log.clear();
    t.form->Combo2->setCurrentIndex(0);
    QCOMPARE(t.comm->log, QStringList{QStringLiteral("IsOpen=false")} + kLights);
    QVERIFY(!t.comm->IsOpen());
}

void TestTerminal::choosingOpenPortAgainReopens()
{
    Terminal t("[Settings]\nCommPort=3\n");
    t.form->Form_Load();
    QCoreApplication::processEvents();
    t.comm->log.clear();
    emit t.form->Combo2->activated(3); // the user picks the entry already selected
    QStringList expected = portOpenSequence(3, ModeString, {"FlowControl=0", "RtsEnabled=true"}, true, true);
    expected += {QStringLiteral("read DtrEnabled"), QStringLiteral("read RtsEnabled")};
    expected += kLights;
    QCOMPARE(t.comm->log, expected);
}

void TestTerminal::userChoiceRunsHandlerOnce()
{
    Terminal t;
    t.form->Form_Load();
    t.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.form.get()));
    t.comm->log.clear();
    t.form->Combo2->setFocus();
    QTest::keyClick(t.form->Combo2, Qt::Key_Down); // "None" -> "COM1"
    QCOMPARE(t.form->Combo2->currentIndex(), 1);
    QCOMPARE(t.comm->log.count(QStringLiteral("IsOpen=false")), 1);
    QCOMPARE(t.comm->log.count(QStringLiteral("IsOpen=true")), 1);
    QTest::qWait(20);
    t.comm->log.clear();
    emit t.form->Combo2->activated(1);
    QCOMPARE(t.comm->log.count(QStringLiteral("IsOpen=true")), 1);
}

void TestTerminal::failedOpenReportsOnceThenGreen()
{
    Terminal t;
    t.form->Form_Load();
    t.comm->failOpen = true;
    t.comm->log.clear();
    QStringList logAtBox;
    int lightsAtBox = 0;
    MessageBoxLog closer([&] {
        logAtBox = t.comm->log;
        lightsAtBox = t.form->Shape1[0]->FillColor();
    });
    t.form->Shape1[0]->setFillColor(LightWidget::Red);
    t.form->Combo2->setCurrentIndex(6);
    QCOMPARE(closer.boxes.size(), 1);
    // The box comes after reading back the open state, before the check boxes.
    QCOMPARE(logAtBox.last(), QStringLiteral("read IsOpen"));
    QCOMPARE(lightsAtBox, LightWidget::Red);
    QStringList expected = portOpenSequence(6, ModeString, {"FlowControl=0", "RtsEnabled=true"}, true, true);
    expected += {QStringLiteral("read DtrEnabled"), QStringLiteral("read RtsEnabled")};
    expected += kLights;
    QCOMPARE(t.comm->log, expected);
    for (LightWidget *light : t.form->Shape1)
        QCOMPARE(light->FillColor(), LightWidget::Green);
    QCOMPARE(t.form->Combo2->currentIndex(), 6);
}

void TestTerminal::receiveAppendsExactBytes()
{
    Terminal t("[Settings]\nCommPort=1\n");
    t.form->Form_Load();
    t.comm->deliver(QByteArray("\x00\x41\x0d\x0a", 4));
    QCOMPARE(t.input(), QByteArray("\x00\x41\x0d\x0a", 4));
    QCOMPARE(t.form->Text1->Text(), QByteArray(" A\r\n"));
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("4"));

    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    t.comm->deliver(all);
    QCOMPARE(t.input(), QByteArray("\x00\x41\x0d\x0a", 4) + all);
    QCOMPARE(t.form->Text1->Text(), DisplayText(t.input()));
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("260"));
}

void TestTerminal::receiveDrainsEverythingInOneEvent()
{
    Terminal t;
    t.form->Form_Load();
    QSignalSpy events(t.comm, &SerialPortControl::SerialEvent);
    t.comm->deliver(QByteArray("hello world"), 1); // handed out one byte per read
    QCOMPARE(events.size(), 1);
    QCOMPARE(t.input(), QByteArray("hello world"));
    QCOMPARE(t.comm->InputCount(), 0);
    t.comm->deliver(QByteArray()); // an event with nothing waiting changes nothing
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("11"));
}

void TestTerminal::receiveMovesCaretToEnd()
{
    Terminal t;
    t.form->Form_Load();
    t.comm->deliver("OK");
    t.form->Text1->setSelStart(0);
    t.form->Text1->setSelLength(1);
    t.comm->deliver("\r\n");
    QCOMPARE(t.input(), QByteArray("OK\r\n"));
    QCOMPARE(t.form->Text1->SelStart(), 4);
    QCOMPARE(t.form->Text1->SelLength(), 0);
}

void TestTerminal::receiveDuringModalBox()
{
    Terminal t;
    t.form->Form_Load();
    t.comm->failOpen = true;
    MessageBoxLog closer([&] { t.comm->deliver(QByteArray("\x00z", 2)); });
    t.form->Combo2->setCurrentIndex(2);
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(t.input(), QByteArray("\x00z", 2));
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("2"));
}

void TestTerminal::lineEventsRefreshLightsOnly()
{
    Terminal t("[Settings]\nCommPort=1\n");
    t.form->Form_Load();
    t.comm->deliver("abc");
    t.comm->log.clear();
    t.comm->cts = true;
    t.comm->raise(SerialPortControl::EventCtsChanged);
    QCOMPARE(t.comm->log, kLights);
    QCOMPARE(t.form->Shape1[1]->FillColor(), LightWidget::Red);
    QCOMPARE(t.form->Shape1[0]->FillColor(), LightWidget::Green);
    QCOMPARE(t.form->Shape1[2]->FillColor(), LightWidget::Green);
    QCOMPARE(t.input(), QByteArray("abc"));
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("3"));
    t.comm->cts = false;
    t.comm->raise(SerialPortControl::EventCtsChanged);
    QCOMPARE(t.form->Shape1[1]->FillColor(), LightWidget::Green);

    // Receiving data does not read the lines.
    t.comm->log.clear();
    t.comm->deliver("d");
    QVERIFY(t.comm->log.isEmpty());
}

void TestTerminal::deviceGoneIsReported()
{
    Terminal t("[Settings]\nCommPort=7\n");
    t.form->Form_Load();
    t.comm->dsr = true;
    t.comm->raise(SerialPortControl::EventDsrChanged);
    QCOMPARE(t.form->Shape1[2]->FillColor(), LightWidget::Red);
    t.comm->IsOpen(false);
    t.comm->raise(SerialPortControl::EventDeviceGone);
    QCOMPARE(t.form->Shape1[2]->FillColor(), LightWidget::Green);
    QCOMPARE(t.form->portState->text(), QStringLiteral("COM7 closed"));
}

void TestTerminal::sendWritesStoreUnchanged()
{
    Terminal t("[Settings]\nCommPort=1\n");
    t.form->Form_Load();
    t.form->Command2->click();
    QCOMPARE(t.comm->writeCalls, 0);

    const QByteArray bytes("\x41\x00\x42", 3);
    t.form->Text2->setText(DisplayText(bytes));
    BinaryTextBox::SetPaneBytes(t.form->Text2->hWnd(), bytes);
    t.form->Command2->click();
    t.form->Command2->click();
    QCOMPARE(t.comm->writeCalls, 2);
    QCOMPARE(t.comm->written, bytes + bytes);
    QCOMPARE(BinaryTextBox::GetPaneBytes(t.form->Text2->hWnd()), bytes);
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("0"));
    QVERIFY(t.input().isEmpty());
}

void TestTerminal::clearInput()
{
    Terminal t;
    t.form->Form_Load();
    t.form->Command1->click();
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("0"));
    t.comm->deliver(QByteArray(5, '\0'));
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("5"));
    t.form->Text2->setText("x");
    BinaryTextBox::SetPaneBytes(t.form->Text2->hWnd(), "x");
    t.form->Command1->click();
    QVERIFY(t.form->Text1->Text().isEmpty());
    QVERIFY(BinaryTextBox::IsAttached(t.form->Text1->hWnd()));
    QVERIFY(t.input().isEmpty());
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("0"));
    QCOMPARE(BinaryTextBox::GetPaneBytes(t.form->Text2->hWnd()), QByteArray("x"));
    t.comm->deliver("a");
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("1"));
}

void TestTerminal::checkBoxesDriveLines()
{
    Terminal t("[Settings]\nCommPort=1\n");
    t.form->Form_Load();
    t.comm->log.clear();
    t.form->chkDTR->click();
    t.form->chkDTR->click();
    t.form->chkRTS->setCheckState(Qt::PartiallyChecked);
    t.form->chkRTS->setCheckState(Qt::Checked);
    QCOMPARE(t.comm->log, (QStringList{"DtrEnabled=false", "DtrEnabled=true", "RtsEnabled=false", "RtsEnabled=true"}));
}

void TestTerminal::layoutMatchesForm_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("text");
    QTest::newRow("Label1(2)") << "Label1_2" << QRect(240, 240, 1230, 225) << "Connector:";
    QTest::newRow("Combo2") << "Combo2" << QRect(240, 480, 1260, 315) << "";
    QTest::newRow("Command3") << "Command3" << QRect(1560, 480, 975, 315) << "Settings...";
    QTest::newRow("Shape1(1)") << "Shape1_1" << QRect(3120, 120, 135, 135) << "";
    QTest::newRow("Label2(1)") << "Label2_1" << QRect(3360, 90, 2310, 195) << "Clear To Send (CTS):";
    QTest::newRow("Shape1(2)") << "Shape1_2" << QRect(3120, 360, 135, 135) << "";
    QTest::newRow("Label2(2)") << "Label2_2" << QRect(3360, 330, 2310, 195) << "Data Set Ready (DSR):";
    QTest::newRow("Shape1(0)") << "Shape1_0" << QRect(3120, 630, 135, 135) << "";
    QTest::newRow("Label2(0)") << "Label2_0" << QRect(3345, 600, 2310, 195) << "Carrier Detect (CD):";
    QTest::newRow("chkDTR") << "chkDTR" << QRect(3090, 960, 3015, 255) << "Enable Data Terminal Ready (DTR)";
    QTest::newRow("chkRTS") << "chkRTS" << QRect(3090, 1200, 3015, 255) << "Enable Request To Send (RTS)";
    QTest::newRow("Label1(0)") << "Label1_0" << QRect(120, 1965, 2745, 195) << "Input Data (from COM port)";
    QTest::newRow("Label3") << "Label3" << QRect(3675, 1965, 1695, 195) << "Total Bytes Received:";
    QTest::newRow("Text3") << "Text3" << QRect(5400, 1920, 1215, 285) << "0";
    QTest::newRow("Text1") << "Text1" << QRect(120, 2280, 6495, 375) << "";
    QTest::newRow("Command1") << "Command1" << QRect(120, 2760, 1215, 375) << "Clear Input";
    QTest::newRow("Label1(1)") << "Label1_1" << QRect(120, 3360, 5385, 195) << "Output Data (to COM port)";
    QTest::newRow("Text2") << "Text2" << QRect(120, 3600, 6495, 375) << "";
    QTest::newRow("Command2") << "Command2" << QRect(120, 4080, 1215, 375) << "Send";
}

void TestTerminal::layoutMatchesForm()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, text);
    Terminal t;
    QWidget *w = t.form->findChild<QWidget *>(name);
    QVERIFY(w);
    // Design state, before the first resize: one pixel is 15 twips.
    const QRect g = w->geometry();
    QVERIFY2(qAbs(g.x() * 15 - twips.x()) < 15 && qAbs(g.y() * 15 - twips.y()) < 15,
             qPrintable(QStringLiteral("%1,%2").arg(g.x()).arg(g.y())));
    QVERIFY(qAbs(g.width() * 15 - twips.width()) < 15 && qAbs(g.height() * 15 - twips.height()) < 15);
    if (auto *label = qobject_cast<QLabel *>(w))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QAbstractButton *>(w))
        QCOMPARE(button->text(), text);
    else if (auto *edit = qobject_cast<QLineEdit *>(w))
        QCOMPARE(edit->text(), text);
}

void TestTerminal::tabOrderAndMenus()
{
    Terminal t;
    MainForm &f = *t.form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Portlark"));
    QVERIFY(f.Text1->Locked());
    QVERIFY(!f.Text2->Locked());
    QVERIFY(f.Text3->isReadOnly());
    QCOMPARE(f.Combo2->count(), 33);
    QCOMPARE(f.Combo2->itemText(0), QStringLiteral("None"));
    QCOMPARE(f.Combo2->itemText(32), QStringLiteral("COM32"));
    QCOMPARE(f.Combo2->currentIndex(), -1);

    const QList<QWidget *> order
        = {f.Text1, f.Text2, f.Command1, f.Command2, f.Combo2, f.Text3, f.chkDTR, f.chkRTS, f.Command3};
    auto nextFocusable = [](QWidget *w) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    for (qsizetype i = 1; i < order.size(); ++i)
        QCOMPARE(nextFocusable(order[i - 1]), order[i]);

    QStringList menus;
    for (QAction *a : f.menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{"&File", "&Tools", "&Session", "&Help"}));
    auto items = [](QMenu *m) {
        QStringList out;
        for (QAction *a : m->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text()) + u'|' + a->objectName();
        return out;
    };
    QCOMPARE(items(f.mnuFile), (QStringList{"&Settings...|mnuSettings", "-|mnuSeperator1", "E&xit|mnuExit"}));
    QCOMPARE(items(f.mnuTools), (QStringList{"ASCII Chart...|mnuASCIIChart"}));
    QCOMPARE(items(f.mnuHelp), (QStringList{"&Index|mnuIndex", "-|mnuSeperator2", "&About...|mnuAbout"}));
}

void TestTerminal::focusStartsOnInputPane()
{
    Terminal t("[Settings]\nCommPort=2\n");
    t.form->Form_Load();
    t.form->show();
    t.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(t.form.get()));
    QCOMPARE(QApplication::focusWidget(), t.form->Text1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), t.form->Text2);
    QCOMPARE(t.form->Combo2->currentIndex(), 2);
}

void TestTerminal::portStateLineTellsTheTruth()
{
    Terminal t("[Settings]\nCommPort=3\n");
    t.form->Form_Load();
    auto *line = t.form->statusBar()->findChild<QLabel *>(QStringLiteral("portState"));
    QVERIFY(line);
    QCOMPARE(line->text(), QStringLiteral("COM3 open: COM3 at 9600,N,8,1"));
    // A passing message, such as a menu item's hint, leaves it in place.
    t.form->statusBar()->showMessage(QStringLiteral("hint"));
    t.form->statusBar()->clearMessage();
    QCOMPARE(line->text(), QStringLiteral("COM3 open: COM3 at 9600,N,8,1"));
    QVERIFY(line->isVisibleTo(t.form.get()));

    // OK in the settings dialog reopens the port; the lines changed meanwhile.
    ModalWatcher watcher([](QWidget *w) {
        if (auto *setup = qobject_cast<PortSetup *>(w)) {
            setup->BaudCombo->setCurrentIndex(10);
            setup->OK_Button->click();
        }
    });
    t.comm->dsr = true;
    t.form->Command3->click();
    QCOMPARE(t.form->Shape1[2]->FillColor(), LightWidget::Red);
    QCOMPARE(line->text(), QStringLiteral("COM3 open: COM3 at 115200,N,8,1"));

    // A reopen the device refuses leaves the port closed, and says why.
    t.comm->failOpen = true;
    t.comm->failReason = QStringLiteral("COM3: the device cannot use the mode \"115200,N,8,1\" (Invalid argument)");
    {
        MessageBoxLog boxes;
        t.form->mnuSettings->trigger();
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].detail, t.comm->failReason);
    }
    QCOMPARE(t.form->Shape1[2]->FillColor(), LightWidget::Green);
    const QString closed = QStringLiteral("COM3 closed: the device cannot use the mode \"115200,N,8,1\"");
    QCOMPARE(line->text(), closed);
    QCOMPARE(line->toolTip(), t.comm->failReason);

    // Send on the closed port sends nothing, and says so.
    t.setOutput("abc");
    t.form->Command2->click();
    QCOMPARE(t.comm->writeCalls, 1); // the control is given the bytes and drops them
    QCOMPARE(t.comm->written, QByteArray());
    QCOMPARE(line->text(), closed + QStringLiteral("; nothing was sent"));

    t.form->Combo2->setCurrentIndex(0);
    QCOMPARE(line->text(), QStringLiteral("No port open"));
}

void TestTerminal::resizeWidensPanes()
{
    Terminal t;
    t.form->Form_Load();
    t.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.form.get()));
    const int before = t.form->Text1->width();
    t.form->resize(t.form->width() + 100, t.form->height());
    QTRY_COMPARE(t.form->Text1->width(), before + 100);
    QCOMPARE(t.form->Text2->width(), before + 100);
    QCOMPARE(t.form->Text1->x(), 8);
    QCOMPARE(t.form->Text2->x(), 8);
    const int wide = t.form->Text1->width();
    t.form->setMinimumSize(1, 1);
    t.form->resize(20, t.form->height()); // 300 twips: not wider than 400
    QTRY_COMPARE(t.form->width(), 20);
    QVERIFY(t.form->frameGeometry().width() * 15 <= 400);
    QCOMPARE(t.form->Text1->width(), wide);
    QCOMPARE(t.form->Text2->width(), wide);
}

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
