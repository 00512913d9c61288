// Faults the terminal must survive with nothing lost and no crash: the far
// end of the port vanishing, a second copy of the program on the same port,
// a settings file that cannot be read or written or holds a cut or junk
// text, very large pastes and sends to a line that hardly takes data,
// closing while data floods in, and data arriving while a dialog or a pane
// menu is open.
//
// The program runs as root in CI, where file permissions stop nothing; an
// unreadable or unwritable settings file is made from paths that fail for
// root too: a directory, a symlink loop, a link into a missing directory,
// files under /proc, a parent directory replaced by a plain file.
//
// Some cases need a second process. The test program then runs itself again
// with one of the --child-* arguments (see main() at the end).

#include "asciichart.h"
#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "comportmap.h"
#include "fakeserialportcontrol.h"
#include "mainform.h"
#include "modestring.h"
#include "paneclipboard.h"
#include "portcombobox.h"
#include "porterrorbox.h"
#include "portsetup.h"
#include "portstatelabel.h"
#include "realserialportcontrol.h"
#include "repaintthrottle.h"
#include "settingsstore.h"
#include "socatpair.h"
#include "terminalfixture.h"
#include "testbytes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr int TestCom = 5;

// The flood's byte at position i: every value occurs, and a lost, repeated
// or reordered block shows as a mismatch.
inline char floodByte(quint64 i)
{
    return char(((i * 2654435761u) >> 13) ^ (i >> 8));
}

// Index of the first byte that is not the flood's, or -1.
qsizetype floodMismatch(const QByteArray &bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != floodByte(quint64(i)))
            return i;
    }
    return -1;
}

// A terminal on the real serial control, its COM5 one end of a socat pair;
// the test holds the other end. With `Cable::Direct` COM5 is the slave of a
// kernel pseudo-terminal and the test holds its master instead: socat carries
// one direction only while it is not stuck writing the other, whereas the
// kernel keeps them apart, as a real full-duplex line does.
struct RealTerminal : RealPortTerminal
{
    enum class Cable { Socat, Direct };

    SocatPair pair;
    RawTty far;
    int master = -1;
    QString error;

    RealTerminal()
        : RealPortTerminal(NoWindowYet)
    {}
    ~RealTerminal() override
    {
        form.reset();
        if (master >= 0)
            ::close(master);
    }

    // Starts the cable and the window, which opens COM5 at start-up.
    bool start(const QString &mode = QStringLiteral("9600,N,8,1"), Cable cable = Cable::Socat)
    {
        QString device;
        if (cable == Cable::Socat) {
            if (!pair.start()) {
                error = pair.errorString();
                return false;
            }
            device = pair.pathA();
        } else {
            master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
                error = QStringLiteral("no pseudo-terminal: ") + QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            device = QString::fromLocal8Bit(::ptsname(master));
        }
        restart(MappedPortIni(TestCom, device, mode));
        MessageBoxLog boxes;
        form->Form_Load();
        if (!comm->IsOpen()) {
            error = QStringLiteral("COM%1 did not open: %2").arg(TestCom).arg(comm->LastError());
            return false;
        }
        if (cable == Cable::Socat && !far.open(pair.pathB())) {
            error = far.errorString();
            return false;
        }
        return true;
    }
    int farHandle() const { return master >= 0 ? master : far.handle(); }
};

#define REQUIRE_SOCAT()                                                                                                \
    do {                                                                                                               \
        if (!SocatPair::available())                                                                                   \
            QSKIP("socat is not installed");                                                                           \
    } while (0)

// Whether the window still handles an event posted to it now.
bool windowAnswers(QWidget *window, int timeoutMs = 30000)
{
    auto answered = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        window, [answered] { *answered = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([&] { return *answered; }, timeoutMs);
}

// Checks the pane and the count agree with the received bytes.
#define VERIFY_INPUT_PANE(form, bytes)                                                                                 \
    do {                                                                                                               \
        QCOMPARE((form)->Text1->Text().size(), (bytes).size());                                                        \
        QVERIFY((form)->Text1->Text() == DisplayText(bytes));                                                          \
        RepaintThrottle::Flush();                                                                                      \
        QCOMPARE((form)->Text3->text(), QString::number((bytes).size()));                                              \
    } while (0)

// Reads the far end of a line in a thread of its own, slowly: `rate` bytes
// a second, nothing at all while paused.
class SlowReader
{
public:
    SlowReader(int fd, int rate)
        : m_fd(fd)
        , m_rate(rate)
    {}
    ~SlowReader() { stop(); }
    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<bool> paused{true};
    QByteArray received() const
    {
        std::lock_guard lock(m_mutex);
        return m_got;
    }

private:
    void run()
    {
        const int slice = qMax(1, m_rate / 10); // ten reads a second
        char buffer[4096];
        while (!m_stop) {
            if (paused) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 100) == 1 && (p.revents & POLLIN)) {
                const ssize_t n = ::read(m_fd, buffer, std::min<size_t>(sizeof buffer, size_t(slice)));
                if (n > 0) {
                    std::lock_guard lock(m_mutex);
                    m_got.append(buffer, n);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    int m_fd;
    int m_rate;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    QByteArray m_got;
};

// Writes the flood pattern to a descriptor as fast as it is taken, in a
// thread of its own, until stopped or the descriptor fails.
class Flooder
{
public:
    explicit Flooder(int fd)
        : m_fd(fd)
    {}
    ~Flooder() { stop(); }
    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    quint64 written() const { return m_written; }

private:
    void run()
    {
        QByteArray chunk(16384, Qt::Uninitialized);
        quint64 pos = 0;
        qsizetype filled = 0, offset = 0;
        while (!m_stop) {
            if (offset == filled) {
                for (qsizetype i = 0; i < chunk.size(); ++i)
                    chunk[i] = floodByte(pos + quint64(i));
                filled = chunk.size();
                offset = 0;
            }
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, 50) != 1)
                continue;
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
                return;
            const ssize_t n = ::write(m_fd, chunk.constData() + offset, size_t(filled - offset));
            if (n > 0) {
                offset += n;
                pos += quint64(n);
                m_written = pos;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<quint64> m_written{0};
    std::thread m_thread;
};

// Settings file faults, made before start-up or between start-up and shutdown.
enum FileFault {
    Intact,             // a complete, valid file (written by the test)
    Cut,                // the text of the row, a valid file cut short
    Junk,               // random bytes
    Directory,          // the path is a directory
    LinkLoop,           // the path is a symlink to itself
    LinkIntoMissingDir, // a symlink to a file in a directory that does not exist
    LinkToNewFile,      // a symlink to a file not yet made, in an existing directory
    ProcMem,            // /proc/self/mem: reading it fails (EIO), nothing can be made beside it
    ProcVersion,        // /proc/version: readable text, nothing can be made beside it
    ParentIsFile,       // the file's directory moved away and a plain file put in its place
};

const QByteArray kIntactIni = "[Other]\nkeep=me\n[Settings]\nCOMModeString=\"19200,E,7,2\"\nDTREnable=0\n"
                              "RTSEnable=1\nHandshake=1\nCommPort=3\nFuture=42\n[Ports]\nCOM9=loopback\n";

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ModeString = QStringLiteral("9600,N,8,1");
        HandshakeMode = 0;
        AsciiChoice.clear();
    }

    void farEndVanishes_data();
    void farEndVanishes();
    void secondProcessOnSamePort();
    void settingsFileFaults_data();
    void settingsFileFaults();
    void hugePaste();
    void hugeSendToSlowLine();
    void closeWhileDataFloods();
    void closeWhileDataFloodsEndsProcess();
    void receiveWhileModal_data();
    void receiveWhileModal();
    void receiveWhileSettingsDialogReopensRealPort();
};

// ---- the far end vanishing -------------------------------------------------------

void TestFaults::farEndVanishes_data()
{
    QTest::addColumn<bool>("sending");
    QTest::newRow("mid-receive") << false;
    QTest::newRow("mid-send") << true;
}

void TestFaults::farEndVanishes()
{
    QFETCH(bool, sending);
    REQUIRE_SOCAT();
    RealTerminal t;
    QVERIFY2(t.start(QStringLiteral("115200,N,8,1")), qPrintable(t.error));

    const QByteArray out = randomBytes(16 << 20, 12);
    QByteArray farGot;
    Flooder flood(t.farHandle());
    if (sending) {
        // Some data has come in before; then a send far larger than the line
        // holds is under way when the cable goes.
        QVERIFY(t.far.writeAll(QByteArray(100000, '\0')));
        QTRY_COMPARE_WITH_TIMEOUT(t.input().size(), 100000, 30000);
        t.setOutput(out);
        t.form->Command2->click();
        QVERIFY2(t.comm->OutputPending() > 0, "Send waited for the whole block to be written");
        farGot = t.far.readExactly(256 * 1024, 30000);
        QCOMPARE(farGot.size(), 256 * 1024);
    } else {
        // The far end sends without a pause, so the cable is pulled while
        // bytes are on their way.
        flood.start();
        QTRY_VERIFY_WITH_TIMEOUT(t.input().size() > 100000, 30000);
    }
    t.pair.kill();
    flood.stop();

    QTRY_VERIFY_WITH_TIMEOUT(!t.comm->IsOpen(), 10000);
    // Reopening when plugged back is on by default: the window waits for it.
    QTRY_COMPARE_WITH_TIMEOUT(t.form->portState->text(),
                              QStringLiteral("COM5 waiting for %1 to come back").arg(t.pair.pathA()), 10000);
    QVERIFY2(windowAnswers(t.form.get()), "the window stopped answering after the device went away");

    // Everything that came in is in the pane, in order and unchanged.
    const QByteArray got = t.input();
    if (sending) {
        QCOMPARE(got, QByteArray(100000, '\0'));
    } else {
        QVERIFY(got.size() > 100000);
        QVERIFY(quint64(got.size()) <= flood.written());
        QCOMPARE(floodMismatch(got), qsizetype(-1));
    }
    VERIFY_INPUT_PANE(t.form, got);
    if (sending) {
        QVERIFY(farGot == out.left(farGot.size()));
        // The output pane still holds what was to be sent.
        QVERIFY(BinaryTextBox::GetPaneBytes(t.form->Text2->hWnd()) == out);
    }

    // Sending to the lost port is dropped; choosing it again reports it
    // unavailable, once; the port stays selected.
    t.form->Command2->click();
    {
        MessageBoxLog boxes;
        emit t.form->Combo2->activated(TestCom);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, QString::fromUtf16(PortNotAvailableText));
        QVERIFY2(boxes.boxes[0].detail.contains(t.pair.pathA()), qPrintable(boxes.boxes[0].detail));
    }
    QCOMPARE(t.form->Combo2->currentIndex(), TestCom);
    QVERIFY(t.input() == got);

    QVERIFY(t.form->close());
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/CommPort")), QString::number(TestCom));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/COMModeString")), QStringLiteral("115200,N,8,1"));
    t.form.reset();
}

// ---- a second copy of the program on the same port ----------------------------------

void TestFaults::secondProcessOnSamePort()
{
    REQUIRE_SOCAT();
    RealTerminal t;
    QVERIFY2(t.start(), qPrintable(t.error));

    // The second copy has its own settings, naming the same device as COM5.
    QTemporaryDir config;
    QVERIFY(QDir().mkpath(config.filePath(QStringLiteral("NerovaPortlark"))));
    const QString secondIni = config.filePath(QStringLiteral("NerovaPortlark/NerovaPortlark.ini"));
    QVERIFY(writeFile(
        secondIni,
        QStringLiteral("[Settings]\nCommPort=%1\n[Ports]\nCOM%1=%2\n").arg(TestCom).arg(t.pair.pathA()).toUtf8()));

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    second.setProcessEnvironment(env);
    second.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-second-instance")});
    QVERIFY2(second.waitForStarted(10000), qPrintable(second.errorString()));

    // The second copy reports its box and keeps it open until told.
    QByteArray report;
    QVERIFY(QTest::qWaitFor(
        [&] {
            report += second.readAllStandardOutput();
            return (report.contains("BOX\t") && report.endsWith('\n')) || second.state() == QProcess::NotRunning;
        },
        60000));
    QVERIFY2(report.startsWith("BOX\t"), report.constData());
    const QList<QByteArray> box = report.trimmed().split('\t');
    QCOMPARE(box.size(), 4);
    QCOMPARE(QString::fromUtf8(box[1]), QString::fromUtf16(PortErrorTitle));
    QCOMPARE(QString::fromUtf8(box[2]), QString::fromUtf16(PortNotAvailableText));
    const QString reason = QString::fromUtf8(box[3]);
    QVERIFY2(reason.contains(t.pair.pathA()) && reason.contains(QLatin1String("in use by another program")),
             qPrintable(reason));

    // While the second copy's box is open, the first carries data both ways.
    QVERIFY(t.far.writeAll(QByteArray("\x00"
                                      "during\xff",
                                      8)));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(),
                              QByteArray("\x00"
                                         "during\xff",
                                         8),
                              10000);
    t.setOutput(QByteArray("back\x00", 5));
    t.form->Command2->click();
    QCOMPARE(t.far.readExactly(5, 10000), QByteArray("back\x00", 5));

    second.write("ok\n");
    QVERIFY(second.waitForFinished(30000));
    report += second.readAllStandardOutput();
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(report.contains(QStringLiteral("LOADED\tport=%1\topen=0\n").arg(TestCom).toUtf8()), report.constData());
    // It saved its settings, the failed port still selected.
    QCOMPARE(iniValue(secondIni, QStringLiteral("Settings/CommPort")), QString::number(TestCom));

    // The first still owns the port.
    QVERIFY(t.comm->IsOpen());
    QVERIFY(t.far.writeAll("after"));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(),
                              QByteArray("\x00"
                                         "during\xff"
                                         "after",
                                         13),
                              10000);
    VERIFY_INPUT_PANE(t.form, t.input());
}

// ---- the settings file --------------------------------------------------------------

void TestFaults::settingsFileFaults_data()
{
    QTest::addColumn<int>("atStart");
    QTest::addColumn<QByteArray>("cutText"); // the file's text for Cut
    QTest::addColumn<QString>("startMode");  // the mode string start-up must read
    QTest::addColumn<int>("atShutdown");     // Intact: left as it was at start-up
    QTest::addColumn<bool>("saved");         // the five keys reach the file
    QTest::addColumn<QStringList>("kept");   // section/key=value that must survive at shutdown

    const QString deflt = QStringLiteral("9600,N,8,1");
    const QStringList intactKept = {"Other/keep=me", "Settings/Future=42", "Ports/COM9=loopback"};

    // Cut short: what stands before the cut is used and kept.
    QTest::newRow("cut mid-key at start")
        << int(Cut) << QByteArray("[Other]\nkeep=me\n[Settings]\nCOMModeString=\"19200,E,7,2\"\nDTREn") << "19200,E,7,2"
        << int(Intact) << true << QStringList{"Other/keep=me"};
    QTest::newRow("cut mid-value at start")
        << int(Cut) << QByteArray("[Other]\nkeep=me\n[Settings]\nFuture=42\nCOMModeString=\"19200,E") << ""
        << int(Intact) << true << QStringList{"Other/keep=me", "Settings/Future=42"};
    QTest::newRow("cut mid-section-name at start") << int(Cut) << QByteArray("[Other]\nkeep=me\n[Setti") << deflt
                                                   << int(Intact) << true << QStringList{"Other/keep=me"};
    QTest::newRow("cut mid-line, no line end, at start")
        << int(Cut) << QByteArray("[Settings]\nFuture=42\nCOMModeString=19200,E,7,2\nCommPo") << "19200,E,7,2"
        << int(Intact) << true << QStringList{"Settings/Future=42"};
    QTest::newRow("cut at shutdown") << int(Intact) << QByteArray("[Other]\nkeep=me\n[Settings]\nCOMModeSt")
                                     << "19200,E,7,2" << int(Cut) << true << QStringList{"Other/keep=me"};
    QTest::newRow("junk at shutdown") << int(Intact) << QByteArray() << "19200,E,7,2" << int(Junk) << true
                                      << QStringList();
    QTest::newRow("junk at start") << int(Junk) << QByteArray() << deflt << int(Intact) << true << QStringList();

    // Unreadable at start-up.
    QTest::newRow("symlink loop at start")
        << int(LinkLoop) << QByteArray() << deflt << int(Intact) << true << QStringList();
    QTest::newRow("link into a missing directory")
        << int(LinkIntoMissingDir) << QByteArray() << deflt << int(Intact) << false << QStringList();
    QTest::newRow("link to a file not yet made")
        << int(LinkToNewFile) << QByteArray() << deflt << int(Intact) << true << QStringList();
    QTest::newRow("/proc/self/mem (read fails)")
        << int(ProcMem) << QByteArray() << deflt << int(Intact) << false << QStringList();
    QTest::newRow("/proc/version (junk, unwritable)")
        << int(ProcVersion) << QByteArray() << deflt << int(Intact) << false << QStringList();

    // Readable at start-up, unwritable at shutdown: the file on disk is left alone.
    QTest::newRow("directory at shutdown")
        << int(Intact) << QByteArray() << "19200,E,7,2" << int(Directory) << false << QStringList();
    QTest::newRow("directory gone, a file in its place, at shutdown")
        << int(Intact) << QByteArray() << "19200,E,7,2" << int(ParentIsFile) << false << QStringList();
    QTest::newRow("symlink loop at shutdown")
        << int(Intact) << QByteArray() << "19200,E,7,2" << int(LinkLoop) << true << QStringList();
    QTest::newRow("intact both times") << int(Intact) << QByteArray() << "19200,E,7,2" << int(Intact) << true
                                       << intactKept;
}

void TestFaults::settingsFileFaults()
{
    QFETCH(int, atStart);
    QFETCH(QByteArray, cutText);
    QFETCH(QString, startMode);
    QFETCH(int, atShutdown);
    QFETCH(bool, saved);
    QFETCH(QStringList, kept);

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("cfg"));
    QVERIFY(QDir().mkpath(folder));
    QString path = folder + QStringLiteral("/NerovaPortlark.ini");

    // Makes the fault at `path` (removing what stands there first).
    auto makeFault = [&](int fault) {
        QFileInfo info(path);
        if (fault == ParentIsFile)
            ; // the file stays where it is, in the directory moved away
        else if (info.isDir())
            QDir(path).removeRecursively();
        else if (info.exists() || info.isSymLink())
            QFile::remove(path);
        switch (fault) {
        case Intact:
            return writeFile(path, kIntactIni);
        case Cut:
            return writeFile(path, cutText);
        case Junk:
            return writeFile(path, randomBytes(4096, 7) + "\n=\n[\x01]\n\xff=\x00\n");
        case Directory:
            return QDir().mkpath(path);
        case LinkLoop:
            return QFile::link(path, path);
        case LinkIntoMissingDir:
            return QFile::link(dir.filePath(QStringLiteral("missing/NerovaPortlark.ini")), path);
        case LinkToNewFile:
            return QFile::link(dir.filePath(QStringLiteral("target.ini")), path);
        case ParentIsFile:
            return QDir().rename(folder, dir.filePath(QStringLiteral("moved"))) && writeFile(folder, "a file");
        default:
            return false;
        }
    };

    if (atStart == ProcMem)
        path = QStringLiteral("/proc/self/mem");
    else if (atStart == ProcVersion)
        path = QStringLiteral("/proc/version");
    else
        QVERIFY(makeFault(atStart));

    FakeTerminal t(QByteArray(), path);
    t.form->Form_Load();
    if (!startMode.isEmpty())
        QCOMPARE(ModeString, startMode);
    if (atStart == Intact) {
        QCOMPARE(t.form->Combo2->currentIndex(), 3);
        QCOMPARE(HandshakeMode, 1);
        QCOMPARE(t.form->chkDTR->checkState(), Qt::Unchecked);
    }

    // The settings as the user leaves them.
    ModeString = QStringLiteral("115200,O,8,2");
    HandshakeMode = 2;
    t.form->chkDTR->setCheckState(Qt::Checked);
    t.form->chkRTS->setCheckState(Qt::Unchecked);
    t.form->Combo2->setCurrentIndex(7);

    if (atShutdown != Intact)
        QVERIFY(makeFault(atShutdown));

    QVERIFY(t.form->close());
    QVERIFY2(windowAnswers(t.form.get()), "the program hung after saving");
    QCOMPARE(t.store->Flush(), saved);
    t.form.reset();
    t.store.reset();

    const QStringList five = {"Settings/COMModeString=115200,O,8,2", "Settings/CommPort=7", "Settings/Handshake=2",
                              "Settings/DTREnable=1", "Settings/RTSEnable=0"};
    QSettings file(path, QSettings::IniFormat);
    for (const QString &entry : saved ? five + kept : kept) {
        const qsizetype eq = entry.indexOf(u'=');
        QCOMPARE(file.value(entry.left(eq)).toString() + QStringLiteral(" (") + entry.left(eq) + u')',
                 entry.mid(eq + 1) + QStringLiteral(" (") + entry.left(eq) + u')');
    }

    // A file that could not be written is left as it was.
    if (!saved) {
        switch (atShutdown == Intact ? atStart : atShutdown) {
        case Directory:
            QVERIFY(QFileInfo(path).isDir());
            break;
        case ParentIsFile: {
            const QString moved = dir.filePath(QStringLiteral("moved/NerovaPortlark.ini"));
            QCOMPARE(QFileInfo(moved).size(), qint64(kIntactIni.size()));
            QCOMPARE(iniValue(moved, QStringLiteral("Other/keep")), QStringLiteral("me"));
            QVERIFY(QFileInfo(folder).isFile());
            break;
        }
        case LinkIntoMissingDir:
            QVERIFY(QFileInfo(path).isSymLink());
            QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
            break;
        default:
            break;
        }
    }
}

// ---- large pastes and sends ------------------------------------------------------------

void TestFaults::hugePaste()
{
    FakeTerminal t("[Settings]\nCommPort=1\n");
    t.form->Form_Load();
    t.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.form.get()));

    // Every byte value, NULs early and late, so the plain text is short and
    // only the private block carries the whole paste.
    QByteArray block = randomBytes(64 << 20, 64);
    block[0] = 'A';
    block[1] = '\0';
    block[block.size() - 1] = '\0';
    QVERIFY(BinaryTextBox::PutBytesOnClipboard(t.form->Text2->hWnd(), block));

    t.setOutput("<>");
    t.form->Text2->setFocus();
    t.form->Text2->setSelStart(1);
    QTest::keyClick(t.form->Text2, Qt::Key_V, Qt::ControlModifier);
    const QByteArray expected = "<" + block + ">";
    QCOMPARE(t.output().size(), expected.size());
    QVERIFY2(t.output() == expected, "the pasted bytes differ from the clipboard's");
    QVERIFY2(t.form->Text2->Text() == DisplayText(expected), "the pane does not show the pasted bytes");
    QCOMPARE(t.form->Text2->SelStart(), block.size() + 1);

    // Data still arrives, the window answers, and it closes and saves.
    t.comm->deliver(QByteArray("\x00ok", 3));
    QCOMPARE(t.input(), QByteArray("\x00ok", 3));
    QVERIFY(windowAnswers(t.form.get()));
    t.form->Command2->click();
    QCOMPARE(t.comm->written.size(), expected.size());
    QVERIFY(t.comm->written == expected);
    QVERIFY(t.form->close());
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/CommPort")), QStringLiteral("1"));
}

void TestFaults::hugeSendToSlowLine()
{
    RealTerminal t;
    QVERIFY2(t.start(QStringLiteral("9600,N,8,1"), RealTerminal::Cable::Direct), qPrintable(t.error));

    // A pseudo-terminal takes data as fast as it is read, whatever its baud
    // rate; a 9600-baud line takes about 960 bytes a second. The far end here
    // reads nothing at first, so every buffer on the way fills up.
    SlowReader reader(t.farHandle(), 960);
    reader.start();
    const QByteArray out = randomBytes(16 << 20, 9600);
    t.setOutput(out);

    t.form->Command2->click();
    QVERIFY2(t.comm->OutputPending() > (16 << 20) - (1 << 20), "Send waited for the line");

    // A timer keeps firing and the window keeps handling events while the
    // line is full.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    QVERIFY(windowAnswers(t.form.get()));
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 10, 30000);

    // Received data still reaches the pane while the send is stuck.
    QCOMPARE(::write(t.farHandle(), "\x00in\xff", 4), ssize_t(4));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), QByteArray("\x00in\xff", 4), 10000);

    // The far end starts reading slowly; what it gets is the block's start.
    reader.paused = false;
    QTRY_VERIFY_WITH_TIMEOUT(reader.received().size() >= 2000, 30000);
    QVERIFY(windowAnswers(t.form.get()));
    const QByteArray farGot = reader.received();
    QVERIFY(farGot == out.left(farGot.size()));
    QVERIFY(t.comm->OutputPending() > 0);

    // Closing while sending returns, saves the settings, and the port is let go.
    ticker.stop();
    QVERIFY(t.form->close());
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/CommPort")), QString::number(TestCom));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/DTREnable")), QStringLiteral("1"));
    t.form.reset(); // destroys the control with 16 MiB still queued
    reader.stop();
    const QByteArray all = reader.received();
    QVERIFY(all == out.left(all.size()));
}

// ---- closing while data floods in -----------------------------------------------------------

void TestFaults::closeWhileDataFloods()
{
    REQUIRE_SOCAT();
    RealTerminal t;
    QVERIFY2(t.start(QStringLiteral("115200,N,8,1")), qPrintable(t.error));
    Flooder flood(t.far.handle());
    flood.start();
    QTRY_VERIFY_WITH_TIMEOUT(t.input().size() >= (2 << 20), 60000);

    ModeString = QStringLiteral("57600,E,7,1");
    HandshakeMode = 1;
    t.form->chkRTS->setCheckState(Qt::Unchecked);
    const QByteArray got = t.input();
    QVERIFY(got.size() >= (2 << 20));
    QCOMPARE(floodMismatch(got), qsizetype(-1));
    VERIFY_INPUT_PANE(t.form, got);
    QVERIFY(t.form->close());

    // The closed window lives on, its port open, until it is destroyed; the
    // flood goes on meanwhile.
    QVERIFY(windowAnswers(t.form.get()));
    QTest::qWait(300);

    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/COMModeString")), QStringLiteral("57600,E,7,1"));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/CommPort")), QString::number(TestCom));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/Handshake")), QStringLiteral("1"));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/DTREnable")), QStringLiteral("1"));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Settings/RTSEnable")), QStringLiteral("0"));

    // The window and its port go while the flood still runs.
    t.form.reset();
    QTest::qWait(100);
    flood.stop();
    QVERIFY(flood.written() > quint64(got.size()));
}

void TestFaults::closeWhileDataFloodsEndsProcess()
{
    REQUIRE_SOCAT();
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));

    QTemporaryDir config;
    QVERIFY(QDir().mkpath(config.filePath(QStringLiteral("NerovaPortlark"))));
    const QString ini = config.filePath(QStringLiteral("NerovaPortlark/NerovaPortlark.ini"));
    QVERIFY(writeFile(ini, QStringLiteral("[Settings]\nCOMModeString=\"115200,N,8,1\"\nCommPort=%1\nRTSEnable=0\n"
                                          "[Ports]\nCOM%1=%2\n")
                               .arg(TestCom)
                               .arg(pair.pathA())
                               .toUtf8()));

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child-close-while-flooded"), QString::number(2 << 20)});
    QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
    // The flood starts once the port is open and set to raw mode.
    QByteArray report;
    QVERIFY(QTest::qWaitFor(
        [&] {
            report += child.readAllStandardOutput();
            return report.contains("LOADED\n") || child.state() == QProcess::NotRunning;
        },
        60000));
    QVERIFY2(report.startsWith("LOADED\n"), report.constData());
    Flooder flood(far.handle());
    flood.start();
    const bool finished = child.waitForFinished(120000);
    flood.stop();
    if (!finished)
        child.kill();
    QVERIFY2(finished, "the program did not end after its window was closed during a flood");
    report += child.readAllStandardOutput();
    const QByteArray errors = child.readAllStandardError();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             (QByteArray("the program crashed or failed after its window closed: ") + errors.right(2000)).constData());
    QVERIFY2(report.contains("\nCLOSED\t") && report.endsWith("\tintact\n"), report.constData());
    QCOMPARE(iniValue(ini, QStringLiteral("Settings/COMModeString")), QStringLiteral("115200,N,8,1"));
    QCOMPARE(iniValue(ini, QStringLiteral("Settings/CommPort")), QString::number(TestCom));
    QCOMPARE(iniValue(ini, QStringLiteral("Settings/Handshake")), QStringLiteral("0"));
    QCOMPARE(iniValue(ini, QStringLiteral("Settings/DTREnable")), QStringLiteral("1"));
    QCOMPARE(iniValue(ini, QStringLiteral("Settings/RTSEnable")), QStringLiteral("0"));
    QCOMPARE(iniValue(ini, QStringLiteral("Ports/COM5")), pair.pathA());
}

// ---- data arriving while a dialog or a menu is open ---------------------------------------

enum Modal {
    SettingsButtonCancel,
    SettingsMenuOk,
    ToolsAsciiChart,
    AboutBox,
    InputMenuCopy,
    InputMenuSelectAll,
    InputMenuDismissed,
    OutputMenuDelete,
    OutputMenuSelectAll,
    OutputMenuPaste,
    OutputMenuChartInsert,
};

void TestFaults::receiveWhileModal_data()
{
    QTest::addColumn<int>("modal");
    QTest::addColumn<QByteArray>("outputAfter"); // Text2's bytes afterwards
    QTest::addColumn<QStringList>("opened");     // what opened, in order

    const QByteArray out("he\x00lo", 5);
    QTest::newRow("settings dialog, Cancel") << int(SettingsButtonCancel) << out << QStringList{"PortSetup"};
    QTest::newRow("settings dialog from the menu, OK") << int(SettingsMenuOk) << out << QStringList{"PortSetup"};
    QTest::newRow("ASCII chart from Tools") << int(ToolsAsciiChart) << out << QStringList{"AsciiChart"};
    QTest::newRow("About box") << int(AboutBox) << out << QStringList{"frmAbout"};
    QTest::newRow("input pane menu, Copy") << int(InputMenuCopy) << out << QStringList{"QMenu"};
    QTest::newRow("input pane menu, Select All") << int(InputMenuSelectAll) << out << QStringList{"QMenu"};
    QTest::newRow("input pane menu, dismissed") << int(InputMenuDismissed) << out << QStringList{"QMenu"};
    QTest::newRow("output pane menu, Delete") << int(OutputMenuDelete) << QByteArray("hlo") << QStringList{"QMenu"};
    QTest::newRow("output pane menu, Select All") << int(OutputMenuSelectAll) << out << QStringList{"QMenu"};
    QTest::newRow("output pane menu, Paste")
        << int(OutputMenuPaste) << QByteArray("h\x01\x00\x02lo", 6) << QStringList{"QMenu"};
    QTest::newRow("output pane menu, ASCII chart, OK")
        << int(OutputMenuChartInsert) << QByteArray("h\x07lo", 4) << QStringList{"QMenu", "AsciiChart"};
}

void TestFaults::receiveWhileModal()
{
    QFETCH(int, modal);
    QFETCH(QByteArray, outputAfter);
    QFETCH(QStringList, opened);

    FakeTerminal t("[Settings]\nCommPort=1\n");
    t.form->Form_Load();
    t.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.form.get()));
    QVERIFY(t.comm->IsOpen());

    const QByteArray before("\x00"
                            "abc",
                            4);
    t.comm->deliver(before);
    t.setOutput(QByteArray("he\x00lo", 5));
    t.form->Text1->setSelStart(1);
    t.form->Text1->setSelLength(2);
    t.form->Text2->setSelStart(1);
    t.form->Text2->setSelLength(2);
    BinaryTextBox::PutBytesOnClipboard(t.form->Text2->hWnd(), QByteArray("\x01\x00\x02", 3));

    // Bytes arrive in two events while each dialog or menu is open; then it
    // is closed as the row says.
    const QByteArray during1("\x00\xff\r\n", 4);
    const QByteArray during2(1000, '\x7f');
    int openedCount = 0;
    ModalWatcher watcher([&](QWidget *w) {
        ++openedCount;
        t.comm->deliver(during1);
        t.comm->deliver(during2, 7);
        if (auto *menu = qobject_cast<QMenu *>(w)) {
            int key = Qt::Key_Escape;
            switch (modal) {
            case InputMenuCopy:
                key = Qt::Key_C;
                break;
            case InputMenuSelectAll:
            case OutputMenuSelectAll:
                key = Qt::Key_A;
                break;
            case OutputMenuDelete:
                key = Qt::Key_D;
                break;
            case OutputMenuPaste:
                key = Qt::Key_P;
                break;
            case OutputMenuChartInsert: {
                for (QAction *a : menu->actions()) {
                    if (a->text() == QLatin1String("ASCII Chart..."))
                        menu->setActiveAction(a);
                }
                key = Qt::Key_Return;
                break;
            }
            default:
                break;
            }
            QTest::keyClick(menu, Qt::Key(key));
        } else if (auto *chart = qobject_cast<AsciiChart *>(w)) {
            chart->AsciiMenu->setCurrentRow(7);
            chart->AsciiOkButton->click();
        } else if (auto *setup = qobject_cast<PortSetup *>(w)) {
            if (modal == SettingsMenuOk)
                setup->OK_Button->click();
            else
                setup->Cancel_Button->click();
        } else if (auto *dialog = qobject_cast<QDialog *>(w)) {
            dialog->accept();
        }
    });

    switch (modal) {
    case SettingsButtonCancel:
        t.form->Command3->click();
        break;
    case SettingsMenuOk:
        t.form->mnuSettings->trigger();
        break;
    case ToolsAsciiChart:
        t.form->mnuASCIIChart->trigger();
        break;
    case AboutBox:
        t.form->mnuAbout->trigger();
        break;
    case InputMenuCopy:
    case InputMenuSelectAll:
    case InputMenuDismissed:
        t.form->Text1->setFocus();
        QTest::keyClick(t.form->Text1, Qt::Key_F10, Qt::ShiftModifier);
        break;
    default:
        t.form->Text2->setFocus();
        QTest::keyClick(t.form->Text2, Qt::Key_F10, Qt::ShiftModifier);
        break;
    }
    QCOMPARE(watcher.seen, opened);

    QByteArray expectedInput;
    for (int i = 0; i < openedCount; ++i)
        expectedInput += during1 + during2;
    expectedInput.prepend(before);
    QCOMPARE(t.input().size(), expectedInput.size());
    QVERIFY2(t.input() == expectedInput, "bytes received while the dialog or menu was open were lost");
    VERIFY_INPUT_PANE(t.form, expectedInput);
    QCOMPARE(t.output(), outputAfter);
    QVERIFY(t.form->Text2->Text() == DisplayText(outputAfter));

    if (modal == InputMenuSelectAll)
        QCOMPARE(t.form->Text1->SelLength(), expectedInput.size());
    if (modal == OutputMenuSelectAll)
        QCOMPARE(t.form->Text2->SelLength(), outputAfter.size());
    if (modal == SettingsMenuOk)
        QVERIFY(t.comm->IsOpen());

    // Data still arrives once everything is closed.
    t.comm->deliver("z");
    QVERIFY(t.input() == expectedInput + "z");
}

void TestFaults::receiveWhileSettingsDialogReopensRealPort()
{
    // OK in the settings dialog closes and reopens the open port while the
    // far end keeps sending: no byte may be lost around the reopen.
    REQUIRE_SOCAT();
    RealTerminal t;
    QVERIFY2(t.start(QStringLiteral("115200,N,8,1")), qPrintable(t.error));
    const QByteArray first = randomBytes(50000, 21);
    const QByteArray second = randomBytes(50000, 22);
    QVERIFY(t.far.writeAll(first));
    QTRY_COMPARE_WITH_TIMEOUT(t.input().size(), first.size(), 30000);

    ModalWatcher watcher([&](QWidget *w) {
        auto *setup = qobject_cast<PortSetup *>(w);
        if (!setup)
            return;
        // Sent while the dialog is open, taken by the port before OK.
        t.far.writeAll(second.left(25000));
        QTest::qWait(200);
        setup->OK_Button->click();
    });
    t.form->Command3->click();
    QCOMPARE(watcher.seen, QStringList{"PortSetup"});
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    QVERIFY(t.far.writeAll(second.mid(25000)));
    QTRY_COMPARE_WITH_TIMEOUT(t.input().size(), first.size() + second.size(), 30000);
    QVERIFY(t.input() == first + second);
    VERIFY_INPUT_PANE(t.form, first + second);
}

// ---- second processes ----------------------------------------------------------------------

namespace {

// A second copy of the program, set up as main() sets it up. Reports the
// error box it gets ("BOX\ttitle\ttext\tdetail") and keeps it open until a
// line arrives on its input, then reports how start-up ended
// ("LOADED\tport=n\topen=0|1"), closes its window and ends.
int childSecondInstance(int argc, char *argv[])
{
    QApplication app(argc, argv);
    SettingsStore store;
    ComPortMap ports;
    auto *comm = new RealSerialPortControl(&ports);
    MainForm window(comm, &store, &ports);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    bool released = false;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            input.setEnabled(false);
        released = true;
    });
    QPointer<QMessageBox> open;
    ModalWatcher watcher([&](QWidget *w) {
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            std::printf("BOX\t%s\t%s\t%s\n", qPrintable(box->windowTitle()), qPrintable(box->text()),
                        qPrintable(box->detailedText()));
            std::fflush(stdout);
            open = box;
        }
    });
    QTimer release;
    release.setInterval(10);
    QObject::connect(&release, &QTimer::timeout, [&] {
        if (released && open)
            open->button(QMessageBox::Ok)->click();
    });
    release.start();

    window.Form_Load();
    std::printf("LOADED\tport=%d\topen=%d\n", window.Combo2->currentIndex(), comm->IsOpen() ? 1 : 0);
    std::fflush(stdout);
    window.show();
    QTimer::singleShot(0, &window, &QWidget::close);
    return app.exec();
}

// The program on a port that floods it: once `argv[2]` bytes have arrived the
// window is closed from the event loop, with the flood still running. Reports
// "CLOSED\t<bytes>\tintact|damaged"; the process must then end by itself.
int childCloseWhileFlooded(int argc, char *argv[])
{
    // Built as main() builds the program, so that the window and its port
    // outlive the close until the end of this function.
    QApplication app(argc, argv);
    const qsizetype enough = argc > 2 ? QByteArray(argv[2]).toLongLong() : (1 << 20);
    SettingsStore store;
    ComPortMap ports;
    MainForm window(new RealSerialPortControl(&ports), &store, &ports);
    window.Form_Load();
    window.show();
    std::printf("LOADED\n");
    std::fflush(stdout);
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, [&] {
        const QByteArray got = BinaryTextBox::GetPaneBytes(window.Text1->hWnd());
        if (got.size() < enough)
            return;
        check.stop();
        window.close();
        std::printf("CLOSED\t%lld\t%s\n", qlonglong(got.size()), floodMismatch(got) < 0 ? "intact" : "damaged");
        std::fflush(stdout);
    });
    check.start();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--child-second-instance") == 0)
        return childSecondInstance(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--child-close-while-flooded") == 0)
        return childCloseWhileFlooded(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestFaults tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_faults.moc"
