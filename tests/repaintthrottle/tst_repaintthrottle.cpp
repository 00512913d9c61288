// Widgets fed by a data stream repaint once per frame, all together, and
// always end up showing their latest content.

#include "repaintthrottle.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <QWidget>

namespace {

class CountingWidget : public QWidget
{
public:
    int paints = 0;
    int shown = -1;
    int value = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints;
        shown = value;
        QPainter(this).fillRect(rect(), Qt::white);
    }
};

} // namespace

class TestRepaintThrottle : public QObject
{
    Q_OBJECT

private slots:
    void burstIsDrawnOncePerFrameWithLatestContent()
    {
        QWidget window;
        window.resize(200, 100);
        auto *a = new CountingWidget;
        auto *b = new CountingWidget;
        a->setParent(&window);
        b->setParent(&window);
        b->move(100, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(a->paints > 0 && b->paints > 0);
        QTest::qWait(3 * RepaintThrottle::LongestFrame); // let any frame end

        // The first change after a quiet frame is drawn at once ...
        RepaintThrottle::Defer(a);
        a->value = 1;
        a->update();
        QVERIFY(a->updatesEnabled());
        QTRY_COMPARE(a->shown, 1);

        // ... the rest of the frame's changes wait, for every widget.
        const int paintsBefore = a->paints + b->paints;
        for (int i = 2; i <= 50; ++i) {
            RepaintThrottle::Defer(a);
            a->value = i;
            a->update();
            RepaintThrottle::Defer(b);
            b->value = i;
            b->update();
        }
        QVERIFY(!a->updatesEnabled() || !b->updatesEnabled());
        QTRY_COMPARE(a->shown, 50);
        QTRY_COMPARE(b->shown, 50);
        QVERIFY(a->updatesEnabled());
        QVERIFY(b->updatesEnabled());
        // 49 changes to each widget cost a handful of paints, not 98.
        QVERIFY2(a->paints + b->paints - paintsBefore <= 6,
                 qPrintable(QString::number(a->paints + b->paints - paintsBefore)));
    }

    void costlyChangesRunOncePerFrameWithTheLast()
    {
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *w = new CountingWidget;
        w->setParent(&window);
        QTest::qWait(3 * RepaintThrottle::LongestFrame); // let any frame end

        int runs = 0;
        // The first change after a quiet frame runs at once ...
        RepaintThrottle::Coalesce(w, [&] {
            ++runs;
            w->value = 1;
        });
        QCOMPARE(runs, 1);
        QCOMPARE(w->value, 1);
        // ... the rest of the frame's run once, the last one, at its end.
        for (int i = 2; i <= 50; ++i)
            RepaintThrottle::Coalesce(w, [&, i] {
                ++runs;
                w->value = i;
            });
        QCOMPARE(runs, 1);
        QTRY_COMPARE(w->value, 50);
        QCOMPARE(runs, 2);

        // A widget that goes before its frame ends gets nothing run.
        RepaintThrottle::Coalesce(w, [&] { ++runs; });
        delete w;
        QTest::qWait(3 * RepaintThrottle::LongestFrame);
        QVERIFY(runs <= 3);
        const int before = runs;
        QTest::qWait(3 * RepaintThrottle::LongestFrame);
        QCOMPARE(runs, before);
    }

    void spacedChangesRunEveryNthFrameAndEndWithTheLast()
    {
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *w = new CountingWidget;
        w->setParent(&window);
        QTest::qWait(3 * RepaintThrottle::LongestFrame); // let any frame end

        // A change every few milliseconds for 20 frames, as a count fed by a
        // steady line: the first runs at once, then at most one in 5 frames.
        constexpr int Every = 5;
        int runs = 0;
        QElapsedTimer clock;
        clock.start();
        int sent = 0;
        while (clock.elapsed() < 20 * RepaintThrottle::FrameInterval) {
            ++sent;
            RepaintThrottle::Coalesce(
                w,
                [&, sent] {
                    ++runs;
                    w->value = sent;
                },
                Every);
            QTest::qWait(3);
        }
        const qint64 frames = clock.elapsed() / RepaintThrottle::FrameInterval;
        QVERIFY2(runs >= 2 && runs <= frames / Every + 2, qPrintable(QStringLiteral("%1 runs").arg(runs)));
        // The last change is never lost: it lands when its frame comes ...
        QTRY_COMPARE(w->value, sent);

        // ... or at once when the window's state is wanted now.
        RepaintThrottle::Coalesce(w, [&] { w->value = -1; });
        RepaintThrottle::Coalesce(
            w, [&] { w->value = -2; }, Every);
        RepaintThrottle::Flush();
        QCOMPARE(w->value, -2);
    }

    void widgetDestroyedWhileHeld()
    {
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *w = new CountingWidget;
        w->setParent(&window);
        w->show();
        auto *other = new CountingWidget;
        other->setParent(&window);
        other->move(100, 0);
        other->show();
        RepaintThrottle::Defer(w);     // starts a frame
        RepaintThrottle::Defer(w);     // held
        RepaintThrottle::Defer(other); // held in the same frame
        other->value = 7;
        other->update();
        delete w;
        // The frame's end must not touch the deleted widget, and still draws
        // and releases the one held beside it.
        QTRY_COMPARE(other->shown, 7);
        QTRY_VERIFY(other->updatesEnabled());

        // Later frames work as before: a change after a quiet frame is drawn.
        QTest::qWait(3 * RepaintThrottle::LongestFrame);
        RepaintThrottle::Defer(other);
        other->value = 8;
        other->update();
        QTRY_COMPARE(other->shown, 8);
    }
};

QTEST_MAIN(TestRepaintThrottle)
#include "tst_repaintthrottle.moc"
