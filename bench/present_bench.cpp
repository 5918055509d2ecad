// One presentation pass of a fully dirty 800x1200 window (convert, put, round trip) against a memcpy of the
// same bytes plus the same round trip, on a private Xvfb.
//
//   build-*/bench/present_bench [--benchmark_filter=...]
#include "bench/ratio_report.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/screen.h"
#include "tests/x11/xvfb_server.h"
#include "x11/x11_driver.h"
#include "x11/x11_state.h"

namespace {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 1200;

void mark_all(ScreenContext& screen, const DriverHeld& held) {
    auto& entries = screen.shared.in(held).dirty_lines.entries;
    std::memset(entries.data(), 1, entries.size());
}

void BM_present_pass(benchmark::State& state) {
    ScreenContext& screen = *gfx_screen();
    X11State& x = x11_state();
    for (auto _ : state) {
        // The driver lock keeps the presenter's own pass out, as a frame's lock would.
        DriverLock held(x.shared, x.display);
        mark_all(screen, held);
        x11_present(x, x.presenter, held);
        XSync(x.display, False);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * WIDTH * HEIGHT * 4);
}
BENCHMARK(BM_present_pass);

void BM_memcpy_round_trip(benchmark::State& state) {
    ScreenContext& screen = *gfx_screen();
    X11State& x = x11_state();
    std::vector<uint8_t> copy(static_cast<size_t>(screen.pitch) * HEIGHT);
    for (auto _ : state) {
        gfx_lock();
        std::memcpy(copy.data(), screen.visible_pixels, copy.size());
        benchmark::ClobberMemory();
        XSync(x.display, False);
        gfx_unlock(NO_LINES);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * WIDTH * HEIGHT * 4);
}
BENCHMARK(BM_memcpy_round_trip);

} // namespace

int main(int argc, char** argv) {
    XvfbServer server = start_xvfb("1024x1280x24");
    if (server.pid <= 0) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    setenv("DISPLAY", display_name(server).c_str(), 1);
    x11_install_driver();
    gfx_set_mode(WIDTH, HEIGHT, 32, 1, 0, 0);
    if (!gfx_screen()) {
        stop_xvfb(server);
        return 1;
    }
    std::printf("path: %s\n", x11_uses_shared_memory() ? "MIT-SHM" : "plain XPutImage");
    RatioReporter reporter;
    bool ran = run_ratio_benchmarks(argc, argv, reporter);
    print_ratio(reporter, "presentation pass 800x1200 / memcpy + round trip", "BM_present_pass",
                "BM_memcpy_round_trip", "aim at most 3");
    gfx_close_mode();
    stop_xvfb(server);
    benchmark::Shutdown();
    return ran ? 0 : 1;
}
