#include "repaintthrottle.h"

#include <QBasicTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimerEvent>
#include <QWidget>

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

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() != m_frame.timerId())
            return;
        m_frame.stop();
        if (m_held.isEmpty())
            return;
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
};

} // namespace

void RepaintThrottle::Defer(QWidget *widget)
{
    static FrameClock clock;
    clock.defer(widget);
}
