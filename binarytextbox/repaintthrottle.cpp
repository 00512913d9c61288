#include "repaintthrottle.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimerEvent>
#include <QWidget>

#include <vector>

namespace {

class FrameClock : public QObject
{
public:
    void defer(QWidget *widget)
    {
        if (overdue())
            endFrame();
        if (!m_frame.isActive()) {
            startFrame();
            return;
        }
        if (!widget->updatesEnabled())
            return;
        // Disabled updates swallow the widget's own update() calls; enabling
        // them again repaints it once with everything that changed.
        widget->setUpdatesEnabled(false);
        m_held.append(widget);
    }

    void coalesce(QWidget *widget, std::function<void()> apply, int everyFrames)
    {
        if (!m_frame.isActive()) {
            startFrame();
            ran(widget);
            apply();
            return;
        }
        hold(widget, std::move(apply), everyFrames);
        // Past its interval the frame ends here, and this change is drawn
        // with it, instead of on a wake-up of the frame's own.
        if (overdue())
            endFrame();
    }

    void flush()
    {
        for (Pending &pending : std::exchange(m_pending, {})) {
            if (pending.widget) {
                ran(pending.widget);
                pending.apply();
            }
        }
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() == m_frame.timerId())
            endFrame();
    }

private:
    void startFrame()
    {
        m_frame.start(RepaintThrottle::LongestFrame, this);
        m_started.start();
    }

    bool overdue() const { return m_frame.isActive() && m_started.elapsed() >= RepaintThrottle::FrameInterval; }

    void hold(QWidget *widget, std::function<void()> apply, int everyFrames)
    {
        for (Pending &pending : m_pending) {
            if (pending.widget == widget) {
                pending.apply = std::move(apply);
                return;
            }
        }
        // Due at this frame's end, or `everyFrames` after its last run.
        qint64 due = m_frameNumber + 1;
        for (const Ran &r : m_ran) {
            if (r.widget == widget)
                due = qMax(due, r.frame + qMax(1, everyFrames));
        }
        m_pending.push_back({widget, std::move(apply), due});
    }

    void endFrame()
    {
        m_frame.stop();
        ++m_frameNumber;
        if (m_held.isEmpty() && m_pending.empty()) {
            // A quiet frame: the next change is drawn at once.
            m_ran.clear();
            return;
        }
        // The held changes are applied first, so that the repaint below
        // shows them too; those spaced further apart wait for their frame.
        std::vector<Pending> due;
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->due <= m_frameNumber) {
                due.push_back(std::move(*it));
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
        for (Pending &pending : due) {
            if (pending.widget) {
                ran(pending.widget);
                pending.apply();
            }
        }
        const QList<QPointer<QWidget>> held = std::exchange(m_held, {});
        for (const QPointer<QWidget> &widget : held) {
            if (widget)
                widget->setUpdatesEnabled(true);
        }
        startFrame();
    }

    QBasicTimer m_frame;
    QElapsedTimer m_started;
    QList<QPointer<QWidget>> m_held;
    struct Pending
    {
        QPointer<QWidget> widget;
        std::function<void()> apply;
        qint64 due = 0; // frame number at whose end it runs
    };
    std::vector<Pending> m_pending;
    // The frame in which each widget's last change ran, while frames follow
    // each other without a quiet one between.
    struct Ran
    {
        QPointer<QWidget> widget;
        qint64 frame = 0;
    };
    std::vector<Ran> m_ran;
    qint64 m_frameNumber = 0;

    void ran(QWidget *widget)
    {
        for (Ran &r : m_ran) {
            if (r.widget == widget) {
                r.frame = m_frameNumber;
                return;
            }
        }
        std::erase_if(m_ran, [](const Ran &r) { return r.widget.isNull(); });
        m_ran.push_back({widget, m_frameNumber});
    }
};

} // namespace

namespace {
FrameClock &frameClock()
{
    static FrameClock clock;
    return clock;
}
} // namespace

void RepaintThrottle::Defer(QWidget *widget)
{
    frameClock().defer(widget);
}

void RepaintThrottle::Flush()
{
    frameClock().flush();
}

void RepaintThrottle::Coalesce(QWidget *widget, std::function<void()> apply, int everyFrames)
{
    frameClock().coalesce(widget, std::move(apply), everyFrames);
}
