#include "comportmap.h"
#include "loopbackplug.h"
#include "realserialportcontrol.h"
#include "serialmode.h"
#include "socatpair.h"
#include "testbytes.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <grp.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int TestCom = 5;

// Listens to a control as the terminal does: drains every byte on a receive
// event and keeps the codes of all events in order.
struct Receiver
{
    explicit Receiver(SerialPortControl &c)
        : control(c)
    {
        QObject::connect(&control, &SerialPortControl::SerialEvent, &control, [this] {
            codes.append(control.EventCode());
            if (drain && control.EventCode() == SerialPortControl::EventReceive) {
                while (control.InputCount() > 0) {
                    const QByteArray chunk = control.ReadInput();
                    if (chunk.isEmpty())
                        ++emptyReads; // a waiting count must always give bytes
                    largest = std::max(largest, chunk.size());
                    bytes += chunk;
                }
            }
        });
    }
    int count(int code) const { return int(codes.count(code)); }

    SerialPortControl &control;
    bool drain = true;
    QByteArray bytes;
    QList<int> codes;
    int emptyReads = 0;
    qsizetype largest = 0; // the most one receive event brought
};

// A control on end A of a fresh socat pair, with the test holding end B.
struct PtyRig
{
    PtyRig()
    {
        if (!SocatPair::available())
            return;
        if (!pair.start())
            return;
        map.setEntries({{TestCom, pair.pathA()}});
        far.open(pair.pathB());
    }
    bool ready() const { return pair.isRunning() && far.isOpen(); }
    void open(const QString &mode = QStringLiteral("115200,N,8,1"))
    {
        control.PortNumber(TestCom);
        control.ModeSettings(mode);
        control.DtrEnabled(true);
        control.RtsEnabled(true);
        control.IsOpen(true);
    }

    SocatPair pair;
    ComPortMap map;
    RawTty far;
    RealSerialPortControl control{&map};
};

#define REQUIRE_PTY(rig)                                                                                               \
    do {                                                                                                               \
        if (!SocatPair::available())                                                                                   \
            QSKIP("socat is not installed");                                                                           \
        QVERIFY2((rig).ready(), qPrintable((rig).pair.errorString() + (rig).far.errorString()));                       \
    } while (0)

} // namespace

class tst_Serial : public QObject
{
    Q_OBJECT

private slots:
    void modeString_data();
    void modeString();
    void openAppliesMode_data();
    void openAppliesMode();
    void unusableModeFailsOpen_data();
    void unusableModeFailsOpen();

    void allByteValuesBothWays();
    void largeBlocksWholeAndInOrder();
    void farEndGoneKeepsReceivedBytes();
    void secondOpenOfSameDeviceFails();
    void ptyWithoutModemLinesCarriesData();
    void lineEvents_data();
    void lineEvents();
    void openFailureReasons();
    void permissionDeniedNamesTheGroup();

    void loopbackEchoesInOrder();
    void loopbackLineWiring_data();
    void loopbackLineWiring();
    void loopbackQuietWhileClosed();

    void comDefaultsAndEntries();
    void comAssignment_data();
    void comAssignment();
    void comStableLinks();
    void comSettingsRoundTrip();
    void comDescribe();
};

void tst_Serial::modeString_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");

    const int one = QSerialPort::OneStop, two = QSerialPort::TwoStop;
    QTest::newRow("canonical") << "9600,N,8,1" << true << "9600,N,8,1" << one << int(QSerialPort::NoParity) << 8;
    QTest::newRow("1.5 stop bits opens as two")
        << "115200,E,7,1.5" << true << "115200,E,7,1.5" << two << int(QSerialPort::EvenParity) << 7;
    QTest::newRow("two stop bits") << "110,O,5,2" << true << "110,O,5,2" << two << int(QSerialPort::OddParity) << 5;
    QTest::newRow("mark") << "921600,M,8,1" << true << "921600,M,8,1" << one << int(QSerialPort::MarkParity) << 8;
    QTest::newRow("space, lower case") << "230400,s,6,1" << true << "230400,S,6,1" << one
                                       << int(QSerialPort::SpaceParity) << 6;
    QTest::newRow("blanks and parity word")
        << "  19200 , even , 7 , 1.5 " << true << "19200,E,7,1.5" << two << int(QSerialPort::EvenParity) << 7;
    QTest::newRow("mark and space words")
        << "300,MARK,7,1" << true << "300,M,7,1" << one << int(QSerialPort::MarkParity) << 7;
    QTest::newRow("zero fractions") << "9600.0,None,8.0,2.0" << true << "9600,N,8,2" << two
                                    << int(QSerialPort::NoParity) << 8;
    QTest::newRow("rate outside the dialog's list")
        << "250000,N,8,1" << true << "250000,N,8,1" << one << int(QSerialPort::NoParity) << 8;

    QTest::newRow("empty") << "" << false << "" << 0 << 0 << 0;
    QTest::newRow("rate only") << "9600" << false << "" << 0 << 0 << 0;
    QTest::newRow("three fields") << "9600,N,8" << false << "" << 0 << 0 << 0;
    QTest::newRow("five fields") << "9600,N,8,1,extra" << false << "" << 0 << 0 << 0;
    QTest::newRow("zero rate") << "0,N,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("negative rate") << "-9600,N,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("fractional rate") << "9600.5,N,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("blank inside the rate") << "96 00,N,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("exponent rate") << "1e4,N,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("rate too large") << "99999999999,N,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("unknown parity letter") << "9600,X,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("parity word misspelt") << "9600,Evens,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("empty parity") << "9600,,8,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("four data bits") << "9600,N,4,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("nine data bits") << "9600,N,9,1" << false << "" << 0 << 0 << 0;
    QTest::newRow("1.25 stop bits") << "9600,N,8,1.25" << false << "" << 0 << 0 << 0;
    QTest::newRow("three stop bits") << "9600,N,8,3" << false << "" << 0 << 0 << 0;
}

void tst_Serial::modeString()
{
    QFETCH(QString, mode);
    QFETCH(bool, valid);
    QFETCH(QString, canonical);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(int, dataBits);

    QString why = QStringLiteral("untouched");
    const auto parsed = SerialMode::parse(mode, &why);
    QCOMPARE(parsed.has_value(), valid);
    if (!valid) {
        QVERIFY2(!why.isEmpty() && why != QLatin1String("untouched"), "a refused mode must say why");
        return;
    }
    QVERIFY(why.isEmpty());
    QCOMPARE(parsed->toString(), canonical);
    QCOMPARE(int(parsed->stopBits), stopBits);
    QCOMPARE(int(parsed->parity), parity);
    QCOMPARE(int(parsed->dataBits), dataBits);
}

void tst_Serial::openAppliesMode_data()
{
    // A pseudo-terminal keeps the speed and the stop bits it is given but
    // forces eight data bits without parity, so only those two are read back
    // here; the parity and data bits are covered by modeString().
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("twoStop");

    QTest::newRow("9600,N,8,1") << "9600,N,8,1" << int(B9600) << false;
    QTest::newRow("230400,E,7,1") << "230400,E,7,1" << int(B230400) << false;
    QTest::newRow("921600,O,8,2") << "921600,O,8,2" << int(B921600) << true;
    QTest::newRow("mark parity") << "115200,M,8,1" << int(B115200) << false;
    QTest::newRow("space parity") << "57600,S,7,1" << int(B57600) << false;
    QTest::newRow("1.5 stop bits on 5 data bits") << "1200,N,5,1.5" << int(B1200) << true;
    QTest::newRow("1.5 stop bits on 8 data bits") << "110,E,8,1.5" << int(B110) << true;
}

void tst_Serial::openAppliesMode()
{
    QFETCH(QString, mode);
    QFETCH(int, speed);
    QFETCH(bool, twoStop);

    PtyRig rig;
    REQUIRE_PTY(rig);
    // The settings belong to the terminal, not to one open file of it: a file
    // opened before the control's exclusive open reads them back.
    const int fd = ::open(QFile::encodeName(rig.pair.deviceA()).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    rig.open(mode);
    QVERIFY2(rig.control.IsOpen(), qPrintable(rig.control.LastError()));
    termios tio;
    QCOMPARE(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    QCOMPARE(int(cfgetospeed(&tio)), speed);
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStop);
    QCOMPARE(rig.control.ModeSettings(), mode);

    // and the port carries data in that mode
    rig.control.WriteOutput("ok");
    QCOMPARE(rig.far.readExactly(2, 10000), QByteArray("ok"));
}

void tst_Serial::unusableModeFailsOpen_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("loopback, parity X") << "loopback"
                                        << "9600,X,8,1"
                                        << "parity";
    QTest::newRow("loopback, 9 data bits") << "loopback"
                                           << "9600,N,9,1"
                                           << "data bits";
    QTest::newRow("pty, stop bits 3") << "pty"
                                      << "9600,N,8,3"
                                      << "stop bits";
    QTest::newRow("pty, zero rate") << "pty"
                                    << "0,N,8,1"
                                    << "baud rate";
    QTest::newRow("pty, missing field") << "pty"
                                        << "9600,N,8"
                                        << "four fields";
}

void tst_Serial::unusableModeFailsOpen()
{
    QFETCH(QString, device);
    QFETCH(QString, mode);
    QFETCH(QString, reasonPart);

    PtyRig rig;
    if (device == QLatin1String("pty"))
        REQUIRE_PTY(rig);
    else
        rig.map.setEntries({{TestCom, ComPortMap::Loopback}});
    rig.open(mode);
    QVERIFY(!rig.control.IsOpen());
    const QString reason = rig.control.LastError();
    QVERIFY2(reason.contains(reasonPart) && reason.contains(mode), qPrintable(reason));

    // the same port opens once the mode is usable
    rig.control.ModeSettings(QStringLiteral("9600,N,8,1"));
    rig.control.IsOpen(true);
    QVERIFY2(rig.control.IsOpen(), qPrintable(rig.control.LastError()));
    QVERIFY(rig.control.LastError().isEmpty());
}

void tst_Serial::allByteValuesBothWays()
{
    PtyRig rig;
    REQUIRE_PTY(rig);
    Receiver rx(rig.control);
    rig.open();
    QVERIFY2(rig.control.IsOpen(), qPrintable(rig.control.LastError()));

    const QByteArray values = allByteValues(16);
    rig.control.WriteOutput(values);
    QCOMPARE(rig.far.readExactly(values.size(), 20000), values);

    QVERIFY2(rig.far.writeAll(values), qPrintable(rig.far.errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(rx.bytes.size(), values.size(), 20000);
    QCOMPARE(rx.bytes, values);
    QCOMPARE(rx.emptyReads, 0);
    QCOMPARE(rig.control.InputCount(), 0);
    QVERIFY(rx.count(SerialPortControl::EventReceive) > 0);
}

void tst_Serial::largeBlocksWholeAndInOrder()
{
    PtyRig rig;
    REQUIRE_PTY(rig);
    Receiver rx(rig.control);
    rig.open();
    QVERIFY2(rig.control.IsOpen(), qPrintable(rig.control.LastError()));

    // Out: one block far larger than the terminal can take at once. The call
    // must hand it over and return; the event loop then writes it out.
    const QByteArray out = randomBytes(4 << 20, 1);
    rig.control.WriteOutput(out);
    QVERIFY2(rig.control.OutputPending() > 0, "WriteOutput waited until the whole block was written");
    QCOMPARE(rig.far.readExactly(out.size(), 120000), out);
    QTRY_COMPARE(rig.control.OutputPending(), 0);

    // In: the same amount the other way, a flood written by a thread of its
    // own as fast as the pair takes it, drained as it comes.
    const QByteArray in = randomBytes(4 << 20, 2);
    bool wrote = false;
    {
        std::jthread writer([&] { wrote = rig.far.writeAll(in, 120000); });
        QTRY_COMPARE_WITH_TIMEOUT(rx.bytes.size(), in.size(), 60000);
    }
    QVERIFY2(wrote, qPrintable(rig.far.errorString()));
    QVERIFY(rx.bytes == in);
    QCOMPARE(rx.emptyReads, 0);
    // A flood is read on past each 4 KiB the driver holds, but never so far
    // that the window stops answering.
    QVERIFY2(rx.largest <= 64 * 1024, qPrintable(QString::number(rx.largest)));
}

void tst_Serial::farEndGoneKeepsReceivedBytes()
{
    PtyRig rig;
    REQUIRE_PTY(rig);
    Receiver rx(rig.control);
    rx.drain = false; // the bytes wait in the control when the device goes
    rig.open();
    QVERIFY2(rig.control.IsOpen(), qPrintable(rig.control.LastError()));

    const QByteArray sent = randomBytes(200000, 3);
    QVERIFY(rig.far.writeAll(sent));
    QTRY_COMPARE_WITH_TIMEOUT(rig.control.InputCount(), sent.size(), 30000);

    rig.pair.kill();
    QTRY_VERIFY_WITH_TIMEOUT(rx.codes.contains(SerialPortControl::EventDeviceGone), 10000);
    QVERIFY(!rig.control.IsOpen());
    QCOMPARE(rx.count(SerialPortControl::EventDeviceGone), 1);
    QVERIFY2(rig.control.LastError().contains(rig.pair.pathA()), qPrintable(rig.control.LastError()));
    QVERIFY(!rig.control.CarrierDetect() && !rig.control.ClearToSend() && !rig.control.DataSetReady());

    QCOMPARE(rig.control.InputCount(), sent.size());
    QByteArray got;
    while (rig.control.InputCount() > 0)
        got += rig.control.ReadInput();
    QVERIFY(got == sent);
    QCOMPARE(rig.control.ReadInput(), QByteArray());

    // A write after the loss is dropped, not a crash.
    rig.control.WriteOutput("late");
    QVERIFY(!rig.control.IsOpen());
}

void tst_Serial::secondOpenOfSameDeviceFails()
{
    PtyRig rig;
    REQUIRE_PTY(rig);
    rig.open();
    QVERIFY2(rig.control.IsOpen(), qPrintable(rig.control.LastError()));

    auto *first = &rig.control;
    auto second = std::make_unique<RealSerialPortControl>(&rig.map);
    second->PortNumber(TestCom);
    second->ModeSettings(QStringLiteral("9600,N,8,1"));
    second->IsOpen(true);
    QVERIFY(!second->IsOpen());
    QVERIFY2(second->LastError().contains(QLatin1String("in use")), qPrintable(second->LastError()));
    QVERIFY2(second->LastError().startsWith(rig.pair.pathA()), qPrintable(second->LastError()));
    QVERIFY(first->IsOpen());

    // Closing the first frees the device.
    first->IsOpen(false);
    second->IsOpen(true);
    QVERIFY2(second->IsOpen(), qPrintable(second->LastError()));

    // Destroying a control closes its port.
    second.reset();
    first->IsOpen(true);
    QVERIFY2(first->IsOpen(), qPrintable(first->LastError()));
}

void tst_Serial::ptyWithoutModemLinesCarriesData()
{
    PtyRig rig;
    REQUIRE_PTY(rig);
    Receiver rx(rig.control);
    rig.control.DtrEnabled(false); // written while closed: applies at the open
    rig.control.PortNumber(TestCom);
    rig.control.ModeSettings(QStringLiteral("9600,N,8,1"));
    rig.control.IsOpen(true);
    QVERIFY2(rig.control.IsOpen(), qPrintable(rig.control.LastError()));
    QVERIFY(!rig.control.DtrEnabled());

    rig.control.DtrEnabled(true);
    rig.control.RtsEnabled(false);
    QVERIFY(rig.control.IsOpen());
    QVERIFY(rig.control.DtrEnabled());
    QVERIFY(!rig.control.RtsEnabled());
    QVERIFY(rig.control.LastError().isEmpty());
    QVERIFY(!rig.control.CarrierDetect() && !rig.control.ClearToSend() && !rig.control.DataSetReady());

    rig.control.WriteOutput(QByteArray("\0\r\n", 3));
    QCOMPARE(rig.far.readExactly(3, 10000), QByteArray("\0\r\n", 3));
    QVERIFY(rig.far.writeAll("x"));
    QTRY_COMPARE(rx.bytes, QByteArray("x"));
    // Several line polls have passed: a pseudo-terminal raises no line events.
    QTest::qWait(3 * RealSerialPortControl::LinePollInterval);
    QCOMPARE(rx.codes.count() - rx.count(SerialPortControl::EventReceive), 0);
}

void tst_Serial::lineEvents_data()
{
    using L = RealSerialPortControl::LineState;
    // counts: CTS, DSR, CD, ring changes so far; empty when the driver keeps none
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<QList<int>>("countsBefore");
    QTest::addColumn<int>("linesAfter");
    QTest::addColumn<QList<int>>("countsAfter");
    QTest::addColumn<QList<int>>("events");

    const QList<int> none;
    const int cts = SerialPortControl::EventCtsChanged, dsr = SerialPortControl::EventDsrChanged,
              cd = SerialPortControl::EventCdChanged, ring = SerialPortControl::EventRing;

    QTest::newRow("nothing changed") << int(L::Cts | L::Cd) << none << int(L::Cts | L::Cd) << none << QList<int>{};
    QTest::newRow("CTS rose") << 0 << none << int(L::Cts) << none << QList<int>{cts};
    QTest::newRow("DSR fell") << int(L::Dsr | L::Cd) << none << int(L::Cd) << none << QList<int>{dsr};
    QTest::newRow("all three, in order") << int(L::Cd) << none << int(L::Cts | L::Dsr) << none
                                         << QList<int>{cts, dsr, cd};
    QTest::newRow("CTS pulse between looks, counted")
        << 0 << QList<int>{4, 0, 0, 0} << 0 << QList<int>{6, 0, 0, 0} << QList<int>{cts};
    QTest::newRow("CD pulse between looks, not counted") << 0 << none << 0 << none << QList<int>{};
    QTest::newRow("counters on one side only") << 0 << none << int(L::Dsr) << QList<int>{3, 3, 3, 3} << QList<int>{dsr};
    QTest::newRow("ring rises, not counted") << 0 << none << int(L::Ring) << none << QList<int>{ring};
    QTest::newRow("ring falls, not counted") << int(L::Ring) << none << 0 << none << QList<int>{};
    QTest::newRow("ring rises, counted: wait for the count")
        << 0 << QList<int>{0, 0, 0, 1} << int(L::Ring) << QList<int>{0, 0, 0, 1} << QList<int>{};
    QTest::newRow("ring counted once") << int(L::Ring) << QList<int>{0, 0, 0, 1} << 0 << QList<int>{0, 0, 0, 2}
                                       << QList<int>{ring};
    QTest::newRow("CD and ring together") << 0 << none << int(L::Cd | L::Ring) << none << QList<int>{cd, ring};
}

void tst_Serial::lineEvents()
{
    QFETCH(int, linesBefore);
    QFETCH(QList<int>, countsBefore);
    QFETCH(int, linesAfter);
    QFETCH(QList<int>, countsAfter);
    QFETCH(QList<int>, events);

    const auto state = [](int lines, const QList<int> &counts) {
        RealSerialPortControl::LineState s;
        s.lines = lines;
        s.counted = !counts.isEmpty();
        if (s.counted) {
            s.ctsCount = counts[0];
            s.dsrCount = counts[1];
            s.cdCount = counts[2];
            s.ringCount = counts[3];
        }
        return s;
    };
    QCOMPARE(RealSerialPortControl::lineEvents(state(linesBefore, countsBefore), state(linesAfter, countsAfter)),
             events);
}

void tst_Serial::openFailureReasons()
{
    QTemporaryDir dir;
    ComPortMap map;
    map.setEntries({{5, dir.filePath(QStringLiteral("ttyUSB9"))}});
    RealSerialPortControl control(&map);
    control.ModeSettings(QStringLiteral("9600,N,8,1"));

    control.PortNumber(7);
    control.IsOpen(true);
    QVERIFY(!control.IsOpen());
    QVERIFY2(control.LastError().startsWith(QLatin1String("COM7: no device is assigned")),
             qPrintable(control.LastError()));
    QVERIFY(control.LastError().contains(QLatin1String("[Ports]")));

    control.PortNumber(5);
    control.IsOpen(true);
    QVERIFY(!control.IsOpen());
    QCOMPARE(control.LastError(),
             dir.filePath(QStringLiteral("ttyUSB9")) + QStringLiteral(": No such file or directory"));

    // A terminal the user may not open; a plain file would be refused as no
    // serial device before its permissions are looked at.
    SocatPair pair;
    if (::geteuid() != 0 && SocatPair::available() && pair.start()) { // root may open anything
        const QString locked = pair.pathA();
        QVERIFY(QFile::setPermissions(QFileInfo(locked).canonicalFilePath(), {}));
        map.setEntries({{5, locked}});
        control.IsOpen(true);
        QVERIFY(!control.IsOpen());
        QVERIFY2(control.LastError().startsWith(locked + QStringLiteral(": Permission denied;")),
                 qPrintable(control.LastError()));
    }

    // A write to a closed port is dropped.
    control.WriteOutput("lost");
    QCOMPARE(control.OutputPending(), 0);
}

void tst_Serial::permissionDeniedNamesTheGroup()
{
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile file(node);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QString group = QStringLiteral("dialout");
    if (const struct group *g = ::getgrnam("dialout")) {
        if (::chown(QFile::encodeName(node).constData(), uid_t(-1), g->gr_gid) != 0)
            group = QString::fromLocal8Bit(::getgrgid(::getegid())->gr_name);
    } else {
        group = QString::fromLocal8Bit(::getgrgid(::getegid())->gr_name);
    }
    const QString reason = RealSerialPortControl::permissionDeniedReason(node);
    QVERIFY2(reason.startsWith(node + QStringLiteral(": Permission denied")), qPrintable(reason));
    QVERIFY2(reason.contains(QStringLiteral("group \"%1\"").arg(group)), qPrintable(reason));
}

void tst_Serial::loopbackEchoesInOrder()
{
    ComPortMap map;
    map.setEntries({{2, ComPortMap::Loopback}});
    RealSerialPortControl control(&map);
    Receiver rx(control);
    control.PortNumber(2);
    control.ModeSettings(QStringLiteral("9600,N,8,1"));
    control.IsOpen(true);
    QVERIFY2(control.IsOpen(), qPrintable(control.LastError()));

    control.WriteOutput(allByteValues());
    control.WriteOutput(QByteArray("\0tail", 5));
    QCOMPARE(control.InputCount(), 0); // comes back later, never inside the write
    QTRY_COMPARE(rx.bytes.size(), 261);
    QCOMPARE(rx.bytes, allByteValues() + QByteArray("\0tail", 5));

    // An echoing receiver does not lock the program up: each echo comes back
    // on a later turn of the event loop.
    int rounds = 0;
    QObject::connect(&control, &SerialPortControl::SerialEvent, &control, [&] {
        if (rounds < 50 && control.EventCode() == SerialPortControl::EventReceive) {
            ++rounds;
            control.WriteOutput("e");
        }
    });
    control.WriteOutput("e");
    QTRY_COMPARE(rounds, 50);

    control.IsOpen(false);
    QVERIFY(!control.IsOpen());
}

void tst_Serial::loopbackLineWiring_data()
{
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<bool>("rts");

    QTest::newRow("DTR and RTS on") << true << true;
    QTest::newRow("DTR on, RTS off") << true << false;
    QTest::newRow("DTR off, RTS on") << false << true;
    QTest::newRow("both off") << false << false;
}

void tst_Serial::loopbackLineWiring()
{
    QFETCH(bool, dtr);
    QFETCH(bool, rts);

    ComPortMap map;
    map.setEntries({{9, ComPortMap::Loopback}});
    RealSerialPortControl control(&map);
    Receiver rx(control);
    control.PortNumber(9);
    control.ModeSettings(QStringLiteral("9600,N,8,1"));
    control.DtrEnabled(dtr);
    control.RtsEnabled(rts);
    control.IsOpen(true);
    QVERIFY(control.IsOpen());
    QCOMPARE(control.DataSetReady(), dtr);
    QCOMPARE(control.CarrierDetect(), dtr);
    QCOMPARE(control.ClearToSend(), rts);
    QCoreApplication::processEvents();
    QVERIFY2(rx.codes.isEmpty(), "opening announced line changes");

    control.DtrEnabled(!dtr);
    QCOMPARE(control.DataSetReady(), !dtr);
    QCOMPARE(control.CarrierDetect(), !dtr);
    QCOMPARE(control.ClearToSend(), rts);
    QTRY_COMPARE(rx.codes.size(), 2);
    QCOMPARE(rx.codes, (QList<int>{SerialPortControl::EventDsrChanged, SerialPortControl::EventCdChanged}));

    rx.codes.clear();
    control.RtsEnabled(!rts);
    control.RtsEnabled(!rts); // no change, no event
    QCOMPARE(control.ClearToSend(), !rts);
    QTRY_COMPARE(rx.codes.size(), 1);
    QCOMPARE(rx.codes.first(), int(SerialPortControl::EventCtsChanged));
    QCoreApplication::processEvents();
    QCOMPARE(rx.codes.size(), 1);
}

void tst_Serial::loopbackQuietWhileClosed()
{
    ComPortMap map;
    map.setEntries({{3, ComPortMap::Loopback}});
    RealSerialPortControl control(&map);
    Receiver rx(control);
    control.PortNumber(3);
    control.ModeSettings(QStringLiteral("9600,N,8,1"));

    control.DtrEnabled(true);
    control.RtsEnabled(true);
    control.WriteOutput("dropped");
    QVERIFY(!control.CarrierDetect() && !control.ClearToSend() && !control.DataSetReady());
    QCOMPARE(control.DtrEnabled(), true);

    control.IsOpen(true);
    QVERIFY(control.CarrierDetect() && control.ClearToSend() && control.DataSetReady());
    control.DtrEnabled(false);
    control.WriteOutput("in flight");
    control.IsOpen(false); // closes before the plug answers
    QTest::qWait(20);
    QVERIFY2(rx.codes.isEmpty(), "a closed port raised events");
    QCOMPARE(control.InputCount(), 0);
    QVERIFY(!control.CarrierDetect() && !control.ClearToSend() && !control.DataSetReady());
    QCOMPARE(control.DtrEnabled(), false);
}

void tst_Serial::comDefaultsAndEntries()
{
    ComPortMap map;
    QCOMPARE(map.device(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(map.device(4), QStringLiteral("/dev/ttyS3"));
    QCOMPARE(map.device(5), QString());
    QCOMPARE(map.device(32), QString());
    QCOMPARE(map.device(0), QString());
    QCOMPARE(map.device(33), QString());

    map.setEntries({{2, QStringLiteral("loopback")},
                    {7, QStringLiteral(" /dev/ttyUSB3 ")},
                    {0, QStringLiteral("/dev/x")},
                    {33, QStringLiteral("/dev/y")},
                    {8, QStringLiteral("  ")}});
    QCOMPARE(map.device(2), QStringLiteral("loopback"));
    QCOMPARE(map.device(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(map.device(7), QStringLiteral("/dev/ttyUSB3"));
    QCOMPARE(map.device(8), QString());
    QCOMPARE(map.entries().keys(), (QList<int>{2, 7}));
}

void tst_Serial::comAssignment_data()
{
    // Devices are files in a temporary directory; "by-id/x" is a link there.
    QTest::addColumn<QStringList>("entries");  // "n=device"
    QTest::addColumn<QStringList>("present");  // "device" or "device|by-id/link"
    QTest::addColumn<QStringList>("expected"); // the entries afterwards
    QTest::addColumn<bool>("added");

    QTest::newRow("first device gets COM5")
        << QStringList{} << QStringList{"ttyUSB0"} << QStringList{"5=ttyUSB0"} << true;
    QTest::newRow("by-id name preferred")
        << QStringList{} << QStringList{"ttyUSB0|by-id/usb-FTDI_A1"} << QStringList{"5=by-id/usb-FTDI_A1"} << true;
    QTest::newRow("used numbers skipped") << QStringList{"5=loopback", "6=ttyUSB7"} << QStringList{"ttyACM0", "ttyUSB1"}
                                          << QStringList{"5=loopback", "6=ttyUSB7", "7=ttyACM0", "8=ttyUSB1"} << true;
    QTest::newRow("gap filled from the bottom") << QStringList{"6=ttyUSB7"} << QStringList{"ttyACM0", "ttyUSB1"}
                                                << QStringList{"5=ttyACM0", "6=ttyUSB7", "7=ttyUSB1"} << true;
    QTest::newRow("device mapped by its by-id link is not added again")
        << QStringList{"9=by-id/usb-FTDI_A1"} << QStringList{"ttyUSB0|by-id/usb-FTDI_A1"}
        << QStringList{"9=by-id/usb-FTDI_A1"} << false;
    QTest::newRow("device mapped by its node is not added again")
        << QStringList{"12=ttyUSB0"} << QStringList{"ttyUSB0|by-id/usb-FTDI_A1"} << QStringList{"12=ttyUSB0"} << false;
    QTest::newRow("built-in ports never assigned")
        << QStringList{} << QStringList{"ttyS0", "ttyS4", "ttyUSB0"} << QStringList{"5=ttyUSB0"} << true;
    QTest::newRow("low numbers left to the built-in ports")
        << QStringList{"1=loopback"} << QStringList{"ttyUSB0"} << QStringList{"1=loopback", "5=ttyUSB0"} << true;
    QTest::newRow("nothing present") << QStringList{"5=ttyUSB0"} << QStringList{} << QStringList{"5=ttyUSB0"} << false;
}

void tst_Serial::comAssignment()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, present);
    QFETCH(QStringList, expected);
    QFETCH(bool, added);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("by-id")));
    const auto abs = [&](const QString &name) { return name == QLatin1String("loopback") ? name : dir.filePath(name); };
    const auto toMap = [&](const QStringList &list) {
        QMap<int, QString> m;
        for (const QString &e : list)
            m.insert(e.section(u'=', 0, 0).toInt(), abs(e.section(u'=', 1)));
        return m;
    };

    QList<ComPortMap::PresentDevice> devices;
    for (const QString &p : present) {
        ComPortMap::PresentDevice d;
        d.path = abs(p.section(u'|', 0, 0));
        QFile node(d.path);
        QVERIFY(node.open(QIODevice::WriteOnly));
        if (p.contains(u'|')) {
            d.stablePath = abs(p.section(u'|', 1));
            QVERIFY(QFile::link(d.path, d.stablePath));
        }
        devices.append(d);
    }

    ComPortMap map;
    map.setEntries(toMap(entries));
    QCOMPARE(map.assignPresentDevices(devices), added);
    QCOMPARE(map.entries(), toMap(expected));
    // Assigning again adds nothing: every present device has its number.
    QVERIFY(!map.assignPresentDevices(devices));
}

void tst_Serial::comStableLinks()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("by-id"));
    for (const char *name : {"ttyUSB0", "ttyUSB1", "ttyACM0"}) {
        QFile f(dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(dir.filePath("ttyUSB0"), dir.filePath("by-id/usb-FTDI_A-if00-port0")));
    QVERIFY(QFile::link(dir.filePath("ttyUSB1"), dir.filePath("by-id/usb-Prolific_B-if01-port0")));
    QVERIFY(QFile::link(dir.filePath("ttyUSB1"), dir.filePath("by-id/usb-Prolific_B-if00-port0")));
    QVERIFY(QFile::link(dir.filePath("gone"), dir.filePath("by-id/usb-dangling")));
    QFile plain(dir.filePath("by-id/not-a-link"));
    QVERIFY(plain.open(QIODevice::WriteOnly));

    const QMap<QString, QString> links = ComPortMap::stableLinks(dir.filePath("by-id"));
    const QString canon = QFileInfo(dir.path()).canonicalFilePath();
    QCOMPARE(links.size(), 2);
    QCOMPARE(links.value(canon + "/ttyUSB0"), dir.filePath("by-id/usb-FTDI_A-if00-port0"));
    QCOMPARE(links.value(canon + "/ttyUSB1"), dir.filePath("by-id/usb-Prolific_B-if00-port0"));
    QVERIFY(ComPortMap::stableLinks(dir.filePath("missing")).isEmpty());
}

void tst_Serial::comSettingsRoundTrip()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings.ini"));
    const QMap<int, QString> entries{
        {1, QStringLiteral("loopback")},
        {5, QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")},
        {32, QStringLiteral("/dev/ttyACM0")}};
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Ports/COM9"), QStringLiteral("/dev/stale")); // removed by the save
        settings.setValue(QStringLiteral("Settings/CommPort"), QStringLiteral("5"));   // other groups kept
        ComPortMap map;
        map.setEntries(entries);
        map.writeSettings(settings);
    }
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Ports/COM0"), QStringLiteral("/dev/ignored"));
        settings.setValue(QStringLiteral("Ports/COM33"), QStringLiteral("/dev/ignored"));
        settings.setValue(QStringLiteral("Ports/Other"), QStringLiteral("/dev/ignored"));
        ComPortMap map;
        map.readSettings(settings);
        QCOMPARE(map.entries(), entries);
        QCOMPARE(settings.value(QStringLiteral("Settings/CommPort")).toString(), QStringLiteral("5"));
    }
    QFile ini(file);
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    QVERIFY2(text.contains("[Ports]") && text.contains("COM5=/dev/serial/by-id/usb-FTDI"), text.constData());
}

void tst_Serial::comDescribe()
{
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile f(node);
    QVERIFY(f.open(QIODevice::WriteOnly));
    const QString link = dir.filePath(QStringLiteral("usb-FTDI_A1"));
    QVERIFY(QFile::link(node, link));

    ComPortMap map;
    map.setEntries({{2, QStringLiteral("loopback")}, {6, node}, {7, link}, {8, dir.filePath("ttyACM9")}});
    map.assignPresentDevices({{node, link, QStringLiteral("FTDI FT232R USB UART")}});
    QCOMPARE(map.describe(2), QStringLiteral("loopback plug"));
    QCOMPARE(map.describe(20), QStringLiteral("no device"));
    QCOMPARE(map.describe(6), node + QStringLiteral(" (FTDI FT232R USB UART)"));
    QVERIFY2(map.describe(7).startsWith(link) && map.describe(7).endsWith(QStringLiteral("(FTDI FT232R USB UART)")),
             qPrintable(map.describe(7)));
    QCOMPARE(map.describe(8), dir.filePath("ttyACM9") + QStringLiteral(" (not connected)"));
    QVERIFY(map.describe(1).startsWith(QStringLiteral("/dev/ttyS0")));
}

QTEST_GUILESS_MAIN(tst_Serial)
#include "tst_serial.moc"
