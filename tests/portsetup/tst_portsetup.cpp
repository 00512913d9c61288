#include "dialogwatch.h"
#include "fakeserialportcontrol.h"
#include "helpwindow.h"
#include "modestring.h"
#include "porterrorbox.h"
#include "portsetup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <functional>

namespace {

QStringList entries(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

// Runs `action` once the dialog's modal loop is running, then runs the loop.
int execWith(PortSetup &dlg, const std::function<void()> &action)
{
    QTimer::singleShot(0, &dlg, action);
    return dlg.exec();
}

struct Flags
{
    QString mode;
    qint32 handshake;
};

} // namespace

class tst_PortSetup : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void load_data();
    void load();
    void designAndTabOrder();
    void placement_data();
    void placement();
    void okWithPortClosed_data();
    void okWithPortClosed();
    void cancelKeepsValues();
    void okWithPortOpen_data();
    void okWithPortOpen();
    void reopenFailureIsReported();
    void openingTwiceFillsOnce();
    void keys_data();
    void keys();
    void helpKeysShowContents_data();
    void helpKeysShowContents();
    void helpWithoutFile();
    void shippedHelpFile();

private:
    FakeSerialPortControl m_comm;
    QWidget m_terminal;
};

void tst_PortSetup::init()
{
    ModeString = QStringLiteral("9600,N,8,1");
    HandshakeMode = 0;
    BaudIndex = ParityIndex = DataBitsIndex = StopBitsIndex = 0;
    m_comm.IsOpen(false);
    m_comm.failOpen = false;
    m_comm.log.clear();
}

void tst_PortSetup::load_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("handshake");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("flowIndex");

    const QStringList defaults{"9600", "None", "8", "1"};
    QTest::newRow("defaults") << "9600,N,8,1" << 0 << defaults << 0;
    QTest::newRow("lower-case parity") << "9600,n,8,1" << 0 << defaults << 0;
    QTest::newRow("rate outside list at first opening")
        << "150,N,8,1" << 0 << QStringList{"110", "None", "8", "1"} << 0;
    QTest::newRow("loose form") << "  19200 , even , 7 , 1.5" << 1 << QStringList{"19200", "Even", "7", "1.5"} << 1;
    QTest::newRow("hardware flow") << "115200,S,5,2" << 2 << QStringList{"115200", "Space", "5", "2"} << 2;
    QTest::newRow("flow -1 unselected") << "9600,N,8,1" << -1 << defaults << -1;
    QTest::newRow("flow 3 unselected") << "9600,N,8,1" << 3 << defaults << -1;
    QTest::newRow("flow 7 unselected") << "9600,N,8,1" << 7 << defaults << -1;
    QTest::newRow("empty mode string") << "" << 0 << QStringList{"110", "None", "5", "1"} << 0;
}

void tst_PortSetup::load()
{
    QFETCH(QString, mode);
    QFETCH(int, handshake);
    QFETCH(QStringList, shown);
    QFETCH(int, flowIndex);

    ModeString = mode;
    HandshakeMode = handshake;
    PortSetup dlg(m_comm, &m_terminal);

    QCOMPARE(entries(dlg.BaudCombo),
             (QStringList{"110", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    QCOMPARE(entries(dlg.ParityCombo), (QStringList{"None", "Odd", "Even", "Mark", "Space"}));
    QCOMPARE(entries(dlg.DataBitsCombo), (QStringList{"5", "6", "7", "8"}));
    QCOMPARE(entries(dlg.StopBitsCombo), (QStringList{"1", "1.5", "2"}));
    QCOMPARE(entries(dlg.FlowCtrlCombo), (QStringList{"None", "Xon / Xoff", "Hardware"}));

    QCOMPARE((QStringList{dlg.BaudCombo->currentText(), dlg.ParityCombo->currentText(),
                          dlg.DataBitsCombo->currentText(), dlg.StopBitsCombo->currentText()}),
             shown);
    QCOMPARE(dlg.FlowCtrlCombo->currentIndex(), flowIndex);
    // Loading leaves the port alone and the stored values as they were.
    QCOMPARE(m_comm.log, QStringList());
    QCOMPARE(ModeString, mode);
    QCOMPARE(HandshakeMode, handshake);
}

void tst_PortSetup::designAndTabOrder()
{
    PortSetup dlg(m_comm, &m_terminal);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Portlark - Serial Port Settings"));
    QCOMPARE(dlg.size(), QSize(337, 150));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    QVERIFY(!(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(dlg.parentWidget(), nullptr);
    QCOMPARE(dlg.palette().color(QPalette::Window), QColor(192, 192, 192));
    QVERIFY(dlg.font().bold());
    QCOMPARE(dlg.Label1[1]->text(), QStringLiteral("Data Bits:"));
    QCOMPARE(dlg.Label1[2]->text(), QStringLiteral("Parity:"));
    QCOMPARE(dlg.BaudCombo->geometry(), QRect(112, 16, 65, 20));
    QCOMPARE(dlg.FlowCtrlCombo->geometry(), QRect(112, 112, 105, 20));
    QCOMPARE(dlg.HelpButton->geometry(), QRect(248, 80, 73, 25));
    QVERIFY(dlg.OK_Button->isDefault());
    for (QComboBox *combo : {dlg.BaudCombo, dlg.ParityCombo, dlg.DataBitsCombo, dlg.StopBitsCombo, dlg.FlowCtrlCombo})
        QVERIFY(!combo->isEditable());

    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(QApplication::focusWidget(), dlg.OK_Button);
    const QList<QWidget *> expected{dlg.Cancel_Button, dlg.BaudCombo,     dlg.ParityCombo, dlg.DataBitsCombo,
                                    dlg.StopBitsCombo, dlg.FlowCtrlCombo, dlg.HelpButton,  dlg.OK_Button};
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    dlg.hide();
}

void tst_PortSetup::placement_data()
{
    QTest::addColumn<QPoint>("terminalAt");
    QTest::addColumn<QPoint>("expected");

    QTest::newRow("beside the terminal") << QPoint(300, 200) << QPoint(247, 223);
    QTest::newRow("terminal at the left edge is kept on the screen") << QPoint(10, 100) << QPoint(0, 123);
}

void tst_PortSetup::placement()
{
    QFETCH(QPoint, terminalAt);
    QFETCH(QPoint, expected);

    QWidget terminal;
    terminal.resize(450, 309);
    terminal.move(terminalAt);
    terminal.show();
    QVERIFY(QTest::qWaitForWindowExposed(&terminal));
    const QRect area = terminal.screen()->availableGeometry();
    QPoint want = expected + area.topLeft();
    if (terminal.frameGeometry().topLeft() != terminalAt)
        want = terminal.frameGeometry().topLeft() + QPoint(-53, 23);

    PortSetup dlg(m_comm, &terminal);
    QCOMPARE(dlg.frameGeometry().topLeft().y(), want.y());
    QCOMPARE(dlg.frameGeometry().topLeft().x(), qMax(area.left(), want.x()));
}

void tst_PortSetup::okWithPortClosed_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("handshake");
    QTest::addColumn<QList<int>>("picks"); // baud, parity, data, stop, flow; -2 leaves it
    QTest::addColumn<QString>("storedMode");
    QTest::addColumn<int>("storedHandshake");

    const QList<int> none{-2, -2, -2, -2, -2};
    QTest::newRow("unchanged") << "9600,N,8,1" << 0 << none << "9600,N,8,1" << 0;
    QTest::newRow("loose string made canonical") << "9600,n,8,1" << 0 << none << "9600,N,8,1" << 0;
    QTest::newRow("rate outside list stores 110") << "150,N,8,1" << 0 << none << "110,N,8,1" << 0;
    QTest::newRow("every list changed") << "9600,N,8,1" << 0 << QList<int>{10, 2, 2, 1, 2} << "115200,E,7,1.5" << 2;
    QTest::newRow("xon xoff chosen") << "9600,N,8,1" << 0 << QList<int>{-2, -2, -2, -2, 1} << "9600,N,8,1" << 1;
    QTest::newRow("no combination refused") << "9600,N,8,1" << 0 << QList<int>{0, 4, 0, 2, -2} << "110,S,5,2" << 0;
    QTest::newRow("flow -1 kept") << "9600,N,8,1" << -1 << none << "9600,N,8,1" << -1;
    QTest::newRow("flow 3 kept") << "9600,N,8,1" << 3 << none << "9600,N,8,1" << 3;
    QTest::newRow("flow 7 kept") << "9600,N,8,1" << 7 << none << "9600,N,8,1" << 7;
    QTest::newRow("flow 7 replaced by a pick")
        << "9600,N,8,1" << 7 << QList<int>{-2, -2, -2, -2, 0} << "9600,N,8,1" << 0;
}

void tst_PortSetup::okWithPortClosed()
{
    QFETCH(QString, mode);
    QFETCH(int, handshake);
    QFETCH(QList<int>, picks);
    QFETCH(QString, storedMode);
    QFETCH(int, storedHandshake);

    ModeString = mode;
    HandshakeMode = handshake;
    PortSetup dlg(m_comm, &m_terminal);
    QSignalSpy failed(&dlg, &PortSetup::portReopenFailed);
    QComboBox *combos[] = {dlg.BaudCombo, dlg.ParityCombo, dlg.DataBitsCombo, dlg.StopBitsCombo, dlg.FlowCtrlCombo};
    for (int i = 0; i < 5; ++i) {
        if (picks[i] != -2)
            combos[i]->setCurrentIndex(picks[i]);
    }
    const int result = execWith(dlg, [&] { dlg.OK_Button->click(); });

    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(ModeString, storedMode);
    QCOMPARE(HandshakeMode, storedHandshake);
    // Only the open state is read; nothing is written to a closed port.
    QCOMPARE(m_comm.log, QStringList{"read IsOpen"});
    QCOMPARE(failed.count(), 0);
    QCOMPARE((QList<int>{BaudIndex, ParityIndex, DataBitsIndex, StopBitsIndex}),
             (QList<int>{dlg.BaudCombo->currentIndex(), dlg.ParityCombo->currentIndex(),
                         dlg.DataBitsCombo->currentIndex(), dlg.StopBitsCombo->currentIndex()}));
}

void tst_PortSetup::cancelKeepsValues()
{
    ModeString = QStringLiteral("150,N,8,1");
    HandshakeMode = 0;
    for (int round = 0; round < 2; ++round) {
        PortSetup dlg(m_comm, &m_terminal);
        QCOMPARE(dlg.BaudCombo->currentText(), QStringLiteral("110"));
        dlg.BaudCombo->setCurrentIndex(9);
        dlg.FlowCtrlCombo->setCurrentIndex(2);
        const int result = execWith(dlg, [&] { dlg.Cancel_Button->click(); });
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(ModeString, QStringLiteral("150,N,8,1"));
        QCOMPARE(HandshakeMode, 0);
        // What loading parsed stays; the choices made before Cancel do not.
        QCOMPARE((QList<int>{BaudIndex, ParityIndex, DataBitsIndex, StopBitsIndex}), (QList<int>{0, 0, 3, 0}));
    }
    QCOMPARE(m_comm.log, QStringList());
}

void tst_PortSetup::okWithPortOpen_data()
{
    QTest::addColumn<int>("handshake");
    QTest::addColumn<int>("flowPick");
    QTest::addColumn<QStringList>("flowWrites");

    QTest::newRow("none") << 0 << -2 << QStringList{"FlowControl=0", "RtsEnabled=true"};
    QTest::newRow("xon xoff chosen") << 0 << 1 << QStringList{"FlowControl=1", "RtsEnabled=true"};
    QTest::newRow("hardware") << 2 << -2 << QStringList{"FlowControl=2", "RtsEnabled=true"};
    QTest::newRow("3 from the settings") << 3 << -2 << QStringList{"FlowControl=0", "RtsEnabled=false"};
    QTest::newRow("7 writes no flow control") << 7 << -2 << QStringList{};
}

void tst_PortSetup::okWithPortOpen()
{
    QFETCH(int, handshake);
    QFETCH(int, flowPick);
    QFETCH(QStringList, flowWrites);

    ModeString = QStringLiteral("9600,n,8,1");
    HandshakeMode = handshake;
    m_comm.IsOpen(true);
    m_comm.log.clear();

    PortSetup dlg(m_comm, &m_terminal);
    QSignalSpy failed(&dlg, &PortSetup::portReopenFailed);
    if (flowPick != -2)
        dlg.FlowCtrlCombo->setCurrentIndex(flowPick);
    execWith(dlg, [&] { dlg.OK_Button->click(); });

    const QStringList expected = QStringList{"read IsOpen", "IsOpen=false", "ModeSettings=9600,N,8,1"} + flowWrites
                                 + QStringList{"IsOpen=true", "read IsOpen"};
    QCOMPARE(m_comm.log, expected);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(visibleMessageBox(), nullptr);
}

void tst_PortSetup::reopenFailureIsReported()
{
    m_comm.IsOpen(true);
    m_comm.failOpen = true;
    m_comm.log.clear();

    PortSetup dlg(m_comm, &m_terminal);
    QSignalSpy failed(&dlg, &PortSetup::portReopenFailed);

    bool dialogVisibleUnderBox = true;
    int signalsBeforeDismiss = -1;
    MessageBoxLog boxes([&] {
        dialogVisibleUnderBox = dlg.isVisible();
        signalsBeforeDismiss = int(failed.count());
    });
    const int result = execWith(dlg, [&] { dlg.OK_Button->click(); });

    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.first().text, QString::fromUtf16(PortNotAvailableText));
    QCOMPARE(boxes.boxes.first().title, QString::fromUtf16(PortErrorTitle));
    QCOMPARE(boxes.boxes.first().detail, m_comm.failReason);
    QVERIFY(!dialogVisibleUnderBox);
    QCOMPARE(signalsBeforeDismiss, 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(m_comm.log.last(), QStringLiteral("read IsOpen"));
    QCOMPARE(m_comm.log.count(QStringLiteral("IsOpen=true")), 1);
    QCOMPARE(ModeString, QStringLiteral("9600,N,8,1"));
}

void tst_PortSetup::openingTwiceFillsOnce()
{
    ModeString = QStringLiteral("19200,E,7,2");
    HandshakeMode = 1;
    QList<int> first;
    for (int round = 0; round < 2; ++round) {
        PortSetup dlg(m_comm, &m_terminal);
        // Loading again on the same dialog must not stack the entries either.
        if (round == 1)
            dlg.Form_Load();
        QCOMPARE(dlg.BaudCombo->count(), 11);
        QCOMPARE(dlg.ParityCombo->count(), 5);
        QCOMPARE(dlg.DataBitsCombo->count(), 4);
        QCOMPARE(dlg.StopBitsCombo->count(), 3);
        QCOMPARE(dlg.FlowCtrlCombo->count(), 3);
        const QList<int> selection{dlg.BaudCombo->currentIndex(), dlg.ParityCombo->currentIndex(),
                                   dlg.DataBitsCombo->currentIndex(), dlg.StopBitsCombo->currentIndex(),
                                   dlg.FlowCtrlCombo->currentIndex()};
        if (round == 0)
            first = selection;
        QCOMPARE(selection, first);
        execWith(dlg, [&] { dlg.Cancel_Button->click(); });
    }
    QCOMPARE(first, (QList<int>{7, 2, 2, 2, 1}));
}

void tst_PortSetup::keys_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");

    for (const char *name :
         {"BaudCombo", "ParityCombo", "DataBitsCombo", "StopBitsCombo", "FlowCtrlCombo", "OK_Button"}) {
        QTest::addRow("Enter in %s", name) << name << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::addRow("Escape in %s", name) << name << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }
    QTest::newRow("Enter on Cancel presses Cancel") << "Cancel_Button" << int(Qt::Key_Return) << int(QDialog::Rejected);
    QTest::newRow("keypad Enter in a list") << "ParityCombo" << int(Qt::Key_Enter) << int(QDialog::Accepted);
    QTest::newRow("Escape on Help") << "HelpButton" << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void tst_PortSetup::keys()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, result);

    ModeString = QStringLiteral("9600,n,8,1");
    PortSetup dlg(m_comm, &m_terminal);
    auto *target = dlg.findChild<QWidget *>(focus);
    QVERIFY(target);
    bool focused = false;
    const int got = execWith(dlg, [&] {
        dlg.activateWindow();
        target->setFocus();
        focused = QTest::qWaitFor([&] { return QApplication::focusWidget() == target; });
        QTest::keyClick(target, Qt::Key(key));
        if (dlg.isVisible())
            dlg.done(-1);
    });
    QVERIFY(focused);
    QCOMPARE(got, result);
    QCOMPARE(ModeString, result == QDialog::Accepted ? QStringLiteral("9600,N,8,1") : QStringLiteral("9600,n,8,1"));
}

void tst_PortSetup::helpKeysShowContents_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("byClick");

    QTest::newRow("Help button") << "HelpButton" << true;
    for (const char *name :
         {"BaudCombo", "ParityCombo", "DataBitsCombo", "StopBitsCombo", "FlowCtrlCombo", "OK_Button", "HelpButton"})
        QTest::addRow("F1 on %s", name) << name << false;
    QTest::newRow("F1 on Cancel does nothing") << "Cancel_Button" << false;
}

void tst_PortSetup::helpKeysShowContents()
{
    QFETCH(QString, target);
    QFETCH(bool, byClick);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile help(dir.filePath(QStringLiteral("Portlark.Hlp")));
    QVERIFY(help.open(QIODevice::WriteOnly));
    help.write("<html><body><h1><a name=\"contents\">Contents page</a></h1>"
               "<h1><a name=\"index\">Index page</a></h1></body></html>");
    help.close();
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());

    HelpWindow *window = HelpWindow::instance();
    window->hide();
    window->browser()->clear();
    QList<QEvent::Type> blocking;
    struct Watch : QObject
    {
        QList<QEvent::Type> *seen;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::WindowBlocked || e->type() == QEvent::WindowUnblocked)
                seen->append(e->type());
            return false;
        }
    } watch;
    watch.seen = &blocking;
    (void)window->winId();
    window->windowHandle()->installEventFilter(&watch);

    ModeString = QStringLiteral("38400,O,7,2");
    PortSetup dlg(m_comm, &m_terminal);
    QWidget *widget = dlg.findChild<QWidget *>(target);
    QVERIFY(widget);
    bool stillOpen = false;
    bool blockedWhileOpen = true;
    QList<int> selection;
    const int result = execWith(dlg, [&] {
        if (byClick)
            static_cast<QPushButton *>(widget)->click();
        else
            QTest::keyClick(widget, Qt::Key_F1);
        stillOpen = dlg.isVisible();
        blockedWhileOpen = !blocking.isEmpty() && blocking.last() == QEvent::WindowBlocked;
        selection = {dlg.BaudCombo->currentIndex(), dlg.ParityCombo->currentIndex(), dlg.DataBitsCombo->currentIndex(),
                     dlg.StopBitsCombo->currentIndex()};
        dlg.Cancel_Button->click();
    });
    window->windowHandle()->removeEventFilter(&watch);
    QDir::setCurrent(previous);

    QVERIFY(stillOpen);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(selection, (QList<int>{8, 1, 2, 2}));
    if (target == QLatin1String("Cancel_Button")) {
        QVERIFY(!window->isVisible());
        return;
    }
    QVERIFY(window->isVisible());
    QCOMPARE(window->currentFile(), QFileInfo(help).absoluteFilePath());
    QCOMPARE(window->browser()->source().fragment(), QStringLiteral("contents"));
    QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("Contents page")));
    // The help stays usable over the modal dialog that asked for it.
    QVERIFY(!blockedWhileOpen);
    window->hide();
}

void tst_PortSetup::helpWithoutFile()
{
    QTemporaryDir empty;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(empty.path());
    HelpWindow *window = HelpWindow::instance();
    window->hide();

    PortSetup dlg(m_comm, &m_terminal);
    bool stillOpen = false;
    execWith(dlg, [&] {
        dlg.HelpButton->click();
        stillOpen = dlg.isVisible();
        dlg.Cancel_Button->click();
    });
    QDir::setCurrent(previous);

    QVERIFY(stillOpen);
    QVERIFY(window->isVisible());
    QVERIFY(window->currentFile().isEmpty());
    const QString shown = window->browser()->toPlainText();
    QVERIFY2(shown.contains(QStringLiteral("Portlark.Hlp")) && shown.contains(empty.path()), qPrintable(shown));
    QCOMPARE(visibleMessageBox(), nullptr);
    window->hide();
}

void tst_PortSetup::shippedHelpFile()
{
    // The help file the build puts beside the program opens at both topics,
    // and every link inside it leads somewhere.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QStringLiteral(PORTLARK_BINARY_DIR));
    HelpWindow *window = HelpWindow::instance();
    ShowHelpIndex(&m_terminal);
    QDir::setCurrent(previous);

    QCOMPARE(QFileInfo(window->currentFile()).fileName(), QStringLiteral("Portlark.Hlp"));
    QCOMPARE(window->browser()->source().fragment(), QStringLiteral("index"));

    QSet<QString> anchors;
    QStringList links;
    const QTextDocument *doc = window->browser()->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            for (const QString &name : format.anchorNames())
                anchors.insert(name);
            if (format.isAnchor() && format.anchorHref().startsWith(u'#'))
                links << format.anchorHref().mid(1);
        }
    }
    QVERIFY(anchors.contains(QStringLiteral("index")));
    QVERIFY(anchors.contains(QStringLiteral("contents")));
    QVERIFY(links.size() > 20);
    for (const QString &link : std::as_const(links))
        QVERIFY2(anchors.contains(link), qPrintable(link));
    const QString text = window->browser()->toPlainText();
    for (const char *needed : {"NerovaPortlark.ini", "COMModeString", "DTREnable", "RTSEnable", "Handshake", "CommPort",
                               "COM32", "/dev/ttyS0", "loopback", "/dev/serial/by-id"})
        QVERIFY2(text.contains(QLatin1String(needed)), needed);
    window->hide();
}

QTEST_MAIN(tst_PortSetup)
#include "tst_portsetup.moc"
