#include "replugwiring.h"

#include "portreplug.h"
#include "serialportcontrol.h"
#include "settingsstore.h"

#include <QAction>
#include <QMenu>
#include <QSettings>

ReplugWiring::ReplugWiring(SerialPortControl &comm, const ComPortMap &map, QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_replug(new PortReplug(comm, map, this))
{
    m_action = menu->addAction(QStringLiteral("Reopen &When Plugged Back"));
    m_action->setObjectName(QStringLiteral("mnuReopenPluggedBack"));
    m_action->setCheckable(true);
    m_action->setChecked(m_replug->isEnabled());
    m_action->setStatusTip(QStringLiteral("When the open device goes away, wait for it and reopen the port "
                                          "as it was when it comes back"));
    connect(m_action, &QAction::toggled, this, &ReplugWiring::setEnabled);
    connect(m_replug, &PortReplug::reopened, this, [this](qint64 goneMs) {
        m_lost = false;
        emit reopened(goneMs);
    });
}

ReplugWiring::~ReplugWiring() = default;

void ReplugWiring::setOpeningSource(std::function<PortOpening()> source)
{
    m_replug->setOpeningSource(std::move(source));
}

void ReplugWiring::readSettings(const QSettings &settings)
{
    const QString text = settings.value(SettingsGroup + u'/' + SettingsKey, QStringLiteral("1")).toString();
    m_action->setChecked(ReadStoredNumber(text, 0, 1, 1) == 1);
}

void ReplugWiring::writeSettings(QSettings &settings) const
{
    settings.setValue(SettingsGroup + u'/' + SettingsKey,
                      m_action->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void ReplugWiring::portChosen(bool opened)
{
    m_lost = false;
    if (opened)
        m_replug->portOpened();
    else
        m_replug->cancel();
}

bool ReplugWiring::portLost()
{
    m_lost = true;
    return m_replug->portLost();
}

void ReplugWiring::stop()
{
    m_lost = false;
    m_replug->cancel();
}

bool ReplugWiring::isWaiting() const
{
    return m_replug->isWaiting();
}

void ReplugWiring::setEnabled(bool enabled)
{
    const bool waiting = m_replug->isWaiting();
    m_replug->setEnabled(enabled);
    // Switched on after a loss, the wait starts now, for the device lost.
    if (enabled && m_lost && !m_comm.IsOpen())
        m_replug->portLost();
    if (m_replug->isWaiting() != waiting)
        emit waitingChanged();
}
