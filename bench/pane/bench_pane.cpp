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
    double max = 0;
};

Stats statsOf(const std::vector<double> &samples)
{
    Stats s;
    if (samples.empty())
        return s;
    for (double v : samples) {
        s.mean += v;
        s.max = std::max(s.max, v);
    }
    s.mean /= double(samples.size());
    return s;
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
    std::printf("Times in microseconds (append) and milliseconds (paint). An append is the box's part\n"
                "(text + caret) and the store's part; max is the slowest single append.\n\n");
    std::printf("%-8s | %8s %9s %9s %9s | %8s %8s | %8s %8s %7s\n", "holds", "mean us", "max us", "box max",
                "store max", "paint ms", "max ms", "RSS MiB", "peak MiB", "B/byte");
    std::printf("---------+------------------------------------------+-------------------+--------------------------\n");

    std::vector<double> window, boxPart, storePart;
    window.reserve(size_t(total / kBlock));
    boxPart.reserve(size_t(total / kBlock));
    storePart.reserve(size_t(total / kBlock));
    std::vector<double> firstRow(2, 0.0), lastRow(2, 0.0);
    double worstAppend = 0;
    qsizetype held = 0;
    qsizetype block = 0;
    size_t nextMark = 0;
    QElapsedTimer timer;
    while (held < total) {
        const QByteArray bytes = QByteArray::fromRawData(pattern.constData() + (block++ % 256), kBlock);
        timer.start();
        // The receive path: visible text, caret to the end, then the store.
        pane.appendText(DisplayText(bytes));
        pane.setSelStart(pane.Text().size());
        const qint64 boxNs = timer.nsecsElapsed();
        BinaryTextBox::AppendPaneBytes(handle, bytes);
        const qint64 ns = timer.nsecsElapsed();
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
            const Stats paint = paintMs(200);
            const double rss = residentMiB();
            const double peak = peakResidentMiB();
            std::printf("%-8s | %8.2f %9.1f %9.1f %9.1f | %8.3f %8.3f | %8.1f %8.1f %7.2f\n",
                        qPrintable(sizeName(held)), all.mean, all.max, box.max, store.max, paint.mean, paint.max,
                        rss, peak, (peak - startRss) * double(MiB) / double(held));
            if (nextMark == 0)
                firstRow = {all.mean, paint.mean};
            lastRow = {all.mean, paint.mean};
            window.clear();
            boxPart.clear();
            storePart.clear();
            ++nextMark;
        }
    }

    // Sanity: the store and the visible text agree byte for byte.
    const QByteArray store = BinaryTextBox::GetPaneBytes(handle);
    const bool same = store.size() == pane.Text().size() && DisplayText(store) == pane.Text();
    std::printf("\nmean/max are over the appends since the previous row; B/byte = (peak RSS - RSS at start) / bytes held\n");
    std::printf("(store and visible text both count). RSS at start: %.1f MiB.\n", startRss);
    std::printf("append ratio last/first row: %.2f (goal <= 2); paint ratio: %.2f (goal <= 2); "
                "slowest single append: %.3f ms (goal < 0.2 ms)\n",
                lastRow[0] / firstRow[0], lastRow[1] / firstRow[1], worstAppend / 1e3);
    std::printf("store and visible text agree: %s\n", same ? "yes" : "NO");
    BinaryTextBox::DetachPane(&pane);
    return same ? 0 : 1;
}
