#include "commandline.h"

#include "comportmap.h"
#include "devicecheck.h"
#include "settingsstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString kSection = QStringLiteral("Settings");

// COMn as the port list names it, in any case; 0 for "None", -1 otherwise.
int comNumber(const QString &port)
{
    if (port.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0)
        return 0;
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]?)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(port);
    if (!match.hasMatch())
        return -1;
    const int n = match.captured(1).toInt();
    return n <= ComPortMap::MaxCom ? n : -1;
}

bool isDevice(const QString &port)
{
    return port.startsWith(u'/') || port == ComPortMap::Loopback;
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments, Unknown unknown)
{
    CommandLine result;
    auto fail = [&result](const QString &why) {
        result.m_outcome = Outcome::Fail;
        result.m_message = QStringLiteral("portlark: %1\nTry 'portlark --help' for more information.\n").arg(why);
        return result;
    };

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Portlark, a serial-data analyzer and debugger: one serial port, "
                       "every byte received and sent, the DTR, RTS, CD, CTS and DSR lines."));
    // Qt's own options are single-dash words (-platform, -reverse): read as
    // words, not as runs of one-letter options, they cannot be taken for -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and exits."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Opens <port> at start: COM1 to COM32, None, a device path such as "
                                                 "/dev/ttyUSB0 (given the lowest free COM number when it has none), "
                                                 "or loopback. Saved as if chosen in the window."),
                                  QStringLiteral("port"));
    const QCommandLineOption mode(QStringLiteral("mode"),
                                  QStringLiteral("Opens the port with <mode>: baud rate, parity (N, O, E, M, S), data "
                                                 "bits (5-8), stop bits (1, 1.5, 2), such as 250000,N,8,1. Saved as if "
                                                 "chosen in the settings dialog."),
                                  QStringLiteral("mode"));
    parser.addOptions({help, version, port, mode});

    const bool clean = parser.parse(arguments);
    // A missing or unexpected value is wrong whoever's option it is.
    if (!clean && parser.unknownOptionNames().isEmpty())
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Without an application object the usage line has no program name.
        const qsizetype end = text.indexOf(u'\n');
        text.replace(0, end, QStringLiteral("Usage: portlark [options]"));
        result.m_outcome = Outcome::Print;
        result.m_message = text;
        return result;
    }
    if (parser.isSet(version)) {
        result.m_outcome = Outcome::Print;
        result.m_message = QStringLiteral("portlark %1\n").arg(QCoreApplication::applicationVersion());
        return result;
    }
    if (unknown == Unknown::Refuse) {
        if (!clean)
            return fail(parser.errorText());
        if (!parser.positionalArguments().isEmpty())
            return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));
    }

    if (parser.isSet(port)) {
        result.m_port = parser.value(port).trimmed();
        if (comNumber(result.m_port) < 0 && !isDevice(result.m_port))
            return fail(QStringLiteral("--port \"%1\" is not COM1 to COM32, None, a device path or loopback")
                            .arg(result.m_port));
    }
    if (parser.isSet(mode)) {
        QString why;
        result.m_mode = SerialMode::parse(parser.value(mode), &why);
        if (!result.m_mode)
            return fail(QStringLiteral("--mode: %1").arg(why));
    }
    return result;
}

bool CommandLine::applyTo(SettingsStore &store, QString *why) const
{
    int com = comNumber(m_port);
    if (!m_port.isEmpty() && com < 0) {
        ComPortMap ports;
        ports.readSettings(store.settings());
        // A path the map already knows is as good as its COM number; a new
        // one must be there and be a serial device, or the map would keep a
        // typing error for good.
        if (ports.comOf(m_port) == 0 && m_port != ComPortMap::Loopback) {
            if (!QFileInfo::exists(m_port)) {
                *why = QStringLiteral("--port %1: no such device").arg(m_port);
                return false;
            }
            const QString reason = NotSerialDeviceReason(m_port);
            if (!reason.isEmpty()) {
                *why = QStringLiteral("--port %1: %2").arg(m_port, reason);
                return false;
            }
        }
        com = ports.assignDevice(m_port);
        if (com == 0) {
            *why = QStringLiteral("--port %1: every COM number from COM1 to COM%2 is taken; free one in "
                                  "Session > Ports...")
                       .arg(m_port)
                       .arg(ComPortMap::MaxCom);
            return false;
        }
        ports.writeSettings(store.settings());
    }
    if (com >= 0 && !m_port.isEmpty())
        store.SaveSetting(kSection, QStringLiteral("CommPort"), QString::number(com));
    if (m_mode)
        store.SaveSetting(kSection, QStringLiteral("COMModeString"), m_mode->toString());
    return true;
}
