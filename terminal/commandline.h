#pragma once

#include "serialmode.h"

#include <QString>
#include <QStringList>

#include <optional>

class SettingsStore;

// What the command line asks of one start: print the help or the version and
// leave, refuse a bad option, or start the window on a chosen port and mode.
// Parsing needs no application object, so --help and --version work without
// a display.
class CommandLine
{
public:
    enum class Outcome {
        Start, // open the window
        Print, // write message() to standard output, exit 0
        Fail,  // write message() to standard error, exit 2
    };

    // Options the parser does not know, and words that are no option, may
    // belong to Qt (-platform offscreen, -style Fusion) before the
    // application object has taken its own out: Tolerate them then, Refuse
    // them once it has.
    enum class Unknown { Tolerate, Refuse };

    static CommandLine parse(const QStringList &arguments, Unknown unknown);

    Outcome outcome() const { return m_outcome; }
    QString message() const { return m_message; }
    int exitCode() const { return m_outcome == Outcome::Fail ? 2 : 0; }

    // The port as given to --port (empty when not given) and the mode of
    // --mode, already checked.
    QString port() const { return m_port; }
    std::optional<SerialMode> mode() const { return m_mode; }

    // Makes the chosen port and mode the ones the window opens with, as if
    // they had been picked in it: the settings read at start-up are changed
    // in the store (saved with the rest), and a device path without a COM
    // number gets one in the port map. False with the reason in `why` when
    // the device cannot be a port or every COM number is taken.
    bool applyTo(SettingsStore &store, QString *why) const;

private:
    Outcome m_outcome = Outcome::Start;
    QString m_message;
    QString m_port;
    std::optional<SerialMode> m_mode;
};
