#include "repaintthrottle.h"

#include <QBasicTimer>
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
        if (!m_frame.isActive()) {
            m_frame.start(RepaintThrottle::FrameInterval, this);
            return;
        }
        if (!widget->updatesEnabled())
            return;
        // Disabled updates swallow the widget's own update() calls; enabling
        // them again repaints it once with everything that changed.
        widget->setUpdatesEnabled(false);
        m_held.append(widget);
    }

    void coalesce(QWidget *widget, std::function<void()> apply)
    {
        if (!m_frame.isActive()) {
            m_frame.start(RepaintThrottle::FrameInterval, this);
            apply();
            return;
        }
        for (Pending &pending : m_pending) {
            if (pending.widget == widget) {
                pending.apply = std::move(apply);
                return;
            }
        }
        m_pending.push_back({widget, std::move(apply)});
    }

    void flush()
    {
        for (Pending &pending : std::exchange(m_pending, {})) {
            if (pending.widget)
                pending.apply();
        }
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() != m_frame.timerId())
            return;
        m_frame.stop();
        if (m_held.isEmpty() && m_pending.empty())
            return;
        // The held changes are applied first, so that the repaint below
        // shows them too.
        flush();
        const QList<QPointer<QWidget>> held = std::exchange(m_held, {});
        for (const QPointer<QWidget> &widget : held) {
            if (widget)
                widget->setUpdatesEnabled(true);
        }
        m_frame.start(RepaintThrottle::FrameInterval, this);
    }

private:
    QBasicTimer m_frame;
    QList<QPointer<QWidget>> m_held;
    struct Pending
    {
        QPointer<QWidget> widget;
        std::function<void()> apply;
    };
    std::vector<Pending> m_pending;
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

void RepaintThrottle::Coalesce(QWidget *widget, std::function<void()> apply)
{
    frameClock().coalesce(widget, std::move(apply));
}
