#include "platform/os/serial_line.h"

namespace nocturo {

void SerialLine::release_rts_after_open() {
    try {
        set_rts(false);
    } catch (const SerialError&) {
        try {
            close();
        } catch (const SerialError&) {
            // The refusal to release RTS is the error worth reporting.
        }
        throw;
    }
}

} // namespace nocturo
