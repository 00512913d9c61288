#pragma once

#include <QString>

#include <optional>

class SerialPortControl;

// What a port is opened with. A field left empty keeps what the control
// already holds.
struct PortOpening
{
    std::optional<int> port;
    QString mode;
    int handshake = 0; // the settings' flow-control number (ApplyFlowControl)
    std::optional<bool> dtr;
    std::optional<bool> rts;
};

// Closes the port, writes the settings to the control in the order the
// control expects them (port, mode, handshake, DTR, RTS) and opens it again.
// true when the port is open afterwards; else LastError() says why.
bool ReopenPort(SerialPortControl &comm, const PortOpening &opening);
