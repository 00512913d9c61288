#include "loopbackbackend.h"

#include "loopbackplug.h"
#include "modemlinewatch.h"

LoopbackBackend::~LoopbackBackend()
{
    close();
}

bool LoopbackBackend::open(const OpenSettings &settings, QString *)
{
    close();
    m_path = settings.device;
    m_counters = LineObserver::ErrorCounters();
    m_plug = new LoopbackPlug(settings.dtr, settings.rts, this);
    connect(m_plug, &LoopbackPlug::received, this, [this](const QByteArray &bytes) {
        emit received(bytes);
        emit pendingChanged();
    });
    connect(m_plug, &LoopbackPlug::lineChanged, this, [this](int code) { emit linesChanged(lines(), {code}); });
    connect(m_plug, &LoopbackPlug::breakReceived, this, [this] {
        ++m_counters.breaks;
        emit countersChanged();
        emit received(QByteArray(1, '\0'));
    });
    return true;
}

QByteArray LoopbackBackend::close()
{
    if (m_plug) {
        m_plug->disconnect(this);
        // Bytes still going round the plug are lost, as on a real plug whose
        // port is closed while they are on the wire.
        m_plug->deleteLater();
        m_plug = nullptr;
    }
    return QByteArray();
}

void LoopbackBackend::setDtr(bool on)
{
    if (m_plug)
        m_plug->setDtr(on);
}

void LoopbackBackend::setRts(bool on)
{
    if (m_plug)
        m_plug->setRts(on);
}

int LoopbackBackend::lines() const
{
    using Line = ModemLineWatch::LineState;
    if (!m_plug)
        return 0;
    return (m_plug->carrierDetect() ? Line::Cd : 0) | (m_plug->clearToSend() ? Line::Cts : 0)
           | (m_plug->dataSetReady() ? Line::Dsr : 0);
}

void LoopbackBackend::write(const QByteArray &bytes)
{
    if (!m_plug)
        return;
    emit sent(bytes); // the plug takes the bytes at once: they are on its wire
    m_plug->write(bytes);
    emit pendingChanged();
}

qint64 LoopbackBackend::pending() const
{
    return m_plug ? m_plug->bytesInFlight() : 0;
}

void LoopbackBackend::drop()
{
    if (!m_plug)
        return;
    m_plug->dropInFlight();
    emit pendingChanged();
}

bool LoopbackBackend::setBreak(bool on)
{
    if (!m_plug)
        return false;
    if (on)
        m_plug->sendBreak();
    return true;
}

bool LoopbackBackend::errorCounters(LineObserver::ErrorCounters *counters) const
{
    if (!m_plug)
        return false;
    *counters = m_counters;
    return true;
}
