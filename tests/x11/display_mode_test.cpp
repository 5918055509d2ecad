// Full screen on Xorg with the dummy video driver, whose RandR sizes are real: Alt+Enter switches the
// display's size, and every way out of full screen puts the display back, read from an observer connection.
// The driver runs in this process; the program runs as its own binary with fake network tools.
// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "gfx/input.h"
#include "gfx/screen.h"
#include "tests/app/test_support.h"
#include "x11/x11_driver.h"
#include "x_test_support.h"
#include "xorg_server.h"

namespace {

// The display's size in force as RandR reports it to a client, and its rate.
struct DisplayMode {
    int width = 0, height = 0, rate = 0;
    bool operator==(const DisplayMode&) const = default;
};

std::ostream& operator<<(std::ostream& out, const DisplayMode& mode) {
    return out << mode.width << "x" << mode.height << "@" << mode.rate;
}

DisplayMode mode_of(Display* observer) {
    XRRScreenConfiguration* config = XRRGetScreenInfo(observer, DefaultRootWindow(observer));
    if (!config) return {};
    Rotation rotation = 0;
    int index = XRRConfigCurrentConfiguration(config, &rotation);
    int count = 0;
    XRRScreenSize* sizes = XRRConfigSizes(config, &count);
    DisplayMode mode;
    if (index >= 0 && index < count)
        mode = {sizes[index].width, sizes[index].height, XRRConfigCurrentRate(config)};
    XRRFreeScreenConfigInfo(config);
    return mode;
}

// Another size and rate, as its user may have chosen them (xrandr -s 800x600 -r 60).
bool set_display(Display* observer, const DisplayMode& mode) {
    Window root = DefaultRootWindow(observer);
    XRRScreenConfiguration* config = XRRGetScreenInfo(observer, root);
    if (!config) return false;
    Rotation rotation = 0;
    XRRConfigCurrentConfiguration(config, &rotation);
    int count = 0;
    XRRScreenSize* sizes = XRRConfigSizes(config, &count);
    Status status = RRSetConfigFailed;
    for (int i = 0; i < count; ++i)
        if (sizes[i].width == mode.width && sizes[i].height == mode.height)
            status = XRRSetScreenConfigAndRate(observer, config, root, i, rotation,
                                               static_cast<short>(mode.rate), CurrentTime);
    XRRFreeScreenConfigInfo(config);
    return status == RRSetConfigSuccess;
}

bool same_size(const DisplayMode& mode, int width, int height) {
    return mode.width == width && mode.height == height;
}

// A private Xorg at 1280x1024 for each test: a case that leaves the display in another size must not decide
// the next one. DISPLAY names it while the test runs.
class OnXorg : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string reason = xorg_unavailable();
        if (!reason.empty()) GTEST_SKIP() << reason;
        x11_install_driver(); // before the first Xlib call: the driver's presenter shares the library
        server = start_xorg(xorg_dir.path());
        ASSERT_GT(server.pid, 0) << "Xorg did not start:\n" << xorg_errors(xorg_dir.path());
        display_env.emplace("DISPLAY", display_name(server));
        korvid.emplace("KORVID", std::nullopt);
        observer = XOpenDisplay(display_name(server).c_str());
        ASSERT_NE(observer, nullptr);
        XSetErrorHandler(observer_error);
        initial = mode_of(observer);
        ASSERT_TRUE(same_size(initial, 1280, 1024)) << initial;
    }
    void TearDown() override {
        if (observer) XCloseDisplay(observer);
        stop_xvfb(server);
    }

    TempDir xorg_dir;
    XvfbServer server;
    std::optional<ScopedEnv> display_env, korvid;
    Display* observer = nullptr;
    DisplayMode initial;
};

// The driver in this process, on the test's Xorg.
class DriverOnXorg : public OnXorg {
  protected:
    void open(int width, int height, int flags, int rate) {
        gfx_set_mode(width, height, 32, 1, flags, rate);
        screen = gfx_screen();
        ASSERT_NE(screen, nullptr);
        ASSERT_STREQ(screen->driver->name, "X11");
        window = x11_drawing_window();
    }
    void TearDown() override {
        if (screen) gfx_close_mode();
        screen = nullptr;
        while (next_key() != 0) {
        }
        OnXorg::TearDown();
    }
    // Without a window manager nobody gives the window the focus: the test does, as a manager would. The
    // driver gets the focus event before any key typed afterwards.
    void focus() {
        XSetInputFocus(observer, window, RevertToPointerRoot, CurrentTime);
        XSync(observer, False);
        Window focused = 0;
        int revert = 0;
        XGetInputFocus(observer, &focused, &revert);
        ASSERT_EQ(focused, window);
    }
    bool full_screen(int height) {
        XWindowAttributes a{};
        return XGetWindowAttributes(observer, parent_of(observer, window), &a) && a.override_redirect &&
               a.map_state == IsViewable && a.x == 0 && a.y == 0 && a.width == screen->width &&
               a.height == height;
    }
    bool windowed() { return parent_of(observer, window) == x11_frame_window(); }
    // The first pixel where the drawing window differs from the framebuffer, "" when none does.
    std::string compare_picture() {
        XImage* image = XGetImage(observer, window, 0, 0, static_cast<unsigned>(screen->width),
                                  static_cast<unsigned>(screen->height), AllPlanes, ZPixmap);
        if (!image) return "no image";
        const auto* pixels = reinterpret_cast<const uint32_t*>(screen->visible_pixels);
        std::string difference;
        for (int y = 0; y < screen->height && difference.empty(); ++y)
            for (int x = 0; x < screen->width && difference.empty(); ++x)
                if ((XGetPixel(image, x, y) & 0xFFFFFF) != (pixels[y * screen->width + x] & 0xFFFFFF))
                    difference = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
        XDestroyImage(image);
        return difference;
    }
    // What the observer sees, for the message of a step that did not come about.
    std::string seen() {
        std::ostringstream text;
        Window focused = 0;
        int revert = 0;
        XGetInputFocus(observer, &focused, &revert);
        text << "display " << mode_of(observer) << ", picture "
             << (windowed()                    ? "windowed"
                 : full_screen(screen->height) ? "full screen"
                                               : "elsewhere")
             << ", " << grabs_held(observer) << ", focus "
             << (focused == window ? "on the picture"
                 : focused == None ? "None"
                                   : "elsewhere");
        return text.str();
    }

    ScreenContext* screen = nullptr;
    Window window = 0;
};

TEST_F(DriverOnXorg, AltEnterSwitchesTheDisplayAndBackAgainAndAgain) {
    open(800, 200, 0, 0);
    draw_pattern(*screen, 0x33);
    focus();
    // Only the first needs the test's focus: without a window manager, leaving full screen must still leave
    // the keys to the picture.
    struct Step {
        const char* what;
        bool full;
    };
    for (Step step :
         {Step{"first Alt+Enter", true}, Step{"second Alt+Enter", false}, Step{"third Alt+Enter", true}}) {
        xdotool("key alt+Return");
        if (step.full) {
            // Polled without grabbing: a keyboard grab of the test's at the wrong moment refuses the switch.
            ASSERT_TRUE(eventually([&] {
                return same_size(mode_of(observer), 800, 200) && full_screen(200) &&
                       compare_picture().empty();
            })) << step.what
                << ": " << seen();
            // The picture is sent after the grabs, so they are in force by now.
            EXPECT_EQ(grabs_held(observer), BOTH_GRABBED) << step.what;
        } else {
            ASSERT_TRUE(eventually([&] {
                return mode_of(observer) == initial && windowed() && grabs_held(observer) == NONE_GRABBED &&
                       compare_picture().empty();
            })) << step.what
                << ": " << seen();
        }
    }
}

// Closing the mode in full screen, whether Alt+Enter or the mode itself asked for it, gives the display back
// in the size and rate it had, with nothing grabbed.
TEST_F(DriverOnXorg, ClosingInFullScreenRestoresTheDisplay) {
    struct Case {
        const char* what;
        int width, height, flags, rate;
    } const cases[] = {
        {"800x200 after Alt+Enter", 800, 200, 0, 0},
        {"800x600 at 60 Hz opened in full screen", 800, 600, 1, 60},
    };
    for (const Case& c : cases) {
        open(c.width, c.height, c.flags, c.rate);
        draw_pattern(*screen, 0x44);
        if (!c.flags) {
            focus();
            xdotool("key alt+Return");
        }
        ASSERT_TRUE(eventually([&] {
            DisplayMode mode = mode_of(observer);
            return same_size(mode, c.width, c.height) && (!c.rate || mode.rate == c.rate) &&
                   full_screen(c.height) && compare_picture().empty();
        })) << c.what
            << ": " << seen();
        EXPECT_EQ(grabs_held(observer), BOTH_GRABBED) << c.what;
        gfx_close_mode();
        screen = nullptr;
        // The restore is a request with a reply, answered before close returns.
        EXPECT_EQ(mode_of(observer), initial) << c.what;
        Grabs grabs;
        EXPECT_TRUE(eventually([&] { return (grabs = grabs_held(observer)) == NONE_GRABBED; }))
            << c.what << ": " << grabs;
    }
}

// The user runs the display at 60 Hz where the server lists another rate first for the size: a mode that
// named no rate must still come back to 60 Hz, by Alt+Enter as by closing. Also when the display already
// has the picture's size: the switch then changes nothing but the rate, and that must be put back too.
TEST_F(DriverOnXorg, LeavingFullScreenKeepsTheRateTheDisplayRanAt) {
    struct Case {
        const char* what;
        DisplayMode before;
        int width, height;
    } const cases[] = {
        {"another size", {1280, 1024, 60}, 800, 200},
        {"the picture's size", {800, 600, 60}, 800, 600},
    };
    for (const Case& c : cases) {
        for (bool by_closing : {false, true}) {
            const std::string what = std::string(c.what) + (by_closing ? ", closing" : ", Alt+Enter");
            ASSERT_TRUE(set_display(observer, c.before)) << what;
            ASSERT_EQ(mode_of(observer), c.before) << what;
            open(c.width, c.height, 0, 0);
            draw_pattern(*screen, 0x66);
            focus();
            xdotool("key alt+Return");
            ASSERT_TRUE(eventually([&] {
                return same_size(mode_of(observer), c.width, c.height) && full_screen(c.height) &&
                       compare_picture().empty();
            })) << what
                << ": " << seen();
            // Otherwise this case shows nothing: the server's first rate for the size is another one.
            ASSERT_NE(mode_of(observer).rate, 60) << what;
            if (by_closing) {
                gfx_close_mode();
                screen = nullptr;
                EXPECT_EQ(mode_of(observer), c.before) << what;
            } else {
                xdotool("key alt+Return");
                DisplayMode mode;
                EXPECT_TRUE(eventually([&] { return windowed() && (mode = mode_of(observer)) == c.before; }))
                    << what << ": " << mode;
                gfx_close_mode();
                screen = nullptr;
            }
        }
    }
}

constexpr uint32_t BUTTON_FACE = 0x0066CC; // the reload button at the top left of the first panel

// The velmora binary as a user starts it from a terminal, with three servers probed by fake tools: its window
// is 800x600, which the display also offers.
class ProgramOnXorg : public OnXorg, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        OnXorg::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        home.emplace("HOME", config_dir.path());
        tools.replay("nslookup", fixture("nslookup_localhost.txt"));
        tools.replay("nmap", fixture("nmap_ftp_ssh.txt"));
        tools.replay("ping", fixture("ping_127.txt"));
        tools.replay("httping", fixture("httping_127.txt"));
        config_dir.write("velmora.cfg", "Terminal:true\nProxy:\n127.0.0.1\n127.0.0.2\n127.0.0.3\n");
        int errors[2];
        ASSERT_EQ(pipe(errors), 0);
        velmora = fork();
        if (velmora == 0) {
            // A shell starts its foreground program with the signals at their defaults, whatever it
            // ignores itself.
            for (int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            if (chdir(config_dir.path().c_str()) != 0) _exit(126);
            int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(errors[1], STDERR_FILENO);
            execl(VELMORA_BIN, VELMORA_BIN, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(errors[1]);
        error_fd = errors[0];
        fcntl(error_fd, F_SETFL, fcntl(error_fd, F_GETFL) | O_NONBLOCK);
    }
    void TearDown() override {
        if (velmora > 0) {
            kill(velmora, SIGKILL);
            waitpid(velmora, nullptr, 0);
        }
        if (error_fd >= 0) close(error_fd);
        OnXorg::TearDown();
    }
    std::size_t pings() const {
        const std::vector<std::string> calls = tools.calls();
        return static_cast<std::size_t>(std::count_if(
            calls.begin(), calls.end(), [](const std::string& call) { return call.starts_with("ping "); }));
    }
    std::string errors() {
        char buffer[512];
        for (ssize_t n; (n = read(error_fd, buffer, sizeof buffer)) > 0;)
            error_text.append(buffer, static_cast<size_t>(n));
        return error_text;
    }

    TempDir config_dir;
    FakeTools tools;
    std::optional<ScopedEnv> home;
    pid_t velmora = -1;
    int error_fd = -1;
    std::string error_text;
};

// What the program promises for a stop, from the signal to its end.
constexpr auto STOP_LIMIT = std::chrono::seconds(1);

// Ended by a signal in full screen while a probe's tool stalls, the program leaves within a second as closing
// the window does: status 0, the display back in its size and rate, no grab held, its shared segment gone.
TEST_P(ProgramOnXorg, ASignalInFullScreenEndsTheProgramAndRestoresTheDisplay) {
    const int signal_number = GetParam();
    Window frame = 0, picture = 0;
    ASSERT_TRUE(eventually(
        [&] {
            frame = find_named(observer, DefaultRootWindow(observer), "Zeige 3 Server");
            picture = frame ? only_child_of(observer, frame) : 0;
            return picture && viewable(observer, frame) && viewable(observer, picture);
        },
        std::chrono::seconds(20)))
        << "no window titled Zeige 3 Server\n"
        << errors();
    XWindowAttributes attributes{};
    XGetWindowAttributes(observer, picture, &attributes);
    ASSERT_EQ(attributes.width, 800);
    ASSERT_EQ(attributes.height, 600);
    XSetInputFocus(observer, picture, RevertToPointerRoot, CurrentTime);
    XSync(observer, False);
    xdotool("key alt+Return");
    // Full screen maps the picture anew, so the button's face appears only once the switch is done.
    ASSERT_TRUE(eventually([&] {
        XWindowAttributes full{};
        return same_size(mode_of(observer), 800, 600) &&
               XGetWindowAttributes(observer, parent_of(observer, picture), &full) &&
               full.override_redirect && viewable(observer, picture) &&
               pixel(observer, picture, 5, 5) == BUTTON_FACE;
    })) << "display "
        << mode_of(observer) << ", " << grabs_held(observer);
    EXPECT_EQ(grabs_held(observer), BOTH_GRABBED);
    ASSERT_EQ(shm_segment_modes_of(velmora).value_or(std::vector<int>{}).size(), 1u);
    // The signal comes while the frame waits for a ping that stalls (it would for 20 s).
    tools.hold("ping");
    const std::size_t pings_before = pings();
    ASSERT_TRUE(eventually([&] { return pings() > pings_before; })) << "no ping ran";

    ASSERT_EQ(kill(velmora, signal_number), 0);
    pid_t ended = velmora;
    int status = -1;
    ASSERT_TRUE(eventually([&] { return waitpid(velmora, &status, WNOHANG) == velmora; }, STOP_LIMIT))
        << "still running " << STOP_LIMIT.count() << " s after the signal";
    velmora = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                : "status " + std::to_string(WEXITSTATUS(status)))
        << "\n"
        << errors();
    // The restore, if any, was a request with a reply, answered before the process ended.
    EXPECT_EQ(mode_of(observer), initial);
    Grabs grabs;
    EXPECT_TRUE(eventually([&] { return (grabs = grabs_held(observer)) == NONE_GRABBED; })) << grabs;
    EXPECT_TRUE(eventually([&] { return shm_segment_modes_of(ended) == std::vector<int>{}; }));
    EXPECT_EQ(errors().find("Sanitizer"), std::string::npos) << errors();
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramOnXorg, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

using ProgramErrorOnXorg = ProgramOnXorg;

// An X protocol error ends the program at once, from whichever thread meets it; before that the display
// gets its size and rate back, through a connection of the handler's own. The error here is the one a
// client meets when its window is destroyed under it.
TEST_F(ProgramErrorOnXorg, AnXErrorInFullScreenRestoresTheDisplayBeforeTheProcessEnds) {
    Window frame = 0, picture = 0;
    ASSERT_TRUE(eventually(
        [&] {
            frame = find_named(observer, DefaultRootWindow(observer), "Zeige 3 Server");
            picture = frame ? only_child_of(observer, frame) : 0;
            return picture && viewable(observer, frame) && viewable(observer, picture);
        },
        std::chrono::seconds(20)))
        << "no window titled Zeige 3 Server\n"
        << errors();
    XSetInputFocus(observer, picture, RevertToPointerRoot, CurrentTime);
    XSync(observer, False);
    xdotool("key alt+Return");
    ASSERT_TRUE(eventually([&] {
        return same_size(mode_of(observer), 800, 600) && viewable(observer, picture) &&
               pixel(observer, picture, 5, 5) == BUTTON_FACE;
    })) << "display "
        << mode_of(observer);

    XDestroyWindow(observer, picture);
    XSync(observer, False);
    int status = -1;
    ASSERT_TRUE(eventually([&] { return waitpid(velmora, &status, WNOHANG) == velmora; })) << "still running";
    velmora = -1;
    const std::string said = errors();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << said;
    EXPECT_NE(said.find("Der X-Server meldet einen Fehler"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    // The restore was a request with a reply, answered before the process ended.
    EXPECT_EQ(mode_of(observer), initial);
    Grabs grabs;
    EXPECT_TRUE(eventually([&] { return (grabs = grabs_held(observer)) == NONE_GRABBED; })) << grabs;
}

} // namespace
