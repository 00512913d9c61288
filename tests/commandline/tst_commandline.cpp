// The program's options: what is accepted and refused, how a chosen port and
// mode reach the settings the window starts from, and that the answers which
// need no window come without a display.

#include "commandline.h"
#include "comportmap.h"
#include "settingsstore.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// A pseudo-terminal whose slave stands in for a plugged-in serial device.
class Pty
{
public:
    Pty()
        : m_master(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_slave = QString::fromLocal8Bit(::ptsname(m_master));
    }
    ~Pty()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    QString slave() const { return m_slave; }

private:
    int m_master = -1;
    QString m_slave;
};

QMap<QString, QString> section(SettingsStore &store, const QString &name)
{
    store.Flush();
    return store.GetAllSettings(name);
}

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void portReachesTheStartSettings();
    void deviceRefusedLeavesSettingsAlone_data();
    void deviceRefusedLeavesSettingsAlone();
    void deviceTakesItsStableName();
    void answersWithoutDisplay_data();
    void answersWithoutDisplay();
};

void tst_CommandLine::initTestCase()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
}

void tst_CommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("qtOptionsLeft"); // before the application has taken Qt's own options out
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("mode");    // canonical, empty when none is set
    QTest::addColumn<QString>("message"); // a piece of the message

    using O = CommandLine::Outcome;
    const QString none;
    QTest::newRow("nothing") << QStringList() << false << int(O::Start) << none << none << none;
    QTest::newRow("COM number and mode, any case")
        << QStringList{QStringLiteral("--port"), QStringLiteral("com3"), QStringLiteral("--mode"),
                       QStringLiteral(" 250000, n ,8,1")}
        << false << int(O::Start) << QStringLiteral("com3") << QStringLiteral("250000,N,8,1") << none;
    QTest::newRow("device path with =") << QStringList{QStringLiteral("--port=/dev/ttyUSB0"),
                                                       QStringLiteral("--mode=9600,E,7,1.5")}
                                        << false << int(O::Start) << QStringLiteral("/dev/ttyUSB0")
                                        << QStringLiteral("9600,E,7,1.5") << none;
    QTest::newRow("Qt's options while they are still there")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-reverse"),
                       QStringLiteral("--port"), QStringLiteral("None")}
        << true << int(O::Start) << QStringLiteral("None") << none << none;
    QTest::newRow("unknown option once Qt's are gone")
        << QStringList{QStringLiteral("-reverse")} << false << int(O::Fail) << none << none
        << QStringLiteral("portlark: Unknown option 'reverse'");
    QTest::newRow("stray word once Qt's are gone") << QStringList{QStringLiteral("COM3")} << false << int(O::Fail)
                                                   << none << none << QStringLiteral("unexpected argument \"COM3\"");
    QTest::newRow("missing value, even among Qt's options")
        << QStringList{QStringLiteral("-style"), QStringLiteral("Fusion"), QStringLiteral("--mode")} << true
        << int(O::Fail) << none << none << QStringLiteral("portlark: --mode");
    QTest::newRow("bad parity, even among Qt's options")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("--mode"),
                       QStringLiteral("9600,X,8,1")}
        << true << int(O::Fail) << none << none << QStringLiteral("--mode: the parity \"X\" is not one of");
    QTest::newRow("mode with three fields") << QStringList{QStringLiteral("--mode"), QStringLiteral("9600,N,8")}
                                            << false << int(O::Fail) << none << none << QStringLiteral("four fields");
    QTest::newRow("COM number past the list")
        << QStringList{QStringLiteral("--port"), QStringLiteral("COM33")} << false << int(O::Fail) << none << none
        << QStringLiteral("--port \"COM33\" is not COM1 to COM32");
    QTest::newRow("device name without its folder")
        << QStringList{QStringLiteral("--port"), QStringLiteral("ttyUSB0")} << false << int(O::Fail) << none << none
        << QStringLiteral("is not COM1 to COM32, None, a device path or loopback");
    QTest::newRow("version") << QStringList{QStringLiteral("--version")} << false << int(O::Print) << none << none
                             << QStringLiteral("portlark 1.2.3\n");
    QTest::newRow("-v among Qt's options, after a bad mode")
        << QStringList{QStringLiteral("-reverse"), QStringLiteral("--mode"), QStringLiteral("x"), QStringLiteral("-v")}
        << true << int(O::Print) << none << none << QStringLiteral("portlark 1.2.3\n");
    QTest::newRow("help") << QStringList{QStringLiteral("-h")} << false << int(O::Print) << none << none
                          << QStringLiteral("Usage: portlark [options]\n");
}

void tst_CommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, qtOptionsLeft);
    QFETCH(int, outcome);
    QFETCH(QString, port);
    QFETCH(QString, mode);
    QFETCH(QString, message);

    arguments.prepend(QStringLiteral("/usr/bin/portlark"));
    const CommandLine line
        = CommandLine::parse(arguments, qtOptionsLeft ? CommandLine::Unknown::Tolerate : CommandLine::Unknown::Refuse);
    QCOMPARE(int(line.outcome()), outcome);
    QCOMPARE(line.exitCode(), outcome == int(CommandLine::Outcome::Fail) ? 2 : 0);
    QVERIFY2(line.message().contains(message), qPrintable(line.message()));
    if (line.outcome() == CommandLine::Outcome::Print && message.startsWith(u'U')) {
        QVERIFY(line.message().startsWith(message));
        for (const char *option : {"--port <port>", "--mode <mode>", "--version", "--help"})
            QVERIFY2(line.message().contains(QLatin1String(option)), option);
    }
    if (line.outcome() == CommandLine::Outcome::Start) {
        QCOMPARE(line.port(), port);
        QCOMPARE(line.mode() ? line.mode()->toString() : QString(), mode);
    }
}

// As a choice in the window: the port and mode the window reads at start-up
// change, and a device new to the map gets the lowest COM number that opens
// nothing, leaving every other entry and key as it was.
void tst_CommandLine::portReachesTheStartSettings()
{
    Pty fresh, known, passedOver;
    QVERIFY(!fresh.slave().isEmpty() && !known.slave().isEmpty() && !passedOver.slave().isEmpty());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("adapter"));
    QVERIFY(QFile::link(known.slave(), link));

    SettingsStore store(dir.filePath(QStringLiteral("portlark.ini")));
    store.SaveSetting(QStringLiteral("Settings"), QStringLiteral("CommPort"), QStringLiteral("2"));
    store.SaveSetting(QStringLiteral("Settings"), QStringLiteral("Handshake"), QStringLiteral("2"));
    store.SaveSetting(QStringLiteral("Ports"), QStringLiteral("COM5"), QStringLiteral("/dev/ttyACM7"));
    store.SaveSetting(QStringLiteral("Ports"), QStringLiteral("COM7"), link);
    store.SaveSetting(QStringLiteral("Ports"), QStringLiteral("Unassigned"), passedOver.slave());

    auto apply = [&store](const QStringList &options) {
        const CommandLine line
            = CommandLine::parse(QStringList{QStringLiteral("portlark")} + options, CommandLine::Unknown::Refuse);
        QString why;
        const bool ok = line.outcome() == CommandLine::Outcome::Start && line.applyTo(store, &why);
        return ok ? section(store, QStringLiteral("Settings")).value(QStringLiteral("CommPort")) : why;
    };

    // The lowest free number is COM6: COM1..COM4 open the built-in ports.
    QCOMPARE(apply({QStringLiteral("--port"), fresh.slave(), QStringLiteral("--mode"), QStringLiteral("19200,e,7,2")}),
             QStringLiteral("6"));
    QCOMPARE(section(store, QStringLiteral("Ports")).value(QStringLiteral("COM6")), fresh.slave());
    QCOMPARE(section(store, QStringLiteral("Settings")).value(QStringLiteral("COMModeString")),
             QStringLiteral("19200,E,7,2"));
    // Asked again, by the same node under another name: no second entry.
    QCOMPARE(apply({QStringLiteral("--port"), fresh.slave()}), QStringLiteral("6"));
    QCOMPARE(apply({QStringLiteral("--port"), known.slave()}), QStringLiteral("7"));
    QCOMPARE(apply({QStringLiteral("--port"), QStringLiteral("/dev/ttyS1")}), QStringLiteral("2"));
    // A device the user had taken the number away from gets one again when
    // asked for by name, and leaves the list of those passed over.
    QCOMPARE(apply({QStringLiteral("--port"), passedOver.slave()}), QStringLiteral("8"));
    QCOMPARE(apply({QStringLiteral("--port"), QStringLiteral("loopback")}), QStringLiteral("9"));
    QCOMPARE(apply({QStringLiteral("--port"), QStringLiteral("COM12")}), QStringLiteral("12"));
    QCOMPARE(apply({QStringLiteral("--port"), QStringLiteral("none")}), QStringLiteral("0"));

    QMap<QString, QString> expected{{QStringLiteral("COM5"), QStringLiteral("/dev/ttyACM7")},
                                    {QStringLiteral("COM6"), fresh.slave()},
                                    {QStringLiteral("COM7"), link},
                                    {QStringLiteral("COM8"), passedOver.slave()},
                                    {QStringLiteral("COM9"), QStringLiteral("loopback")}};
    QCOMPARE(section(store, QStringLiteral("Ports")), expected);
    QCOMPARE(section(store, QStringLiteral("Settings")).value(QStringLiteral("Handshake")), QStringLiteral("2"));
    QCOMPARE(section(store, QStringLiteral("Settings")).value(QStringLiteral("COMModeString")),
             QStringLiteral("19200,E,7,2"));
}

void tst_CommandLine::deviceRefusedLeavesSettingsAlone_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("mapFull");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QStringLiteral("/dev/ttyUSB-not-there") << false << QStringLiteral("no such device");
    QTest::newRow("not a serial device") << QStringLiteral("/dev/null") << false
                                         << QStringLiteral("not a serial device");
    QTest::newRow("every number taken") << QString() << true << QStringLiteral("every COM number");
}

void tst_CommandLine::deviceRefusedLeavesSettingsAlone()
{
    QFETCH(QString, device);
    QFETCH(bool, mapFull);
    QFETCH(QString, reason);
    Pty pty;
    if (device.isEmpty())
        device = pty.slave();

    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("portlark.ini")));
    store.SaveSetting(QStringLiteral("Settings"), QStringLiteral("CommPort"), QStringLiteral("3"));
    for (int com = ComPortMap::FirstAutoCom; mapFull && com <= ComPortMap::MaxCom; ++com)
        store.SaveSetting(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(com),
                          QStringLiteral("/dev/x%1").arg(com));
    const QMap<QString, QString> portsBefore = section(store, QStringLiteral("Ports"));

    const CommandLine line = CommandLine::parse({QStringLiteral("portlark"), QStringLiteral("--port"), device,
                                                 QStringLiteral("--mode"), QStringLiteral("1200,N,8,1")},
                                                CommandLine::Unknown::Refuse);
    QCOMPARE(line.outcome(), CommandLine::Outcome::Start);
    QString why;
    QVERIFY(!line.applyTo(store, &why));
    QVERIFY2(why.startsWith(QStringLiteral("--port ") + device) && why.contains(reason), qPrintable(why));
    QCOMPARE(section(store, QStringLiteral("Settings")),
             (QMap<QString, QString>{{QStringLiteral("CommPort"), QStringLiteral("3")}}));
    QCOMPARE(section(store, QStringLiteral("Ports")), portsBefore);
}

// A device with a by-id link is kept by it, so that it keeps its number when
// it comes back under another ttyUSB name; a link given is kept as given.
void tst_CommandLine::deviceTakesItsStableName()
{
    Pty pty;
    QTemporaryDir byId;
    const QString second = byId.filePath(QStringLiteral("usb-Maker_B-if00"));
    const QString first = byId.filePath(QStringLiteral("usb-Maker_A-if00"));
    QVERIFY(QFile::link(pty.slave(), second));
    QVERIFY(QFile::link(pty.slave(), first));

    ComPortMap byNode;
    QCOMPARE(byNode.assignDevice(pty.slave(), byId.path()), 5);
    QCOMPARE(byNode.entries(), (QMap<int, QString>{{5, first}}));
    ComPortMap byLink;
    QCOMPARE(byLink.assignDevice(second, byId.path()), 5);
    QCOMPARE(byLink.entries(), (QMap<int, QString>{{5, second}}));
    QCOMPARE(byLink.assignDevice(first, byId.path()), 5);
}

// The real program without any display: what needs no window must answer,
// and a refused option must say why on standard error.
void tst_CommandLine::answersWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0
                               << QStringLiteral("portlark " PORTLARK_VERSION "\n") << QString();
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << QStringLiteral("--mode <mode>")
                            << QString();
    QTest::newRow("bad mode") << QStringList{QStringLiteral("--mode"), QStringLiteral("250000,N,9,1")} << 2 << QString()
                              << QStringLiteral("portlark: --mode: the data bits \"9\" are not 5, 6, 7 or 8");
}

void tst_CommandLine::answersWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Were a window system needed, the X11 one would fail at once here.
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PORTLARK_BINARY), arguments);
    QVERIFY(program.waitForFinished(60000));
    const QString stdOut = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    if (out.isEmpty())
        QCOMPARE(stdOut, QString());
    else
        QVERIFY2(stdOut.startsWith(out) || (out.startsWith(u'-') && stdOut.contains(out)), qPrintable(stdOut));
    if (err.isEmpty())
        QCOMPARE(stdErr, QString());
    else
        QVERIFY2(stdErr.startsWith(err), qPrintable(stdErr));
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
