// Timeline benchmark: a session record of 64 MiB in one million packets
// (alternating directions, 67 bytes each, 10 ms apart) spooled to a temporary
// directory, then the timeline window over it: the time to open it (model,
// packets cut, window shown and painted at the newest row), a search across
// the whole record, a scroll from the first row to the last, and the memory
// the window takes per packet beyond the record's own index.
//
//   build/bench/timeline/bench_timeline [packets]     (default 1000000)

#include "idlegapsplitter.h"
#include "recordsearch.h"
#include "sessionrecord.h"
#include "timelinemodel.h"
#include "timelinewindow.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace {

double residentBytes()
{
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(getpagesize());
}

void row(const QString &what, const QString &result, const QString &goal, bool met)
{
    std::printf("%-36s %-16s %-12s %s\n", qPrintable(what), qPrintable(result), qPrintable(goal), met ? "ok" : "short");
}

// CPU time of this thread: on a busy shared machine the wall clock also
// counts the time other processes ran.
double threadCpuS()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void paintNow(QWidget *w)
{
    QApplication::processEvents();
    w->repaint();
}

// Shows the window and paints it once, at once.
void showPainted(TimelineWindow &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "the window was not shown\n");
    paintNow(window.view()->viewport());
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 packets = argc > 1 ? std::max(1LL, QByteArray(argv[1]).toLongLong()) : 1000000;
    const qint64 totalBytes = 64LL * 1024 * 1024 * packets / 1000000;

    // A window over a small record first, so fonts, style and backing store
    // (the window's own, whatever the record's size) are in place before the
    // memory is measured.
    QTemporaryDir smallDir;
    SessionRecord small(smallDir.path());
    small.bytesReceived(small.startMonotonic(), QByteArray("warm"));
    small.flush();
    TimelineWindow warm;
    warm.setRecord(&small);
    showPainted(warm);

    QTemporaryDir dir;
    SessionRecord record(dir.path());
    if (!record.isValid()) {
        std::fprintf(stderr, "cannot make the spool: %s\n", qPrintable(record.errorString()));
        return 1;
    }
    const qint64 t0 = record.startMonotonic();
    const QString mode = QStringLiteral("115200,N,8,1");
    record.portOpened(t0, QStringLiteral("/dev/ttyS0"), mode, 0, false);
    // Packets of 67 or 68 bytes, every byte value, a marker in a few of them.
    QByteArray pattern(256 + 80, Qt::Uninitialized);
    for (qsizetype i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i * 7 + 3);
    qint64 written = 0;
    qint64 planted = 0;
    for (qint64 p = 0; p < packets; ++p) {
        const qint64 end = totalBytes * (p + 1) / packets;
        QByteArray bytes = pattern.mid(p % 256, end - written);
        if (p % 9973 == 0) {
            bytes.replace(10, 4, QByteArray("\x7E\x55\x00\x0D", 4));
            ++planted;
        }
        written = end;
        const qint64 t = t0 + (p + 1) * 10000000;
        if (p % 2)
            record.bytesSent(t, bytes);
        else
            record.bytesReceived(t, bytes);
        if (p % 4096 == 0)
            record.flush();
    }
    record.flush();
    QApplication::processEvents();

    // The cutting alone, without a view.
    QElapsedTimer cutTimer;
    cutTimer.start();
    {
        IdleGapSplitter splitter(idleGapNs(mode), characterTimeNs(mode));
        splitter.update(record, record.committedCount());
    }
    const double cutS = double(cutTimer.nsecsElapsed()) / 1e9;

    const double before = residentBytes();

    QElapsedTimer timer;
    timer.start();
    const double openCpu0 = threadCpuS();
    TimelineWindow window;
    window.setRecord(&record);
    showPainted(window);
    const double openS = double(timer.nsecsElapsed()) / 1e9;
    const double openCpuS = threadCpuS() - openCpu0;
    const qint64 rows = window.model()->rowCount();
    const double after = residentBytes();
    const double perPacket = (after - before) / double(packets);

    // The search, from Next to the count and the first match shown.
    window.findKind->setCurrentIndex(1);
    window.findText->setText(QStringLiteral("7E ?? 00 0D"));
    QSignalSpy done(&window, &TimelineWindow::searchFinished);
    timer.start();
    window.findNext();
    done.wait(60000);
    paintNow(window.view()->viewport());
    const double searchS = double(timer.nsecsElapsed()) / 1e9;
    const RecordSearch *search = window.searchJob()->search();
    const qint64 found = search ? search->matchCount() : -1;

    // From the first row to the last, painted.
    window.view()->scrollToTop();
    paintNow(window.view()->viewport());
    timer.start();
    window.view()->scrollToBottom();
    paintNow(window.view()->viewport());
    const double scrollS = double(timer.nsecsElapsed()) / 1e9;
    const QScrollBar *bar = window.view()->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();

    std::printf("Timeline benchmark: %lld packets, %.1f MiB of data, spool %.1f MiB, %s\n", packets,
                double(written) / 1048576.0, double(record.spoolSize()) / 1048576.0,
                qPrintable(QGuiApplication::platformName()));
    std::printf("%-36s %-16s %-12s %s\n", "measure", "result", "goal", "met");
    row(QStringLiteral("open (rows cut, shown, painted)"), QStringLiteral("%1 s").arg(openS, 0, 'f', 3),
        QStringLiteral("< 0.3 s"), openS < 0.3 && rows == packets + 1);
    row(QStringLiteral("  its CPU time (this thread)"), QStringLiteral("%1 s").arg(openCpuS, 0, 'f', 3),
        QStringLiteral("< 0.3 s"), openCpuS < 0.3);
    row(QStringLiteral("  of which cutting the packets"), QStringLiteral("%1 s").arg(cutS, 0, 'f', 3), QString(), true);
    row(QStringLiteral("  rows"), QString::number(rows), QString::number(packets + 1), rows == packets + 1);
    row(QStringLiteral("search across the record"), QStringLiteral("%1 s").arg(searchS, 0, 'f', 3),
        QStringLiteral("< 0.5 s"), searchS < 0.5 && found == planted);
    row(QStringLiteral("  matches found"), QString::number(found), QString::number(planted), found == planted);
    row(QStringLiteral("scroll first row to last, painted"), QStringLiteral("%1 ms").arg(scrollS * 1e3, 0, 'f', 1),
        QStringLiteral("< 50 ms"), scrollS < 0.05 && atEnd);
    row(QStringLiteral("memory per packet (window)"), QStringLiteral("%1 B").arg(perPacket, 0, 'f', 1),
        QStringLiteral("< 32 B"), perPacket < 32);
    std::printf("(the record's own index, beside: %zu B per event)\n", sizeof(RecordEvent));
    return 0;
}
