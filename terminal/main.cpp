#include "comportmap.h"
#include "mainform.h"
#include "realserialportcontrol.h"
#include "sessioncontroller.h"
#include "settingsstore.h"
#include "shutdownsignals.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Portlark"));
    QApplication::setOrganizationName(QStringLiteral("Nerova"));

    SettingsStore store;
    ComPortMap ports;
    MainForm window(new RealSerialPortControl(&ports), &store, &ports);
    ShutdownSignals shutdown(&window);
    window.Form_Load();
    // A signal while start-up still ran (its error box open) ends it here.
    if (shutdown.requested()) {
        window.close();
        return 0;
    }
    window.show();
    // A crashed run's session record is offered back once the window is up.
    if (auto *session = window.findChild<SessionController *>())
        QTimer::singleShot(0, session, &SessionController::offerOrphanedSpools);
    return app.exec();
}
