// Finding out about devices: who holds a device open (over a fake /proc tree,
// and a real second process holding a pseudo-terminal), what sysfs says of
// each plugged-in adapter (over a fake tree), and the Ports dialog's edits of
// the COM map, which automatic numbering must not undo.

#include "comportmap.h"
#include "deviceinventory.h"
#include "mainform.h"
#include "porterrorbox.h"
#include "portholders.h"
#include "portsdialog.h"
#include "realserialportcontrol.h"
#include "socatpair.h"
#include "terminalfixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

bool makeFile(const QString &path, const QByteArray &bytes = QByteArray())
{
    QDir().mkpath(QFileInfo(path).path());
    return writeFile(path, bytes);
}

bool makeLink(const QString &target, const QString &link)
{
    QDir().mkpath(QFileInfo(link).path());
    return QFile::link(target, link);
}

// A fake machine: /dev with two adapters (one with a by-id name), /sys
// describing them and two built-in UART slots, /proc with a few processes.
struct FakeMachine
{
    QTemporaryDir dir;
    DeviceTreeRoots roots;
    QString proc, usb, acm, usbById;

    FakeMachine()
    {
        roots.dev = dir.filePath(QStringLiteral("dev"));
        roots.sys = dir.filePath(QStringLiteral("sys"));
        proc = dir.filePath(QStringLiteral("proc"));
        usb = roots.dev + QStringLiteral("/ttyUSB0");
        acm = roots.dev + QStringLiteral("/ttyACM0");
        usbById = roots.dev + QStringLiteral("/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
        for (const char *node : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "tty0"})
            makeFile(roots.dev + u'/' + QLatin1String(node));
        makeLink(QStringLiteral("../../ttyUSB0"), usbById);

        const QString devices = roots.sys + QStringLiteral("/devices");
        const QString ftdi = devices + QStringLiteral("/pci0000:00/usb1/1-1");
        const QString uno = devices + QStringLiteral("/pci0000:00/usb1/1-2");
        const QList<std::pair<QString, QByteArray>> attrs = {
            {ftdi + QStringLiteral("/idVendor"), "0403\n"},
            {ftdi + QStringLiteral("/idProduct"), "6001\n"},
            {ftdi + QStringLiteral("/manufacturer"), "FTDI\n"},
            {ftdi + QStringLiteral("/product"), "FT232R USB UART\n"},
            {ftdi + QStringLiteral("/serial"), "A1B2C3\n"},
            {uno + QStringLiteral("/idVendor"), "2341\n"},
            {uno + QStringLiteral("/idProduct"), "0043\n"},
            {uno + QStringLiteral("/manufacturer"), "Arduino (www.arduino.cc)\n"},
            {uno + QStringLiteral("/product"), "Arduino Uno\n"},
            {devices + QStringLiteral("/platform/serial8250/tty/ttyS0/type"), "0\n"},
            {devices + QStringLiteral("/pnp0/00:01/tty/ttyS1/type"), "4\n"},
        };
        for (const auto &[path, value] : attrs)
            makeFile(path, value);
        QDir().mkpath(ftdi + QStringLiteral("/1-1:1.0/ttyUSB0"));
        QDir().mkpath(uno + QStringLiteral("/1-2:1.0/tty/ttyACM0"));
        QDir().mkpath(devices + QStringLiteral("/virtual/tty/tty0"));
        const QString cls = roots.sys + QStringLiteral("/class/tty/");
        // As in sysfs, a class entry links to the device's directory, whose
        // `device` leads to the hardware it sits on.
        makeLink(ftdi + QStringLiteral("/1-1:1.0/ttyUSB0"), cls + QStringLiteral("ttyUSB0"));
        makeLink(ftdi + QStringLiteral("/1-1:1.0"), ftdi + QStringLiteral("/1-1:1.0/ttyUSB0/device"));
        makeLink(uno + QStringLiteral("/1-2:1.0/tty/ttyACM0"), cls + QStringLiteral("ttyACM0"));
        makeLink(uno + QStringLiteral("/1-2:1.0"), uno + QStringLiteral("/1-2:1.0/tty/ttyACM0/device"));
        makeLink(devices + QStringLiteral("/platform/serial8250/tty/ttyS0"), cls + QStringLiteral("ttyS0"));
        makeLink(devices + QStringLiteral("/platform/serial8250"),
                 devices + QStringLiteral("/platform/serial8250/tty/ttyS0/device"));
        makeLink(devices + QStringLiteral("/pnp0/00:01/tty/ttyS1"), cls + QStringLiteral("ttyS1"));
        makeLink(devices + QStringLiteral("/pnp0/00:01"), devices + QStringLiteral("/pnp0/00:01/tty/ttyS1/device"));
        makeLink(devices + QStringLiteral("/virtual/tty/tty0"), cls + QStringLiteral("tty0"));

        // Processes: the modem prober on the Arduino, a terminal program on
        // the FTDI adapter (its descriptor names the node, as the kernel's
        // does), a shell on something else, one that ended while being read.
        addProcess(100, "ModemManager", 0, {{7, acm}, {8, QStringLiteral("socket:[1234]")}});
        addProcess(250, "picocom", 4242, {{0, QStringLiteral("/dev/pts/3")}, {3, usb}});
        addProcess(300, "bash", 0, {{0, QStringLiteral("/dev/pts/0")}});
        QDir().mkpath(proc + QStringLiteral("/400"));
        QDir().mkpath(proc + QStringLiteral("/self/fd"));
        makeLink(usb, proc + QStringLiteral("/self/fd/3"));
    }

    void addProcess(int pid, const QByteArray &comm, int uid, const QList<std::pair<int, QString>> &fds)
    {
        const QString base = proc + u'/' + QString::number(pid);
        makeFile(base + QStringLiteral("/comm"), comm + '\n');
        makeFile(base + QStringLiteral("/status"),
                 "Name:\t" + comm + "\nUid:\t" + QByteArray::number(uid) + '\t' + QByteArray::number(uid) + "\t0\t0\n");
        QDir().mkpath(base + QStringLiteral("/fd"));
        for (const auto &[fd, target] : fds)
            makeLink(target, base + QStringLiteral("/fd/") + QString::number(fd));
    }

    qsizetype rowOf(const QList<DeviceInventory::Device> &list, const QString &path) const
    {
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list[i].path == path)
                return i;
        }
        return -1;
    }
};

QList<ComPortMap::PresentDevice> asPresent(const QList<DeviceInventory::Device> &devices)
{
    QList<ComPortMap::PresentDevice> present;
    for (const DeviceInventory::Device &d : devices)
        present.append({d.path, d.stablePath, d.description()});
    return present;
}

} // namespace

class TestDeviceLookup : public QObject
{
    Q_OBJECT

private slots:
    void holdersFromProc();
    void holderDetails();
    void inventoryFromSysfs();
    void portsDialogEditsTheMap();
    void busyPortNamesItsHolder();
};

void TestDeviceLookup::holdersFromProc()
{
    FakeMachine m;
    // By its stable name or its node: the same holder.
    for (const QString &device : {m.usbById, m.usb}) {
        const PortHolders::Scan scan = PortHolders::find(device, m.proc);
        QCOMPARE(scan.holders.size(), 1);
        QCOMPARE(scan.holders[0].pid, 250);
        QCOMPARE(scan.holders[0].command, QStringLiteral("picocom"));
        QCOMPARE(scan.holders[0].user, QStringLiteral("4242")); // no such user here: the number
        QCOMPARE(scan.unreadable, 0);
    }
    const PortHolders::Scan acm = PortHolders::find(m.acm, m.proc);
    QCOMPARE(acm.holders.size(), 1);
    QCOMPARE(acm.holders[0].pid, 100);
    QCOMPARE(acm.holders[0].user, QStringLiteral("root"));
    QVERIFY(PortHolders::isModemProber(acm.holders[0]));
    QVERIFY(PortHolders::find(m.roots.dev + QStringLiteral("/ttyS1"), m.proc).holders.isEmpty());

    // A process whose open files may not be read is counted, not skipped.
    if (::geteuid() != 0) {
        m.addProcess(500, "secret", 0, {{3, m.usb}});
        QFile::setPermissions(m.proc + QStringLiteral("/500/fd"), QFileDevice::Permissions());
        const PortHolders::Scan scan = PortHolders::find(m.usb, m.proc);
        QCOMPARE(scan.holders.size(), 1);
        QCOMPARE(scan.unreadable, 1);
    }
}

void TestDeviceLookup::holderDetails()
{
    FakeMachine m;
    const PortHolders::Scan usb = PortHolders::find(m.usb, m.proc);
    const QString plain = PortHolders::describe(usb, m.usb);
    QCOMPARE(plain, QStringLiteral("Held by process 250 (picocom), user 4242."));

    // The modem prober: how to keep it off this adapter, by its ids.
    const QString prober = PortHolders::describe(PortHolders::find(m.acm, m.proc), m.acm,
                                                 DeviceInventory::lookup(m.acm, m.roots).udevMatch());
    QVERIFY2(prober.startsWith(QStringLiteral("Held by process 100 (ModemManager), user root.\n")), qPrintable(prober));
    QVERIFY2(prober.contains(QStringLiteral("ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", "
                                            "ENV{ID_MM_DEVICE_IGNORE}=\"1\"")),
             qPrintable(prober));
    QVERIFY(!plain.contains(QStringLiteral("ID_MM_DEVICE_IGNORE")));

    // Processes that could not be looked at are said, with a way to see them.
    PortHolders::Scan hidden;
    hidden.unreadable = 3;
    const QString unknown = PortHolders::describe(hidden, m.usb);
    QVERIFY2(unknown.startsWith(QStringLiteral("3 processes of other users could not be looked at")),
             qPrintable(unknown));
    QVERIFY(unknown.contains(QStringLiteral("sudo fuser -v ") + m.usb));
}

void TestDeviceLookup::inventoryFromSysfs()
{
    FakeMachine m;
    const QList<DeviceInventory::Device> devices = DeviceInventory::scan(m.roots);
    QStringList paths;
    for (const auto &d : devices)
        paths.append(QFileInfo(d.path).fileName());
    // Ordered by name; no empty UART slot, no virtual terminal.
    QCOMPARE(paths, (QStringList{QStringLiteral("ttyACM0"), QStringLiteral("ttyS1"), QStringLiteral("ttyUSB0")}));

    const DeviceInventory::Device &ftdi = devices[2];
    QCOMPARE(ftdi.stablePath, m.usbById);
    QCOMPARE(ftdi.description(), QStringLiteral("FTDI FT232R USB UART"));
    QCOMPARE(ftdi.serial, QStringLiteral("A1B2C3"));
    QCOMPARE(ftdi.udevMatch(), QStringLiteral("ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
                                              "ATTRS{serial}==\"A1B2C3\""));
    const DeviceInventory::Device &uno = devices[0];
    QCOMPARE(uno.stablePath, QString());
    QCOMPARE(uno.description(), QStringLiteral("Arduino Uno")); // the maker is not said twice
    QCOMPARE(devices[1].description(), QString());
    QCOMPARE(devices[1].udevMatch(), QString());

    // Found again by its stable name; something else is only a path.
    QCOMPARE(DeviceInventory::lookup(m.usbById, m.roots).serial, QStringLiteral("A1B2C3"));
    QCOMPARE(DeviceInventory::lookup(m.roots.dev + QStringLiteral("/tty0"), m.roots).vendorId, QString());
}

void TestDeviceLookup::portsDialogEditsTheMap()
{
    FakeMachine m;
    const QList<DeviceInventory::Device> present = DeviceInventory::scan(m.roots);
    ComPortMap map;
    map.setEntries({{5, m.usbById}, {9, QStringLiteral("/dev/ttyUSB7")}});
    PortsDialog dialog(map, present, [&m](const QString &device) {
        const auto scan = PortHolders::find(device, m.proc);
        return scan.holders.isEmpty() ? QString() : scan.holders[0].command;
    });
    const int usbRow = int(m.rowOf(present, m.usb));
    const int acmRow = int(m.rowOf(present, m.acm));
    QCOMPARE(dialog.tblDevices->item(usbRow, 0)->text(), QStringLiteral("COM5"));
    QCOMPARE(dialog.tblDevices->item(usbRow, 5)->text(), QStringLiteral("picocom"));
    QCOMPARE(dialog.tblDevices->item(acmRow, 0)->text(), QStringLiteral("none"));
    QCOMPARE(dialog.tblPorts->item(8, 1)->text(), QStringLiteral("/dev/ttyUSB7"));
    QCOMPARE(dialog.tblPorts->item(8, 2)->text(), QStringLiteral("not connected"));
    QVERIFY(dialog.tblPorts->item(4, 2)->text().startsWith(QStringLiteral("plugged in: FTDI FT232R")));

    // Moving a device: one number per device, and the number's old device
    // is let go.
    dialog.assign(usbRow, 9);
    dialog.assign(acmRow, 2);
    QCOMPARE(dialog.map().entries(), (QMap<int, QString>{{2, m.acm}, {9, m.usbById}}));
    QCOMPARE(dialog.tblDevices->item(usbRow, 0)->text(), QStringLiteral("COM9"));

    // A number taken away stays away: the device is not numbered again by
    // itself, until the user gives it a number.
    dialog.unassign(2);
    ComPortMap edited = dialog.map();
    QCOMPARE(edited.entries(), (QMap<int, QString>{{9, m.usbById}}));
    QCOMPARE(edited.assignPresentDevices(asPresent(present)), false);
    QCOMPARE(edited.entries(), (QMap<int, QString>{{9, m.usbById}}));
    {
        QSettings ini(QDir(m.dir.path()).filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
        edited.writeSettings(ini);
        ini.sync();
        ComPortMap reread;
        reread.readSettings(ini);
        QCOMPARE(reread.unassigned(), QStringList{m.acm});
        QCOMPARE(reread.assignPresentDevices(asPresent(present)), false);
    }
    dialog.assign(acmRow, 4);
    QCOMPARE(dialog.map().unassigned(), QStringList());
    QCOMPARE(dialog.map().device(4), m.acm);
}

void TestDeviceLookup::busyPortNamesItsHolder()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));

    // Another program holds the pseudo-terminal, as a terminal program
    // holds a port: open, locked, until it is told to let go.
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), pair.pathA()});
    QVERIFY(holder.waitForStarted(10000));
    QByteArray said;
    QVERIFY(QTest::qWaitFor(
        [&] {
            said += holder.readAllStandardOutput();
            return said.contains('\n') || holder.state() == QProcess::NotRunning;
        },
        30000));
    QCOMPARE(said.trimmed(), QByteArray("holding"));
    auto letGo = qScopeGuard([&] {
        holder.closeWriteChannel();
        holder.waitForFinished(10000);
    });

    MessageBoxLog log;
    RealPortTerminal t(TerminalFixture::MappedPortIni(1, pair.pathA()));
    t.form->Form_Load();
    QVERIFY(!t.comm->IsOpen());
    QCOMPARE(log.boxes.size(), 1);
    QCOMPARE(log.boxes[0].text, QString::fromUtf16(PortNotAvailableText));
    const QString detail = log.boxes[0].detail;
    const QString command = QFileInfo(QCoreApplication::applicationFilePath()).fileName().left(15);
    QVERIFY2(detail.contains(QStringLiteral("in use by another program")), qPrintable(detail));
    QVERIFY2(detail.contains(QStringLiteral("Held by process %1 (%2), user ").arg(holder.processId()).arg(command)),
             qPrintable(detail));
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0) {
        QCoreApplication app(argc, argv);
        QSerialPort port(QFileInfo(QString::fromLocal8Bit(argv[2])).canonicalFilePath());
        if (!port.open(QIODevice::ReadWrite)) {
            std::printf("failed: %s\n", qPrintable(port.errorString()));
            return 1;
        }
        std::printf("holding\n");
        std::fflush(stdout);
        // Until the test closes our input.
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        return 0;
    }
    QApplication app(argc, argv);
    TestDeviceLookup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_devicelookup.moc"
