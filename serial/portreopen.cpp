#include "portreopen.h"

#include "flowcontrol.h"
#include "serialportcontrol.h"

bool ReopenPort(SerialPortControl &comm, const PortOpening &opening)
{
    comm.IsOpen(false);
    if (opening.port)
        comm.PortNumber(*opening.port);
    comm.ModeSettings(opening.mode);
    ApplyFlowControl(comm, opening.handshake);
    if (opening.dtr)
        comm.DtrEnabled(*opening.dtr);
    if (opening.rts)
        comm.RtsEnabled(*opening.rts);
    comm.IsOpen(true);
    return comm.IsOpen();
}
