#include "comportmap.h"
#include "mainform.h"
#include "realserialportcontrol.h"
#include "settingsstore.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Portlark"));
    QApplication::setOrganizationName(QStringLiteral("Nerova"));

    SettingsStore store;
    ComPortMap ports;
    MainForm window(new RealSerialPortControl(&ports), &store, &ports);
    window.Form_Load();
    window.show();
    return app.exec();
}
