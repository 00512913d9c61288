#include "flowcontrol.h"

#include "serialportcontrol.h"

void ApplyFlowControl(SerialPortControl &comm, int handshakeMode)
{
    switch (handshakeMode) {
    case 0:
    case 1:
    case 2:
        comm.FlowControl(handshakeMode);
        comm.RtsEnabled(true);
        break;
    case 3:
        comm.FlowControl(0);
        comm.RtsEnabled(false);
        break;
    default:
        break;
    }
}
