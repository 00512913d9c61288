// Receive benchmark, end to end: the terminal window (shown) with the real
// serial port control on one end of a socat pseudo-terminal pair, a feeder
// process writing on the other. Prints one table:
//
//   - the raw ceiling: how fast a plain read(2) loop empties the same kind
//     of pair (best of three), and Portlark's rate into the input pane's
//     store as a share of it (its first flood, and the best of its three
//     floods with the record on, the goal's figure);
//   - bytes lost and whether the store holds exactly what was sent;
//   - the longest event-loop stall during the flood (a 10 ms timer measuring
//     its own lateness);
//   - resident memory per received byte after the flood;
//   - the same flood again with the session record off (the first one runs
//     with it on, as the program does), the two rates side by side, and
//     whether the received bytes read back from the record's spool equal
//     what was sent;
//   - the share of a core the program uses while receiving a steady
//     11520 bytes/s (115200 baud) for 30 s, with the flood still in the pane.
//
//   build/bench/receive/bench_receive [--quick] [--mib N] [--steady S]
//
// With --soak [MiB] (default 1024) it runs a long session instead: that many
// bytes at full speed into the window, then resident memory against the
// input pane's bound, memory per byte, the worst event-loop stall, and the
// count, the store and the caret at the end.
//
// The feeder is this same program started as `--feed PATH BYTES RATE`, so
// its CPU time is not counted as the program's.

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "comportmap.h"
#include "displaysetup.h"
#include "mainform.h"
#include "modestring.h"
#include "panestorage.h"
#include "realserialportcontrol.h"
#include "repaintthrottle.h"
#include "sessioncontroller.h"
#include "settingsstore.h"
#include "shutdownsignals.h"
#include "socatpair.h"
#include "terminalfixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <fstream>
#include <malloc.h>
#include <functional>
#include <memory>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 SteadyRate = 11520; // bytes per second at 115200 baud, 8N1

// ---- the feeder (a process of its own) ----------------------------------------

// Writes `total` bytes of every value in turn to `path` with blocking writes:
// as fast as the device takes them (rate 0), or paced to `rate` bytes per
// second in 10 ms steps.
int feed(const char *path, qint64 total, qint64 rate)
{
    const int fd = ::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "feeder: %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    termios tio;
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    // 64 KiB of the pattern plus one turn, so any offset has a full block after it.
    std::vector<char> pattern(65536 + 256);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i & 0xff);

    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    qint64 done = 0;
    int step = 0;
    while (done < total) {
        qint64 allowed = total;
        if (rate > 0) {
            ++step;
            allowed = std::min(total, rate * step / 100);
        }
        while (done < allowed) {
            const size_t n = size_t(std::min<qint64>(65536, allowed - done));
            const ssize_t w = ::write(fd, pattern.data() + (done & 0xff), n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                std::fprintf(stderr, "feeder: write: %s\n", std::strerror(errno));
                ::close(fd);
                return 1;
            }
            done += w;
        }
        if (rate > 0 && done < total) {
            timespec next = start;
            const qint64 ns = qint64(step) * 10'000'000;
            next.tv_sec += time_t(ns / 1'000'000'000);
            next.tv_nsec += long(ns % 1'000'000'000);
            if (next.tv_nsec >= 1'000'000'000) {
                next.tv_sec += 1;
                next.tv_nsec -= 1'000'000'000;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
    }
    ::close(fd);
    return 0;
}

// ---- measuring -----------------------------------------------------------------

// A figure of /proc/self/status in bytes: VmRSS (resident now) or VmHWM
// (the most it has been).
qint64 statusBytes(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == field) {
            qint64 kib = 0;
            status >> kib;
            return kib * 1024;
        }
    }
    return 0;
}

qint64 residentBytes()
{
    return statusBytes("VmRSS:");
}

// Resident bytes of this process's mappings of deleted files in `folder`
// (the session record's index; the pane's scratch file is read, not mapped),
// as /proc/self/smaps counts them: what the index costs in memory, pages a
// reader faulted back in included.
qint64 residentMappedFrom(const QString &folder)
{
    std::ifstream smaps("/proc/self/smaps");
    const std::string prefix = QFile::encodeName(folder).toStdString() + "/";
    const std::string deleted = " (deleted)";
    std::string line;
    bool counting = false;
    qint64 total = 0;
    while (std::getline(smaps, line)) {
        const size_t path = line.find(" /");
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < line.find(' ')) {
            const std::string name = path == std::string::npos ? std::string() : line.substr(path + 1);
            counting = name.rfind(prefix, 0) == 0 && name.size() > deleted.size()
                       && name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0;
        } else if (counting && line.rfind("Rss:", 0) == 0) {
            total += std::atoll(line.c_str() + 4) * 1024;
        }
    }
    return total;
}

double cpuSeconds(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Whether `bytes` are every value in turn, starting at `offset`.
bool isPattern(const QByteArray &bytes, qint64 offset = 0)
{
    const char *p = bytes.constData();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (p[i] != char((offset + i) & 0xff))
            return false;
    }
    return true;
}

// The feeder as a child process, started with posix_spawn: a QProcess would
// watch it from this thread's event loop (its pidfd polled on every turn of
// the loop), which the program measured here does not have.
class Feeder
{
public:
    // Gives the feeder ten seconds to end by itself, then ends it.
    ~Feeder()
    {
        QElapsedTimer clock;
        clock.start();
        while (m_pid > 0 && clock.elapsed() < 10000) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
                m_pid = -1;
            else
                ::usleep(10000);
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool start(const QString &path, qint64 bytes, qint64 rate)
    {
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
        const QByteArray device = QFile::encodeName(path);
        const QByteArray count = QByteArray::number(bytes);
        const QByteArray pace = QByteArray::number(rate);
        char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>("--feed"),
                        const_cast<char *>(device.constData()),  const_cast<char *>(count.constData()),
                        const_cast<char *>(pace.constData()),    nullptr};
        const int error = ::posix_spawn(&m_pid, program.constData(), nullptr, nullptr, argv, environ);
        if (error != 0) {
            m_pid = -1;
            std::fprintf(stderr, "cannot start the feeder: %s\n", std::strerror(error));
            return false;
        }
        return true;
    }

private:
    pid_t m_pid = -1;
};

std::unique_ptr<Feeder> startFeeder(const QString &path, qint64 bytes, qint64 rate)
{
    auto feeder = std::make_unique<Feeder>();
    if (!feeder->start(path, bytes, rate))
        return nullptr;
    return feeder;
}

// The socat pair, made, watched and ended on a thread of its own: its QProcess
// would otherwise add socat's pidfd and pipe to the event loop of the program
// measured here, which has no such child.
class PairThread
{
public:
    PairThread()
    {
        m_thread.start();
        m_owner.moveToThread(&m_thread);
    }
    ~PairThread()
    {
        run([this] { m_pair.reset(); });
        m_thread.quit();
        m_thread.wait();
    }

    // Starts socat and waits for both ends; false, with the reason on stderr,
    // when it cannot.
    bool start()
    {
        bool ok = false;
        run([&] {
            m_pair = std::make_unique<SocatPair>();
            ok = m_pair->start();
            if (!ok)
                std::fprintf(stderr, "socat: %s\n", qPrintable(m_pair->errorString()));
        });
        return ok;
    }
    QString pathA() const { return m_pair->pathA(); }
    QString pathB() const { return m_pair->pathB(); }

private:
    void run(const std::function<void()> &work)
    {
        QMetaObject::invokeMethod(&m_owner, work, Qt::BlockingQueuedConnection);
    }

    QThread m_thread;
    QObject m_owner;
    std::unique_ptr<SocatPair> m_pair;
};

// A pair's end opened for reading in raw mode: blocking reads that wait for
// a byte, or non-blocking ones as QSerialPort sets a port up; -1 on failure.
int openRawForReading(const QString &path, bool blocking)
{
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC | (blocking ? 0 : O_NONBLOCK));
    termios tio;
    if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = blocking ? 1 : 0;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// The raw ceiling: a plain blocking read(2) loop on end A while the feeder
// fills end B at full speed. Returns MiB/s from the first byte to the last.
double rawCeiling(qint64 total, bool *exact)
{
    SocatPair pair;
    if (!pair.start()) {
        std::fprintf(stderr, "socat: %s\n", qPrintable(pair.errorString()));
        return 0;
    }
    const int fd = openRawForReading(pair.pathA(), /*blocking=*/true);
    if (fd < 0)
        return 0;
    const std::unique_ptr<Feeder> feeder = startFeeder(pair.pathB(), total, 0);
    if (!feeder) {
        ::close(fd);
        return 0;
    }
    std::vector<char> buffer(65536);
    qint64 got = 0;
    bool same = true;
    QElapsedTimer clock;
    while (got < total) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (got == 0)
            clock.start();
        // Checked as it comes, one compare per byte; a reader must look at
        // what it gets, and Portlark is checked the same way afterwards.
        for (ssize_t i = 0; i < n && same; ++i)
            same = buffer[size_t(i)] == char((got + i) & 0xff);
        got += n;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    ::close(fd);
    *exact = same && got == total;
    return seconds > 0 ? double(got) / MiB / seconds : 0;
}

// The steady floor: a plain poll(2)/read(2) loop, the least any program that
// takes each block as it arrives can spend, fed the same 115200 pattern over a
// pair of its own, its descriptor set up as QSerialPort sets one up. What it
// costs is what this machine charges for the wake-ups alone. Returns the
// median share of a core over 1 s windows (this thread's CPU time), -1 when
// it cannot run.
double steadyFloor(int seconds)
{
    SocatPair pair;
    if (!pair.start()) {
        std::fprintf(stderr, "socat: %s\n", qPrintable(pair.errorString()));
        return -1;
    }
    const int fd = openRawForReading(pair.pathA(), /*blocking=*/false);
    if (fd < 0)
        return -1;
    const qint64 total = SteadyRate * seconds;
    const std::unique_ptr<Feeder> feeder = startFeeder(pair.pathB(), total, SteadyRate);
    if (!feeder) {
        ::close(fd);
        return -1;
    }
    std::vector<char> buffer(65536);
    QList<double> perSecond;
    QElapsedTimer window;
    double windowCpu = 0;
    qint64 got = 0;
    QElapsedTimer limit;
    limit.start();
    while (got < total && limit.elapsed() < 1000 * (seconds + 10)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) < 0 && errno != EINTR)
            break;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            if (got == 0) {
                window.start();
                windowCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            }
            got += n;
        }
        if (got > 0 && window.elapsed() >= 1000) {
            const double cpuNow = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            perSecond.append(100.0 * (cpuNow - windowCpu) / (window.nsecsElapsed() / 1e9));
            windowCpu = cpuNow;
            window.restart();
        }
    }
    ::close(fd);
    if (perSecond.isEmpty())
        return -1;
    std::sort(perSecond.begin(), perSecond.end());
    return perSecond.at(perSecond.size() / 2);
}

// The terminal window on COM1, mapped to `device` in a settings file of its own.
struct Terminal : RealPortTerminal
{
    explicit Terminal(const QString &device)
        : RealPortTerminal(MappedPortIni(1, device))
    {
        form->Form_Load();
    }
    // Asked on every receive event: the length alone, not a copy of the store.
    qint64 received() const { return form->Text1->textLength(); }
};

// A new socat pair with the window open on one end, shown and settled; null,
// with the reason on stderr, when either cannot be had.
std::unique_ptr<Terminal> shownWindow(PairThread &pair)
{
    if (!pair.start())
        return nullptr;
    auto t = std::make_unique<Terminal>(pair.pathA());
    if (!t->comm->IsOpen()) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(pair.pathA()), qPrintable(t->comm->LastError()));
        return nullptr;
    }
    t->form->show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return t;
}

// A 10 ms timer that records how late each of its ticks comes.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last - 10'000'000);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double longestMs() const { return double(m_longest) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Runs the event loop until `done` holds or nothing has arrived for
// `idleMs`; `received` tells progress.
template<typename Done, typename Received>
void runUntil(Done done, Received received, int idleMs)
{
    QElapsedTimer idle;
    idle.start();
    qint64 last = received();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 now = received();
        if (now != last) {
            last = now;
            idle.restart();
        } else if (idle.elapsed() > idleMs) {
            return;
        }
    }
}

// Before each timed flood, of either side: the disk writes out what the run
// before left dirty (the spool of a flood with the record on), so that its
// writeback does not fall on the next run. The window has nothing else
// left running: the raw runs block its thread, and each flood of the
// window ends when its bytes are in.
void settleMachine()
{
    ::sync();
}

// The count is redrawn every few frames while data streams, and its last
// value lands by itself a few frames after the stream ends: waits for that,
// for a second at most (a count still wrong then is reported as such).
void settleCount(Terminal &t, qint64 expected)
{
    const QString text = QString::number(expected);
    runUntil([&] { return t.form->Text3->text() == text; }, [] { return qint64(0); }, 1000);
}

QString yesNo(bool met)
{
    return met ? QStringLiteral("ok") : QStringLiteral("short");
}

// The X server's process: the one named by PORTLARK_X_SERVER_PID (bench/run.sh
// sets it for the server it starts), else a local Xvfb or Xorg whose command
// line names this display. 0 when there is none to be found.
qint64 xServerPid()
{
    const qint64 given = qEnvironmentVariableIntValue("PORTLARK_X_SERVER_PID");
    if (given > 0)
        return given;
    const QString display = qEnvironmentVariable("DISPLAY");
    if (!display.startsWith(u':'))
        return 0;
    const QString number = display.section(u'.', 0, 0);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = file.readAll().split('\0');
        if (args.isEmpty())
            continue;
        const QByteArray program = args.first().mid(args.first().lastIndexOf('/') + 1);
        if ((program == "Xvfb" || program == "Xorg" || program == "X") && args.contains(number.toLatin1()))
            return pid;
    }
    return 0;
}

// CPU seconds a process has used (user and system), -1 when unknown.
double processCpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // The fields after the command name, which may itself hold spaces.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Counts paint events of a widget.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    qint64 paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void row(const QString &what, const QString &result, const QString &goal, const QString &met)
{
    std::printf("%-42s %-22s %-18s %s\n", qPrintable(what), qPrintable(result), qPrintable(goal), qPrintable(met));
}

// The long session: `total` bytes at full speed into the shown window, with
// the session record on and the input pane keeping its older bytes on disk.
int soak(qint64 total)
{
    PairThread pair;
    const std::unique_ptr<Terminal> shown = shownWindow(pair);
    if (!shown)
        return 1;
    Terminal &t = *shown;
    const qint64 rssStart = residentBytes();
    const qint64 bound = t.form->paneStorage()->memoryLimit();

    qint64 received = 0;
    QObject::connect(t.comm, &SerialPortControl::SerialEvent, [&] { received = t.received(); });
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    stalls.start();
    std::unique_ptr<Feeder> feeder = startFeeder(pair.pathB(), total, 0);
    if (!feeder)
        return 1;
    runUntil([&] { return received >= total; }, [&] { return received; }, 20000);
    stalls.stop();
    const double seconds = clock.nsecsElapsed() / 1e9;
    settleCount(t, total);
    feeder.reset();
    const qint64 rssEnd = residentBytes();
    const qint64 rssPeak = statusBytes("VmHWM:");

    // The store read back a piece at a time: a copy of it all would itself
    // take the memory being measured.
    const ByteStore &store = t.form->Text1->bytes();
    bool exact = store.size() == total;
    QByteArray piece(int(MiB), Qt::Uninitialized);
    for (qint64 at = 0; exact && at < total; at += MiB) {
        const qsizetype n = store.read(at, MiB, piece.data());
        exact = isPattern(piece.first(n), at);
    }
    const bool countRight = t.form->Text3->text() == QString::number(total);
    const bool caretRight = t.form->Text1->cursorPosition() == total && t.form->Text1->SelLength() == 0;
    const qint64 lost = t.form->paneStorage()->lostBytes();

    const double mib = 1.0 / double(MiB);
    std::printf("Soak benchmark: %lld MiB at full speed over a socat pty pair into the shown window (%s),\n"
                "session record on; the input pane keeps at most %lld MiB in memory\n",
                total / MiB, qPrintable(QGuiApplication::platformName()), bound / MiB);
    row(QStringLiteral("measure"), QStringLiteral("result"), QStringLiteral("goal"), QStringLiteral("met"));
    row(QStringLiteral("received"),
        QStringLiteral("%1 MiB in %2 s (%3 MiB/s)")
            .arg(received / MiB)
            .arg(seconds, 0, 'f', 1)
            .arg(seconds > 0 ? double(received) * mib / seconds : 0, 0, 'f', 1),
        QString(), QString());
    row(QStringLiteral("resident at start"), QStringLiteral("%1 MiB").arg(double(rssStart) * mib, 0, 'f', 1), QString(),
        QString());
    const QString goal = QStringLiteral("<= %1 MiB").arg(double(rssStart + bound) * mib, 0, 'f', 0);
    row(QStringLiteral("resident at the end"), QStringLiteral("%1 MiB").arg(double(rssEnd) * mib, 0, 'f', 1), goal,
        yesNo(rssEnd <= rssStart + bound));
    row(QStringLiteral("resident at its highest"), QStringLiteral("%1 MiB").arg(double(rssPeak) * mib, 0, 'f', 1), goal,
        yesNo(rssPeak <= rssStart + bound));
    row(QStringLiteral("memory per byte (resident at end / bytes)"),
        QStringLiteral("%1 B").arg(received > 0 ? double(rssEnd) / double(received) : 0, 0, 'f', 3), QString(),
        QString());
    row(QStringLiteral("  held on disk by the input pane"),
        QStringLiteral("%1 MiB").arg(double(store.spilledBytes()) * mib, 0, 'f', 1), QString(), QString());
    row(QStringLiteral("  held in memory by the input pane"),
        QStringLiteral("%1 MiB").arg(double(store.memoryBytes()) * mib, 0, 'f', 1), QString(), QString());
    SessionRecord *record = nullptr;
    if (auto *session = t.form->findChild<SessionController *>())
        record = session->record();
    // The index is kept in a scratch file beside the spool, mapped: what
    // counts is how much of it is resident, as the system sees it.
    const QString recordFolder = record ? QFileInfo(record->spoolPath()).absolutePath() : QString();
    row(QStringLiteral("  the session record's index, resident"),
        QStringLiteral("%1 MiB of %2 MiB (%3 events)")
            .arg(record ? double(residentMappedFrom(recordFolder)) * mib : 0, 0, 'f', 1)
            .arg(record ? double(record->eventCount() * qint64(sizeof(RecordEvent))) * mib : 0, 0, 'f', 1)
            .arg(record ? record->eventCount() : 0),
        QString(), QString());
    // Where the rest of the resident memory is: the allocator's own view.
    const struct mallinfo2 heap = mallinfo2();
    row(QStringLiteral("  heap in use / free in it / mapped"),
        QStringLiteral("%1 / %2 / %3 MiB")
            .arg(double(heap.uordblks) * mib, 0, 'f', 1)
            .arg(double(heap.fordblks) * mib, 0, 'f', 1)
            .arg(double(heap.hblkhd) * mib, 0, 'f', 1),
        QString(), QString());
    row(QStringLiteral("longest event-loop stall"), QStringLiteral("%1 ms").arg(stalls.longestMs(), 0, 'f', 1),
        QStringLiteral("<= 16 ms"), yesNo(stalls.longestMs() <= 16));
    row(QStringLiteral("count at the end"), t.form->Text3->text(), QString::number(total), yesNo(countRight));
    row(QStringLiteral("pane holds what was sent"),
        QStringLiteral("%1 (%2 not kept)").arg(exact ? "exact" : "NOT exact").arg(lost), QStringLiteral("exact, 0"),
        yesNo(exact && lost == 0));
    row(QStringLiteral("caret at the end"), QString::number(t.form->Text1->cursorPosition()), QString::number(total),
        yesNo(caretRight));
    std::fflush(stdout);
    t.form->close();
    return exact && countRight && caretRight ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "--feed") == 0)
        return feed(argv[2], std::atoll(argv[3]), std::atoll(argv[4]));

    // The window is set up as the program sets it up.
    DisplaySetup::Prepare();
    QApplication app(argc, argv);
    qint64 floodBytes = 64 * MiB;
    int steadySeconds = 30;
    qint64 soakBytes = 0;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--quick")) {
            floodBytes = 8 * MiB;
            steadySeconds = 5;
        } else if (args[i] == QLatin1String("--mib") && i + 1 < args.size()) {
            floodBytes = args[++i].toLongLong() * MiB;
        } else if (args[i] == QLatin1String("--steady") && i + 1 < args.size()) {
            steadySeconds = args[++i].toInt();
        } else if (args[i] == QLatin1String("--soak")) {
            soakBytes = 1024 * MiB;
            if (i + 1 < args.size() && args[i + 1].toLongLong() > 0)
                soakBytes = args[++i].toLongLong() * MiB;
        } else {
            std::fprintf(stderr, "usage: %s [--quick] [--mib N] [--steady SECONDS] | --soak [MIB]\n", argv[0]);
            return 2;
        }
    }
    if (!SocatPair::available()) {
        std::fprintf(stderr, "socat is not installed\n");
        return 1;
    }
    ModeString = QStringLiteral("115200,N,8,1");
    HandshakeMode = 0;
    if (soakBytes > 0)
        return soak(soakBytes);

    // 1. The raw ceiling of a pair like the one Portlark gets: the best of
    // three, as Portlark's own rate below is the best of its three floods
    // with the record on (a shared machine slows single runs, either side).
    // Each raw run comes just before one of those floods, so that a machine
    // that drifts faster or slower over the minute the floods take moves
    // both sides alike.
    bool rawExact = true;
    double raw = 0;
    auto rawRound = [&] {
        settleMachine();
        bool exact = false;
        const double r = rawCeiling(floodBytes, &exact);
        raw = std::max(raw, r);
        rawExact = rawExact && exact;
        return r;
    };
    QList<double> roundShares; // each record-on flood over the raw run before it
    auto addRound = [&](double rawRate, double portlarkRate) {
        roundShares.append(rawRate > 0 ? 100.0 * portlarkRate / rawRate : 0);
    };
    const double firstRaw = rawRound();

    // 2. The flood into the shown window.
    PairThread pair;
    const std::unique_ptr<Terminal> shown = shownWindow(pair);
    if (!shown)
        return 1;
    Terminal &t = *shown;
    // As the program has it: its loop watches these signals' pipe too.
    ShutdownSignals shutdown(t.form.get());

    const qint64 rssBefore = residentBytes();
    qint64 received = 0;
    qint64 events = 0; // receive events that brought bytes
    QElapsedTimer floodClock;
    qint64 firstNs = -1, lastNs = 0;
    // Connected after the window's own handler, so it sees the store as the
    // handler left it.
    QObject::connect(t.comm, &SerialPortControl::SerialEvent, [&] {
        const qint64 now = t.received();
        if (now == received)
            return;
        if (firstNs < 0)
            firstNs = floodClock.nsecsElapsed();
        lastNs = floodClock.nsecsElapsed();
        received = now;
        ++events;
    });

    settleMachine();
    StallMeter stalls;
    floodClock.start();
    stalls.start();
    std::unique_ptr<Feeder> feeder = startFeeder(pair.pathB(), floodBytes, 0);
    if (!feeder)
        return 1;
    runUntil([&] { return received >= floodBytes; }, [&] { return received; }, 20000);
    stalls.stop();
    settleCount(t, floodBytes);
    const double floodStall = stalls.longestMs();
    const double floodSeconds = firstNs >= 0 ? double(lastNs - firstNs) / 1e9 : 0;
    const double rate = floodSeconds > 0 ? double(received) / MiB / floodSeconds : 0;
    const qint64 rssAfter = residentBytes();
    feeder.reset();

    bool floodExact = false;
    qint64 floodLost = floodBytes;
    {
        // A copy of the whole store, not kept past this check.
        const QByteArray store = t.input();
        floodExact
            = store.size() == floodBytes && isPattern(store) && t.form->Text3->text() == QString::number(floodBytes);
        floodLost = floodBytes - store.size();
    }
    const double perByte = received > 0 ? double(rssAfter - rssBefore) / double(received) : 0;
    addRound(firstRaw, rate);

    // 2b. The record on and off: the same flood with the record off and on,
    // alternately, twice each (the best of each counts, as a shared machine
    // slows single runs); then what the spool holds of every flood received
    // while it was on.
    SessionRecord *record = nullptr;
    if (auto *session = t.form->findChild<SessionController *>())
        record = session->record();
    auto floodRate = [&] {
        settleMachine();
        const qint64 from = received;
        firstNs = -1;
        const std::unique_ptr<Feeder> f = startFeeder(pair.pathB(), floodBytes, 0);
        if (!f)
            return 0.0;
        runUntil([&] { return received >= from + floodBytes; }, [&] { return received; }, 20000);
        const double seconds = firstNs >= 0 ? double(lastNs - firstNs) / 1e9 : 0;
        return seconds > 0 ? double(received - from) / MiB / seconds : 0;
    };
    double rateOff = 0;
    double rateOn = 0;
    qint64 recordedFloods = 1; // the first flood ran with the record on
    for (int round = 0; round < 2 && record; ++round) {
        t.comm->setLineObserver(nullptr);
        rateOff = std::max(rateOff, floodRate());
        const double rawRate = rawRound();
        t.comm->setLineObserver(record);
        const double on = floodRate();
        rateOn = std::max(rateOn, on);
        addRound(rawRate, on);
        ++recordedFloods;
    }
    std::sort(roundShares.begin(), roundShares.end());
    qint64 spoolReceived = -1;
    bool spoolExact = false;
    qint64 spoolFileBytes = 0;
    if (record) {
        record->flush();
        spoolReceived = 0;
        spoolExact = true;
        for (qint64 i = 0; i < record->eventCount(); ++i) {
            if (record->event(i).kind != RecordEvent::Received)
                continue;
            const QByteArray chunk = record->payload(i);
            spoolExact = spoolExact && isPattern(chunk, spoolReceived);
            spoolReceived += chunk.size();
        }
        spoolExact = spoolExact && spoolReceived == recordedFloods * floodBytes;
        spoolFileBytes = record->spoolSize();
    }

    // 3. A steady 115200 baud on the same window, the flood still in the pane,
    // after the floor for it: the same feed into a plain poll/read loop.
    const double floorShare = steadyFloor(std::clamp(steadySeconds / 2, 5, 15));
    const qint64 steadyBytes = SteadyRate * steadySeconds;
    const qint64 base = received;
    const qint64 floodEvents = events;
    feeder = startFeeder(pair.pathB(), steadyBytes, SteadyRate);
    if (!feeder)
        return 1;
    const qint64 xPid = xServerPid();
    const double x0 = processCpuSeconds(xPid);
    PaintCounter panePaints(t.form->Text1);
    PaintCounter countPaints(t.form->Text3);
    QElapsedTimer steadyClock;
    steadyClock.start();
    const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double main0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    // The share is also taken over each second: on a shared virtual machine
    // single seconds are sometimes charged several times the usual, and the
    // median shows the program's own steady cost beside the overall mean.
    QList<double> perSecond;
    QElapsedTimer windowClock;
    windowClock.start();
    double windowCpu = cpu0;
    QTimer window;
    QObject::connect(&window, &QTimer::timeout, [&] {
        const double cpuNow = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        perSecond.append(100.0 * (cpuNow - windowCpu) / (windowClock.nsecsElapsed() / 1e9));
        windowCpu = cpuNow;
        windowClock.restart();
    });
    window.start(1000);
    runUntil([&] { return received >= base + steadyBytes; }, [&] { return received; }, 20000);
    window.stop();
    std::sort(perSecond.begin(), perSecond.end());
    const double medianShare = perSecond.isEmpty() ? 0 : perSecond.at(perSecond.size() / 2);
    const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - main0;
    const double wall = steadyClock.nsecsElapsed() / 1e9;
    const double x1 = processCpuSeconds(xPid);
    const double xShare = x0 >= 0 && x1 >= 0 && wall > 0 ? 100.0 * (x1 - x0) / wall : -1;
    const double panePerSecond = wall > 0 ? double(panePaints.paints) / wall : 0;
    const double countPerSecond = wall > 0 ? double(countPaints.paints) / wall : 0;
    const double frameRate = 1000.0 / RepaintThrottle::FrameInterval;
    // The measured span may start just before a frame ends and end just
    // after one begins: one paint more than whole frames is still one a frame.
    const auto withinFrames = [&](qint64 paints) { return double(paints) <= frameRate * wall + 1; };
    feeder.reset();
    const QByteArray after = t.input();
    const qint64 steadyLost = base + steadyBytes - after.size();
    const bool steadyExact = steadyLost == 0 && isPattern(after.mid(base), base);
    const double share = wall > 0 ? 100.0 * cpu / wall : 0;

    std::printf("Receive benchmark: socat pty pair, window shown (%s), %lld MiB flood, %d s at 115200 baud\n",
                qPrintable(QGuiApplication::platformName()), floodBytes / MiB, steadySeconds);
    row(QStringLiteral("measure"), QStringLiteral("result"), QStringLiteral("goal"), QStringLiteral("met"));
    row(QStringLiteral("raw ceiling (plain read loop, best of 3)"),
        QStringLiteral("%1 MiB/s%2").arg(raw, 0, 'f', 1).arg(rawExact ? "" : " (NOT exact)"), QString(), QString());
    row(QStringLiteral("Portlark into the store, first flood"), QStringLiteral("%1 MiB/s").arg(rate, 0, 'f', 1),
        QString(), QString());
    row(QStringLiteral("  as a share of the raw ceiling"),
        QStringLiteral("%1 %").arg(raw > 0 ? 100.0 * rate / raw : 0, 0, 'f', 1), QString(), QString());
    const double bestOn = std::max(rate, rateOn);
    row(QStringLiteral("Portlark, record on (best of 3 floods)"), QStringLiteral("%1 MiB/s").arg(bestOn, 0, 'f', 1),
        QString(), QString());
    const double ratio = raw > 0 ? 100.0 * bestOn / raw : 0;
    row(QStringLiteral("  as a share of the raw ceiling"), QStringLiteral("%1 %").arg(ratio, 0, 'f', 1),
        QStringLiteral(">= 90 %"), yesNo(ratio >= 90));
    QStringList shares;
    for (const double r : roundShares)
        shares.append(QStringLiteral("%1").arg(r, 0, 'f', 1));
    row(QStringLiteral("  each flood / the raw run just before it"),
        shares.join(QStringLiteral(", ")) + QStringLiteral(" %"), QString(), QString());
    row(QStringLiteral("the flood, session record off (best of 2)"), QStringLiteral("%1 MiB/s").arg(rateOff, 0, 'f', 1),
        QString(), QString());
    row(QStringLiteral("the flood, session record on (best of 2)"), QStringLiteral("%1 MiB/s").arg(rateOn, 0, 'f', 1),
        QString(), QString());
    const double recordCost = rateOff > 0 ? 100.0 * (rateOff - rateOn) / rateOff : 100;
    row(QStringLiteral("  throughput lost to the record"), QStringLiteral("%1 %").arg(recordCost, 0, 'f', 1),
        QStringLiteral("<= 10 %"), yesNo(recordCost <= 10));
    row(QStringLiteral("received bytes read back from the spool"),
        QStringLiteral("%1 of %2 (%3)")
            .arg(spoolReceived)
            .arg(recordedFloods * floodBytes)
            .arg(spoolExact ? "exact" : "NOT exact"),
        QStringLiteral("= input"), yesNo(spoolExact));
    row(QStringLiteral("  spool file size"), QStringLiteral("%1 MiB").arg(double(spoolFileBytes) / MiB, 0, 'f', 1),
        QString(), QString());
    row(QStringLiteral("bytes lost in the flood"),
        QStringLiteral("%1 (%2)").arg(floodLost).arg(floodExact ? "exact" : "NOT exact"), QStringLiteral("0"),
        yesNo(floodLost == 0 && floodExact));
    row(QStringLiteral("longest event-loop stall in the flood"), QStringLiteral("%1 ms").arg(floodStall, 0, 'f', 1),
        QStringLiteral("<= 16 ms"), yesNo(floodStall <= 16));
    row(QStringLiteral("resident memory per byte received"), QStringLiteral("%1 B").arg(perByte, 0, 'f', 2),
        QStringLiteral("<= 1.1 B"), yesNo(perByte <= 1.1));
    row(QStringLiteral("CPU at 115200 baud (whole process)"), QStringLiteral("%1 % of a core").arg(share, 0, 'f', 2),
        QStringLiteral("<= 1.0 %"), yesNo(share <= 1.0));
    row(QStringLiteral("  median of 1 s windows"),
        QStringLiteral("%1 % (%2 to %3)")
            .arg(medianShare, 0, 'f', 2)
            .arg(perSecond.isEmpty() ? 0 : perSecond.first(), 0, 'f', 2)
            .arg(perSecond.isEmpty() ? 0 : perSecond.last(), 0, 'f', 2),
        QStringLiteral("<= 1.0 %"), yesNo(medianShare <= 1.0));
    row(QStringLiteral("  of it the main thread"),
        QStringLiteral("%1 % of a core").arg(wall > 0 ? 100.0 * mainCpu / wall : 0, 0, 'f', 2), QString(), QString());
    row(QStringLiteral("  a plain poll/read loop, same feed"),
        floorShare < 0 ? QStringLiteral("(could not run)")
                       : QStringLiteral("%1 % of a core (median)").arg(floorShare, 0, 'f', 2),
        QString(), QString());
    if (floorShare > 0)
        row(QStringLiteral("  Portlark's median / the loop's"),
            QStringLiteral("%1").arg(medianShare / floorShare, 0, 'f', 2), QString(), QString());
    row(QStringLiteral("X server CPU at 115200 baud"),
        xShare < 0 ? QStringLiteral("(no local X server found)")
                   : QStringLiteral("%1 % of a core").arg(xShare, 0, 'f', 2),
        QStringLiteral("<= 0.5 %"), xShare < 0 ? QString() : yesNo(xShare <= 0.5));
    row(QStringLiteral("input pane repaints at 115200 baud"), QStringLiteral("%1 /s").arg(panePerSecond, 0, 'f', 1),
        QStringLiteral("<= %1 /s (frames)").arg(frameRate, 0, 'f', 0), yesNo(withinFrames(panePaints.paints)));
    row(QStringLiteral("count redraws at 115200 baud"), QStringLiteral("%1 /s").arg(countPerSecond, 0, 'f', 1),
        QStringLiteral("<= %1 /s (frames)").arg(frameRate, 0, 'f', 0), yesNo(withinFrames(countPaints.paints)));
    row(QStringLiteral("receive events (mean block) in the flood"),
        QStringLiteral("%1 (%2 B)").arg(floodEvents).arg(floodEvents ? received > 0 ? base / floodEvents : 0 : 0),
        QString(), QString());
    row(QStringLiteral("receive events (mean block) at 115200"),
        QStringLiteral("%1 (%2 B)")
            .arg(events - floodEvents)
            .arg(events > floodEvents ? (received - base) / (events - floodEvents) : 0),
        QString(), QString());
    row(QStringLiteral("bytes lost at 115200 baud"),
        QStringLiteral("%1 (%2)").arg(steadyLost).arg(steadyExact ? "exact" : "NOT exact"), QStringLiteral("0"),
        yesNo(steadyLost == 0 && steadyExact));
    std::fflush(stdout);

    t.form->close();
    return 0;
}
