// Pane benchmark: feeds a pane 1 KiB blocks the way the receive path does
// (visible text, caret to the end, byte store) until it holds 64 MiB, and
// prints the time per append, the time to paint the pane and the memory in
// use at 64 KiB, 1 MiB, 16 MiB and 64 MiB.
//
//   build/bench/pane/bench_pane [megabytes]      (default 64)

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr qsizetype kBlock = 1024;
constexpr qsizetype KiB = 1024;
constexpr qsizetype MiB = 1024 * KiB;

double residentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(getpagesize()) / double(MiB);
}

double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

struct Stats
{
    double mean = 0;
    double median = 0;
    double p999 = 0;
    double max = 0;
};

Stats statsOf(std::vector<double> samples)
{
    Stats s;
    if (samples.empty())
        return s;
    for (double v : samples)
        s.mean += v;
    s.mean /= double(samples.size());
    std::sort(samples.begin(), samples.end());
    s.median = samples[samples.size() / 2];
    s.p999 = samples[std::min(samples.size() - 1, samples.size() * 999 / 1000)];
    s.max = samples.back();
    return s;
}

// CPU time of this thread: unlike the wall clock it leaves out the time the
// process waits while others run, which on a busy machine swamps the figures.
qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString sizeName(qsizetype bytes)
{
    return bytes >= MiB ? QStringLiteral("%1 MiB").arg(bytes / MiB) : QStringLiteral("%1 KiB").arg(bytes / KiB);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    qsizetype total = 64 * MiB;
    if (argc > 1)
        total = std::max<qsizetype>(1, QByteArray(argv[1]).toLongLong()) * MiB;
    std::vector<qsizetype> marks;
    for (qsizetype m : {64 * KiB, 1 * MiB, 16 * MiB, 64 * MiB}) {
        if (m <= total)
            marks.push_back(m);
    }

    const double startRss = residentMiB();

    ByteLineEdit pane;
    pane.resize(433, 25);
    pane.setLocked(true); // the input pane
    pane.show();
    BinaryTextBox::AttachPane(&pane);
    const int handle = pane.hWnd();
    QApplication::processEvents();

    // Every byte value in every block, NUL included; the start moves from
    // block to block so consecutive blocks differ.
    QByteArray pattern(kBlock + 256, Qt::Uninitialized);
    for (qsizetype i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i & 0xFF);

    QImage image(pane.size(), QImage::Format_ARGB32_Premultiplied);
    auto paintMs = [&](int rounds) {
        std::vector<double> samples;
        QElapsedTimer t;
        for (int i = 0; i < rounds; ++i) {
            t.start();
            pane.render(&image);
            samples.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        return statsOf(samples);
    };

    std::printf("Pane benchmark: 1 KiB appends (visible text + caret to end + byte store), %s in all\n",
                qPrintable(sizeName(total)));
    std::printf("Append times in microseconds: all of it, and the box's part (text + caret) and the store's\n"
                "part; p99.9 = 99.9th percentile, max = slowest single append; cpu = this thread's CPU time\n"
                "per append (leaves out waiting while other processes run). Paint: median and slowest of\n"
                "200 paints, in milliseconds.\n\n");
    std::printf("%-7s|%7s %7s %7s %8s|%8s %9s|%7s %7s|%6s %6s|%6s %6s %6s\n", "holds", "mean", "median",
                "p99.9", "max", "box mean", "store mean", "cpu mean", "cpu max", "paint", "max", "RSS", "peak",
                "B/byte");
    std::printf("%-7s|%7s %7s %7s %8s|%8s %9s|%8s %7s|%6s %6s|%6s %6s %6s\n", "", "us", "us", "us", "us", "us",
                "us", "us", "us", "ms", "ms", "MiB", "MiB", "");
    std::printf("-------+--------------------------------+------------------+----------------+-------------+"
                "--------------------\n");

    std::vector<double> window, boxPart, storePart, cpu;
    window.reserve(size_t(total / kBlock));
    cpu.reserve(size_t(total / kBlock));
    boxPart.reserve(size_t(total / kBlock));
    storePart.reserve(size_t(total / kBlock));
    Stats firstAppend, lastAppend, firstPaint, lastPaint;
    double worstAppend = 0;
    qsizetype held = 0;
    qsizetype block = 0;
    size_t nextMark = 0;
    QElapsedTimer timer;
    while (held < total) {
        const QByteArray bytes = QByteArray::fromRawData(pattern.constData() + (block++ % 256), kBlock);
        const qint64 cpuStart = threadCpuNs();
        timer.start();
        // The receive path: visible text, caret to the end, then the store.
        pane.appendText(DisplayText(bytes));
        pane.setSelStart(pane.Text().size());
        const qint64 boxNs = timer.nsecsElapsed();
        BinaryTextBox::AppendPaneBytes(handle, bytes);
        const qint64 ns = timer.nsecsElapsed();
        cpu.push_back(double(threadCpuNs() - cpuStart) / 1e3);
        boxPart.push_back(double(boxNs) / 1e3);
        storePart.push_back(double(ns - boxNs) / 1e3);
        const double us = double(ns) / 1e3;
        window.push_back(us);
        worstAppend = std::max(worstAppend, us);
        held += kBlock;
        // Let the event loop run now and then, as it would between reads.
        if ((block & 255) == 0)
            QApplication::processEvents();

        if (nextMark < marks.size() && held == marks[nextMark]) {
            const Stats all = statsOf(window);
            const Stats box = statsOf(boxPart);
            const Stats store = statsOf(storePart);
            const Stats cpuTime = statsOf(cpu);
            const Stats paint = paintMs(200);
            const double rss = residentMiB();
            const double peak = peakResidentMiB();
            std::printf("%-7s|%7.2f %7.2f %7.1f %8.1f|%8.2f %9.2f|%8.2f %7.1f|%6.3f %6.2f|%6.1f %6.1f %6.2f\n",
                        qPrintable(sizeName(held)), all.mean, all.median, all.p999, all.max, box.mean, store.mean,
                        cpuTime.mean, cpuTime.max, paint.median, paint.max, rss, peak, (peak - startRss) * double(MiB) / double(held));
            if (nextMark == 0) {
                firstAppend = all;
                firstPaint = paint;
            }
            lastAppend = all;
            lastPaint = paint;
            window.clear();
            boxPart.clear();
            storePart.clear();
            cpu.clear();
            ++nextMark;
        }
    }

    // Sanity: the store and the visible text agree byte for byte.
    // Compared piece by piece, so the check does not add a third copy to the
    // peak memory the table reports.
    const QByteArray store = BinaryTextBox::GetPaneBytes(handle);
    bool same = store.size() == pane.Text().size();
    for (qsizetype at = 0; same && at < store.size(); at += MiB)
        same = DisplayText(store.mid(at, MiB)) == pane.Text().mid(at, MiB);
    std::printf("\nAppend figures are over the appends since the previous row; B/byte = (peak RSS - RSS at\n"
                "start) / bytes held, store and visible text both counted. RSS at start: %.1f MiB.\n", startRss);
    std::printf("last row / first row: append median %.2f, mean %.2f; paint median %.2f (goals <= 2)\n",
                lastAppend.median / firstAppend.median, lastAppend.mean / firstAppend.mean,
                lastPaint.median / firstPaint.median);
    std::printf("slowest single append: %.3f ms (goal < 0.2 ms; on a loaded machine the slowest ones are\n"
                "the process being preempted, not work)\n", worstAppend / 1e3);
    std::printf("store and visible text agree: %s\n", same ? "yes" : "NO");
    BinaryTextBox::DetachPane(&pane);
    return same ? 0 : 1;
}
