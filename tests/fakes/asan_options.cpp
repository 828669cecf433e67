// Programs under test get the modem-line recorder through LD_PRELOAD, so the
// sanitizer's runtime is not the first library loaded; that is fine here.
// No leak check: Qt's own libraries keep caches until exit that it would
// report, and under qemu, where the tests for ARM run, it cannot work at all.
extern "C" const char* __asan_default_options() {
    return "verify_asan_link_order=0:detect_leaks=0";
}
