#include "loopbackplug.h"

#include "serialportcontrol.h"

#include <QMetaObject>
#include <QPointer>

LoopbackPlug::LoopbackPlug(bool dtr, bool rts, QObject *parent)
    : QObject(parent)
    , m_dtr(dtr)
    , m_rts(rts)
{}

void LoopbackPlug::write(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_inFlight += bytes.size();
    post({bytes, 0});
}

void LoopbackPlug::dropInFlight()
{
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (!it->bytes.isEmpty()) {
            m_inFlight -= it->bytes.size();
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
}

void LoopbackPlug::sendBreak()
{
    post({{}, 0, true});
}

void LoopbackPlug::setDtr(bool on)
{
    if (on == m_dtr)
        return;
    m_dtr = on;
    post({{}, SerialPortControl::EventDsrChanged});
    post({{}, SerialPortControl::EventCdChanged});
}

void LoopbackPlug::setRts(bool on)
{
    if (on == m_rts)
        return;
    m_rts = on;
    post({{}, SerialPortControl::EventCtsChanged});
}

void LoopbackPlug::post(Item item)
{
    m_queue.push_back(std::move(item));
    if (!m_deliveryPosted) {
        m_deliveryPosted = true;
        QMetaObject::invokeMethod(this, &LoopbackPlug::deliver, Qt::QueuedConnection);
    }
}

void LoopbackPlug::deliver()
{
    m_deliveryPosted = false;
    // Only what was queued before this delivery began goes out now; whatever a
    // receiver writes back while handling it comes round on a later turn of the
    // event loop, so an echoing receiver cannot starve the rest of the program.
    std::size_t count = m_queue.size();
    QPointer<LoopbackPlug> alive(this);
    while (count-- > 0 && !m_queue.empty()) {
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        if (item.isBreak) {
            emit breakReceived();
        } else if (item.lineCode != 0) {
            emit lineChanged(item.lineCode);
        } else {
            m_inFlight -= item.bytes.size();
            emit received(item.bytes);
        }
        if (!alive)
            return; // the receiver closed the port and so destroyed the plug
    }
    if (!m_queue.empty() && !m_deliveryPosted) {
        m_deliveryPosted = true;
        QMetaObject::invokeMethod(this, &LoopbackPlug::deliver, Qt::QueuedConnection);
    }
}
