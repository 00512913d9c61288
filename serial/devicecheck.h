#pragma once

#include <QString>

// Why the node at `path` cannot be a serial port (a regular file, a pipe,
// /dev/null, the pseudo-terminal multiplexer), or an empty string when it may
// be one. Decided from the node alone, without opening it: opening a real port
// only to look at it would pulse its DTR line (and reset a board that listens
// to DTR). A node that cannot be looked at passes, so the open itself reports
// why it fails.
QString NotSerialDeviceReason(const QString &path);
