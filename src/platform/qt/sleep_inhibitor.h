#pragma once

#include <memory>

namespace nocturo {

// Keeps the computer from sleeping or idling into a screen lock that could
// suspend it while a series runs. Where the system offers no way to ask (no
// system bus, as on a build server), holding it does nothing.
class SleepInhibitor {
public:
    SleepInhibitor();
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    void hold();
    void release();

    // Holds the inhibitor for as long as it lives.
    class Hold {
    public:
        explicit Hold(SleepInhibitor& inhibitor) : inhibitor_(inhibitor) { inhibitor_.hold(); }
        ~Hold() { inhibitor_.release(); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        SleepInhibitor& inhibitor_;
    };

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace nocturo
