#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The rate a terminal device really runs at, as its driver reports it. A
// driver that cannot make the rate asked for (a UART whose clock does not
// reach it, an adapter with a list of its own) does not fail the request: it
// settles on another rate and says so only in what it reports back.

// The output rate in force on the open terminal device `fd` (termios2), or
// nullopt when the device does not say.
std::optional<qint32> ReadLineRate(int fd);

// Why the device `fd`, asked for `rate`, does not run at it ("the device does
// not accept 3000000 baud (its driver set 115200)"); empty when it does, or
// when it cannot tell.
QString LineRateRefusal(int fd, qint32 rate);
