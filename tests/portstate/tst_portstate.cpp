// The status line's text for every state the port can be in.

#include "portstate.h"

#include <QTest>

class tst_PortState : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void waitingAndBack();
};

void tst_PortState::text_data()
{
    QTest::addColumn<int>("com");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<bool>("nothingSent");
    QTest::addColumn<QString>("expected");

    const QString usb = QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("nothing selected") << 0 << false << QString() << QString() << false << "No port open";
    QTest::newRow("nothing selected, Send")
        << -1 << false << QString() << QString() << true << "No port open; nothing was sent";
    QTest::newRow("open") << 1 << true << usb << QString() << false << "COM1 open: /dev/ttyUSB0 at 115200,N,8,1";
    QTest::newRow("open, Send is no news")
        << 1 << true << usb << QString() << true << "COM1 open: /dev/ttyUSB0 at 115200,N,8,1";
    QTest::newRow("closed without a problem") << 3 << false << usb << QString() << false << "COM3 closed";
    QTest::newRow("lost") << 1 << false << usb << "/dev/ttyUSB0: the device was disconnected (Input/output error)"
                          << false << "COM1 closed: the device was disconnected";
    QTest::newRow("lost, Send") << 1 << false << usb << "/dev/ttyUSB0: the device was disconnected" << true
                                << "COM1 closed: the device was disconnected; nothing was sent";
    QTest::newRow("in use") << 1 << false << usb
                            << "/dev/ttyUSB0: the port is in use by another program (Device or resource busy)" << false
                            << "COM1 closed: in use by another program";
    QTest::newRow("permission") << 2 << false << usb
                                << "/dev/ttyUSB0: Permission denied; to use this port the user must belong to the "
                                   "group \"dialout\" that owns the device (sudo usermod -aG dialout $USER, then "
                                   "log in again)"
                                << false
                                << "COM2 closed: Permission denied; to use this port the user must belong to the "
                                   "group \"dialout\" that owns the device";
    QTest::newRow("nothing mapped") << 7 << false << QString()
                                    << "COM7: no device is assigned to this port number; map one in the [Ports] "
                                       "section of the settings file (COM7=/dev/ttyUSB0, or COM7=loopback)"
                                    << false
                                    << "COM7 closed: no device is assigned to this port number; map one in the "
                                       "[Ports] section of the settings file";
    QTest::newRow("not a serial device") << 4 << false << "/dev/null"
                                         << "/dev/null: not a serial device but a regular file" << false
                                         << "COM4 closed: not a serial device but a regular file";
    QTest::newRow("message naming another device") << 5 << false << usb << "/dev/ttyS9: No such file or directory"
                                                   << false << "COM5 closed: /dev/ttyS9: No such file or directory";
}

void tst_PortState::text()
{
    QFETCH(int, com);
    QFETCH(bool, open);
    QFETCH(QString, device);
    QFETCH(QString, problem);
    QFETCH(bool, nothingSent);
    QFETCH(QString, expected);

    PortState state;
    state.comNumber = com;
    state.open = open;
    state.device = device;
    state.mode = QStringLiteral("115200,N,8,1");
    state.problem = problem;
    state.nothingSent = nothingSent;
    const QString text = PortStateText(state);
    QCOMPARE(text, expected);
    if (!device.isEmpty())
        QVERIFY2(text.count(device) <= 1, qPrintable(text));
}

void tst_PortState::waitingAndBack()
{
    PortState state;
    state.comNumber = 1;
    state.device = QStringLiteral("/dev/ttyUSB0");
    state.mode = QStringLiteral("115200,N,8,1");
    state.problem = QStringLiteral("/dev/ttyUSB0: the device was disconnected (Input/output error)");
    state.waiting = true;
    QCOMPARE(PortStateText(state), QStringLiteral("COM1 waiting for /dev/ttyUSB0 to come back"));
    state.nothingSent = true;
    QCOMPARE(PortStateText(state), QStringLiteral("COM1 waiting for /dev/ttyUSB0 to come back; nothing was sent"));
    // No port selected: nothing to wait for, whatever is left in the state.
    state.comNumber = 0;
    QCOMPARE(PortStateText(state), QStringLiteral("No port open; nothing was sent"));

    // Back by itself: how long it was gone, in units a reader takes in at once.
    state = PortState();
    state.comNumber = 1;
    state.open = true;
    state.device = QStringLiteral("/dev/ttyUSB0");
    state.mode = QStringLiteral("115200,N,8,1");
    const QString open = QStringLiteral("COM1 open: /dev/ttyUSB0 at 115200,N,8,1");
    const QList<std::pair<qint64, QString>> gone = {
        {0, QStringLiteral(" (back after 0 ms)")},          {840, QStringLiteral(" (back after 840 ms)")},
        {3249, QStringLiteral(" (back after 3.2 s)")},      {59949, QStringLiteral(" (back after 59.9 s)")},
        {65000, QStringLiteral(" (back after 1 min 5 s)")}, {7500000, QStringLiteral(" (back after 2 h 5 min)")},
    };
    for (const auto &[ms, suffix] : gone) {
        state.backAfterMs = ms;
        QCOMPARE(PortStateText(state), open + suffix);
    }
    // A return says nothing once the port is closed again.
    state.open = false;
    state.problem = QStringLiteral("/dev/ttyUSB0: the device was disconnected");
    QCOMPARE(PortStateText(state), QStringLiteral("COM1 closed: the device was disconnected"));
}

QTEST_APPLESS_MAIN(tst_PortState)
#include "tst_portstate.moc"
