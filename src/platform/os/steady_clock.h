#pragma once

#include "platform/controls.h"

#include <functional>

namespace nocturo {

// Seconds since local midnight that never jump. The local time of day is read
// once, when the clock is made; from then on it is advanced by a monotonic
// clock and folded at 86400. Daylight saving changes and a system time that
// is set or stepped during the night therefore neither cut a wait short nor
// stretch it.
class SteadyDayClock : public Clock {
public:
    using Source = std::function<double()>;

    // wall: local seconds since midnight; monotonic: any steadily rising seconds.
    SteadyDayClock(Source wall, Source monotonic);
    static SteadyDayClock system();

    float timer() override;
    // The same reading at full precision, for the event pump's deadlines.
    double now();

private:
    Source monotonic_;
    double day_offset_;
    double monotonic_origin_;
};

// The two sources the program uses.
double local_seconds_since_midnight();
double monotonic_seconds();

} // namespace nocturo
