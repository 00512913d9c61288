#include "commandline.h"
#include "comportmap.h"
#include "displaysetup.h"
#include "mainform.h"
#include "realserialportcontrol.h"
#include "sessioncontroller.h"
#include "settingsstore.h"
#include "shutdownsignals.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

namespace {

// Help and version go to standard output, a refused option to standard error.
int finish(const CommandLine &commandLine)
{
    std::FILE *stream = commandLine.outcome() == CommandLine::Outcome::Print ? stdout : stderr;
    std::fputs(commandLine.message().toLocal8Bit().constData(), stream);
    return commandLine.exitCode();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationVersion(QStringLiteral(PORTLARK_VERSION));

    // Read before any application object exists, so that --help, --version
    // and a bad option answer without a display (over ssh, in a package test).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine early = CommandLine::parse(arguments, CommandLine::Unknown::Tolerate);
    if (early.outcome() != CommandLine::Outcome::Start)
        return finish(early);

    DisplaySetup::Prepare();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Portlark"));
    QApplication::setOrganizationName(QStringLiteral("Nerova"));
    // The installed desktop entry: a Wayland desktop finds the window's menu
    // entry and icon by it (X11 ones by the window class, "Portlark").
    QApplication::setDesktopFileName(QStringLiteral("example.nerova.Portlark"));

    // Qt has taken its own options out: anything left over is a mistake.
    const CommandLine commandLine = CommandLine::parse(QApplication::arguments(), CommandLine::Unknown::Refuse);
    if (commandLine.outcome() != CommandLine::Outcome::Start)
        return finish(commandLine);

    SettingsStore store;
    QString why;
    if (!commandLine.applyTo(store, &why)) {
        std::fprintf(stderr, "portlark: %s\n", why.toLocal8Bit().constData());
        return 2;
    }
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
