#pragma once

// The parts of the Windows serial line that decide something, apart from the
// calls that carry it out.

#include "platform/os/serial_line.h"

#include <windows.h>

namespace nocturo {

// What an error from a port in use means. Only a Lost one ends a run from
// the line check: a driver that answers the check with something else
// (virtual and Bluetooth ports may not support it) still drives its lines.
SerialError::Reason reason_for_use(DWORD error);

// 9600 baud 8N1 with no flow control, DTR and RTS ours alone, and no
// setting left over from the program that used the port before: with
// fAbortOnError inherited, one receive error would make every later line
// change fail.
void apply_line_settings(DCB& dcb);

} // namespace nocturo
