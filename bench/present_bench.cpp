// One presentation pass of a fully dirty 800x1200 picture (convert, put, round trip) against a memcpy of the
// same bytes plus the same round trip, on a private Xvfb; and the same pass in a window at factor 2, whose
// every picture pixel becomes 2x2 window pixels, against the pass at factor 1: the presenter's own CPU time
// and the time with the server's round trip.
//
// Every timed pass starts with caches that hold other data, as a presenter's pass finds them after a frame
// and the server's last write. Back to back, a pass at factor 1 would find its picture still cached from
// the pass before, and one at factor 2 would not (the server writes four times the pixels in between): the
// ratio would then weigh the cache, not the presenter's work.
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

// Outside the timed part: walks a buffer larger than the last-level cache.
void leave_caches_cold(benchmark::State& state, std::vector<uint8_t>& other) {
    state.PauseTiming();
    for (size_t i = 0; i < other.size(); i += 64) other[i] = static_cast<uint8_t>(other[i] + 1);
    benchmark::ClobberMemory();
    state.ResumeTiming();
}
constexpr size_t OTHER_DATA = size_t{64} << 20;

void mark_all(ScreenContext& screen, const DriverHeld& held) {
    auto& entries = screen.shared.in(held).dirty_lines.entries;
    std::memset(entries.data(), 1, entries.size());
}

// The window at the factor; the mode is opened again when the factor changes, outside the timed loop.
int open_scale = 0;
bool open_at(int scale) {
    if (open_scale == scale && gfx_screen()) return true;
    gfx_close_mode();
    x11_set_window_fit(scale, 0);
    gfx_set_mode(WIDTH, HEIGHT, 32, 1, 0, 0);
    open_scale = gfx_screen() ? scale : 0;
    return open_scale == scale;
}

void present_passes(benchmark::State& state, int scale) {
    if (!open_at(scale)) {
        state.SkipWithError("no window");
        return;
    }
    ScreenContext& screen = *gfx_screen();
    X11State& x = x11_state();
    std::vector<uint8_t> other(OTHER_DATA, 1);
    for (auto _ : state) {
        leave_caches_cold(state, other);
        // The driver lock keeps the presenter's own pass out, as a frame's lock would.
        DriverLock held(x.shared, x.display);
        mark_all(screen, held);
        x11_present(x, x.presenter, held);
        XSync(x.display, False);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * WIDTH * HEIGHT * 4);
}

void BM_present_pass(benchmark::State& state) {
    present_passes(state, 1);
}
BENCHMARK(BM_present_pass);

void BM_present_pass_scaled_2(benchmark::State& state) {
    present_passes(state, 2);
}
BENCHMARK(BM_present_pass_scaled_2);

void BM_memcpy_round_trip(benchmark::State& state) {
    if (!gfx_screen() && !open_at(1)) {
        state.SkipWithError("no window");
        return;
    }
    ScreenContext& screen = *gfx_screen();
    X11State& x = x11_state();
    std::vector<uint8_t> copy(static_cast<size_t>(screen.pitch) * HEIGHT);
    std::vector<uint8_t> other(OTHER_DATA, 1);
    for (auto _ : state) {
        leave_caches_cold(state, other);
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
    // Room for the window at factor 2, so that the server clips none of it away.
    XvfbServer server = start_xvfb("1700x2500x24");
    if (server.pid <= 0) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    setenv("DISPLAY", display_name(server).c_str(), 1);
    x11_install_driver();
    if (!open_at(1)) {
        stop_xvfb(server);
        return 1;
    }
    std::printf("path: %s\n", x11_uses_shared_memory() ? "MIT-SHM" : "plain XPutImage");
    RatioReporter reporter;
    bool ran = run_ratio_benchmarks(argc, argv, reporter);
    print_ratio(reporter, "presentation pass 800x1200 / memcpy + round trip", "BM_present_pass",
                "BM_memcpy_round_trip", "aim at most 3");
    // The presenter's own cost, its thread's CPU time: the server does the scaling, and the round trip
    // below includes the server's writing four times the window pixels.
    print_cpu_ratio(reporter, "presenter's CPU at factor 2 / at factor 1", "BM_present_pass_scaled_2",
                    "BM_present_pass", "at most 2");
    print_ratio(reporter, "pass with round trip at factor 2 / at factor 1", "BM_present_pass_scaled_2",
                "BM_present_pass", "the server writes 4x the pixels");
    gfx_close_mode();
    stop_xvfb(server);
    benchmark::Shutdown();
    return ran ? 0 : 1;
}
