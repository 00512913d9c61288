#pragma once

class SerialPortControl;

// Turns the flow-control number of the settings into writes to the control:
// 0, 1, 2 write that FlowControl with RTS on; 3 writes no handshaking with RTS
// off; any other value writes nothing, so the control keeps what it had.
void ApplyFlowControl(SerialPortControl &comm, int handshakeMode);
