#pragma once

#include <QString>

// What the status line says about the terminal's port: which COM number,
// whether it is open, on what device and mode, and why it is closed.
struct PortState
{
    int comNumber = 0; // 1 to 32; 0 or less: no port selected ("None")
    bool open = false;
    QString device;           // the device behind the COM number
    QString mode;             // the mode string in force while open
    QString problem;          // why the port is closed: the control's LastError after a failed open or a loss
    bool nothingSent = false; // Send was pressed on the closed port
    bool waiting = false;     // closed because the device went away, and waiting for it to come back
    qint64 backAfterMs = -1;  // open again by itself after the device was gone this long; -1: not a return
};

// The status line for `state`: "COM1 open: /dev/ttyUSB0 at 115200,N,8,1",
// "COM1 closed: the device was disconnected", "No port open", "COM1 waiting
// for /dev/ttyUSB0 to come back", "COM1 open: /dev/ttyUSB0 at
// 115200,N,8,1 (back after 3.2 s)". The device is
// named once; a problem is given without the device that the control's
// message starts with and without the system's detail in parentheses
// (the error box and the tool tip carry the whole message).
QString PortStateText(const PortState &state);
