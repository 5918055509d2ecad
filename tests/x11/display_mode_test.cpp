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
#include <vector>

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

    Window focus_now() {
        Window focused = 0;
        int revert = 0;
        XGetInputFocus(observer, &focused, &revert);
        return focused;
    }
    std::string name_of_focus(Window w) {
        return w == PointerRoot          ? "the pointer root"
               : w == None               ? "None"
               : w == window             ? "the picture"
               : w == x11_frame_window() ? "the frame"
                                         : "another window";
    }
    // A key typed now reaches the program after every event before it: once it is read, the window's
    // events so far are handled. A key that comes while the window has no focus is dropped, so it is typed
    // again until one arrives.
    bool key_read() {
        return eventually([&] {
            xdotool("key z");
            std::string key;
            bool read =
                eventually([&] { return (key = input_read_key()) == "z"; }, std::chrono::milliseconds(300));
            while (!input_read_key().empty()) {
            }
            return read;
        });
    }
    // The focus a manager gives a new window, or the test's: the picture, or the pointer root with the
    // pointer over the picture. The program has it once a key reaches it.
    void give_focus(bool managed, bool pointer_root) {
        if (managed) {
            ASSERT_TRUE(eventually([&] {
                Window w = focus_now();
                return w == window || w == x11_frame_window();
            })) << "the manager gave the window no focus: "
                << name_of_focus(focus_now());
        } else if (pointer_root) {
            XSetInputFocus(observer, PointerRoot, RevertToPointerRoot, CurrentTime);
            XSync(observer, False);
        } else {
            focus();
        }
        xdotool("mousemove --window " + std::to_string(window) + " 100 50");
        ASSERT_TRUE(key_read()) << "no key reaches the program";
    }
    // A new picture in the framebuffer without marking a line, once the presenter has sent every line marked
    // before: nothing sends it until the presenter marks them all, which a switch does once it is over. With
    // the window's events all handled beforehand, the picture in the window tells that a switch asked for
    // since has ended, the focus given back included.
    void draw_unmarked(uint32_t salt) {
        ASSERT_TRUE(eventually([&] {
            gfx_lock();
            bool clean = false;
            {
                SharedLock held; // the presenter reads the page too
                const std::vector<uint8_t>& dirty = screen->shared.in(held).dirty_lines.entries;
                clean = std::all_of(dirty.begin(), dirty.end(), [](uint8_t d) { return d == 0; });
                auto* pixels = reinterpret_cast<uint32_t*>(screen->visible_pixels);
                for (int i = 0; clean && i < screen->width * screen->height; ++i)
                    pixels[i] = 0xFF000000u | ((static_cast<uint32_t>(i) * 7 + salt) & 0xFFFFFF);
            }
            gfx_unlock(NO_LINES);
            return clean;
        })) << "lines stay marked";
    }
    // Out of full screen: the display as it was, nothing grabbed, the picture in its frame of the mode's
    // size; a manager that shows the frame full screen once more after that would switch again.
    bool back_in_window(int width, int height) {
        return eventually([&] {
            XWindowAttributes frame{};
            return mode_of(observer) == initial && grabs_held(observer) == NONE_GRABBED && windowed() &&
                   XGetWindowAttributes(observer, x11_frame_window(), &frame) && frame.width == width &&
                   frame.height == height && compare_picture().empty();
        });
    }
    // The picture on the whole display: in the override-redirect window, or in the frame its manager made
    // full screen.
    bool shown_full_screen(bool managed, int height) {
        if (!managed) return full_screen(height);
        Window root = DefaultRootWindow(observer), child = 0;
        int left = -1, top = -1;
        XWindowAttributes frame{};
        return XTranslateCoordinates(observer, window, root, 0, 0, &left, &top, &child) && left == 0 &&
               top == 0 && XGetWindowAttributes(observer, x11_frame_window(), &frame) &&
               frame.map_state == IsViewable && frame.width == screen->width && frame.height == height;
    }
    // Where the switch puts the pointer before it grabs it: the middle of the full-screen picture.
    bool pointer_warped(int fullscreen_height) {
        Window root = 0, child = 0;
        int root_x = 0, root_y = 0, x = 0, y = 0;
        unsigned mask = 0;
        return XQueryPointer(observer, window, &root, &child, &root_x, &root_y, &x, &y, &mask) &&
               x == screen->width / 2 && y == fullscreen_height / 2;
    }

    ScreenContext* screen = nullptr;
    Window window = 0;
};

// Where the window tests run: no window manager, or openbox.
constexpr bool DESKTOPS[] = {false, true};
const char* desktop_name(bool managed) {
    return managed ? "openbox" : "no window manager";
}

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

// Full screen in and out, or a try refused at once (no display size fits 640x480), leaves the focus where it
// was: the pointer root stays the pointer root (the keys follow the pointer to any window again), a window
// keeps its focus, whether nobody or openbox manages the windows.
TEST_F(DriverOnXorg, TheFocusIsAsBeforeAfterFullScreenAndAfterARefusedTry) {
    struct Case {
        const char* what;
        bool managed, pointer_root;
        int width, height, presses;
    } const cases[] = {
        {"pointer root, in and out", false, true, 800, 200, 4},
        {"the picture's, in and out", false, false, 800, 200, 4},
        {"pointer root, refused", false, true, 1000, 300, 1},
        {"the picture's, refused", false, false, 1000, 300, 1},
        {"openbox's, in and out", true, false, 800, 200, 4},
        {"openbox's, refused", true, false, 1000, 300, 1},
    };
    std::optional<WindowManagerProcess> manager;
    for (const Case& c : cases) {
        const std::string what = std::string(desktop_name(c.managed)) + ", focus " + c.what;
        if (c.managed && !manager) {
            manager.emplace("/usr/bin/openbox", observer);
            ASSERT_TRUE(manager->running) << "openbox did not start";
        }
        open(c.width, c.height, 0, 0);
        draw_pattern(*screen, 0x21);
        give_focus(c.managed, c.pointer_root);
        if (HasFatalFailure()) return;
        const Window before = focus_now();
        for (int press = 0; press < c.presses; ++press) {
            draw_unmarked(0x100u * static_cast<uint32_t>(press + 1));
            xdotool("key alt+Return");
            ASSERT_TRUE(eventually([&] { return compare_picture().empty(); }))
                << what << ", Alt+Enter " << press + 1 << ": " << seen();
            if (press + 1 == c.presses) break;
            // As a user sees it before pressing the keys again: in full screen or back, and the keys arrive.
            if (press % 2 == 0) {
                ASSERT_TRUE(eventually([&] {
                    return same_size(mode_of(observer), c.width, c.height) &&
                           shown_full_screen(c.managed, c.height);
                })) << what
                    << ", Alt+Enter " << press + 1 << ": " << seen();
                EXPECT_EQ(grabs_held(observer), BOTH_GRABBED) << what;
            } else {
                ASSERT_TRUE(back_in_window(c.width, c.height))
                    << what << ", Alt+Enter " << press + 1 << ": " << seen();
            }
            ASSERT_TRUE(key_read()) << what << ", Alt+Enter " << press + 1 << ": no key reaches the program";
        }
        // A manager's own events may send the picture before the switch is over: the way back is awaited.
        ASSERT_TRUE(back_in_window(c.width, c.height)) << what << ": " << seen();
        // Without a manager the focus is given back before the picture is sent; a manager's focus may come
        // a moment later.
        EXPECT_TRUE(eventually([&] { return focus_now() == before; }, std::chrono::seconds(2)))
            << what << ": focus " << name_of_focus(focus_now()) << ", not " << name_of_focus(before);
        gfx_close_mode();
        screen = nullptr;
    }
}

// Another client holds the pointer (a menu, a screen locker): Alt+Enter is refused after the grab's wait,
// and the display's mode, sampled every 0.1 s meanwhile, never changes; the focus stays where it was.
TEST_F(DriverOnXorg, ARefusedTryNeverSwitchesTheDisplay) {
    std::optional<WindowManagerProcess> manager;
    for (bool managed : DESKTOPS) {
        const char* what = desktop_name(managed);
        if (managed) {
            manager.emplace("/usr/bin/openbox", observer);
            ASSERT_TRUE(manager->running) << "openbox did not start";
        }
        open(800, 200, 0, 0);
        draw_pattern(*screen, 0x2A);
        give_focus(managed, false);
        if (HasFatalFailure()) return;
        const Window before = focus_now();
        Display* holder = XOpenDisplay(display_name(server).c_str());
        ASSERT_NE(holder, nullptr);
        ASSERT_EQ(XGrabPointer(holder, DefaultRootWindow(holder), False, 0, GrabModeAsync, GrabModeAsync,
                               None, None, CurrentTime),
                  GrabSuccess);
        XSync(holder, False);
        draw_unmarked(0x77);
        xdotool("key alt+Return");
        std::vector<DisplayMode> changed;
        int samples = 0;
        bool tried = false, over = false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!over && std::chrono::steady_clock::now() < end) {
            DisplayMode mode = mode_of(observer);
            ++samples;
            if (!(mode == initial)) changed.push_back(mode);
            tried |= pointer_warped(200);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            over = tried && windowed() && compare_picture().empty();
        }
        ASSERT_TRUE(over) << what << ": the try never ended: " << seen();
        EXPECT_TRUE(changed.empty()) << what << ": " << changed.size() << " of " << samples << " samples not "
                                     << initial << ", the first " << changed.front();
        // The grab is waited for two seconds: more than a dozen samples fell into the try.
        EXPECT_GE(samples, 12) << what;
        std::printf("%s: %d samples of the mode during the refused try, %zu changed\n", what, samples,
                    changed.size());
        EXPECT_EQ(focus_now(), before) << what << ": focus " << name_of_focus(focus_now());
        XCloseDisplay(holder);
        gfx_close_mode();
        screen = nullptr;
    }
}

// The user changes the display with xrandr after the program started: leaving full screen, by Alt+Enter or
// by closing, puts back the user's choice, not the mode the program found at its start.
TEST_F(DriverOnXorg, LeavingFullScreenRestoresTheUsersChangeSinceTheStart) {
    struct Case {
        const char* xrandr;
        DisplayMode chosen;
    } const cases[] = {
        {"-s 800x600 -r 60", {800, 600, 60}},
        {"-s 1280x1024 -r 60", {1280, 1024, 60}},
    };
    for (const Case& c : cases) {
        for (bool by_closing : {false, true}) {
            const std::string what =
                std::string("xrandr ") + c.xrandr + (by_closing ? ", then closing" : ", then Alt+Enter");
            ASSERT_TRUE(set_display(observer, initial)) << what;
            open(800, 200, 0, 0);
            draw_pattern(*screen, 0x3C);
            focus();
            ASSERT_EQ(std::system(("/usr/bin/xrandr " + std::string(c.xrandr) + " >/dev/null 2>&1").c_str()),
                      0)
                << what;
            ASSERT_EQ(mode_of(observer), c.chosen) << what;
            xdotool("key alt+Return");
            ASSERT_TRUE(eventually([&] {
                return same_size(mode_of(observer), 800, 200) && full_screen(200) &&
                       compare_picture().empty();
            })) << what
                << ": " << seen();
            if (by_closing) {
                gfx_close_mode();
                screen = nullptr;
                EXPECT_EQ(mode_of(observer), c.chosen) << what;
            } else {
                xdotool("key alt+Return");
                DisplayMode mode;
                EXPECT_TRUE(eventually([&] { return windowed() && (mode = mode_of(observer)) == c.chosen; }))
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

using ProgramTryOnXorg = ProgramOnXorg;

// A stop while a full-screen try waits for a pointer grab another client holds ends the program within a
// second, and the display's mode never changed.
TEST_F(ProgramTryOnXorg, AStopDuringARefusedTryEndsWithinASecond) {
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
    Display* holder = XOpenDisplay(display_name(server).c_str());
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(XGrabPointer(holder, DefaultRootWindow(holder), False, 0, GrabModeAsync, GrabModeAsync, None,
                           None, CurrentTime),
              GrabSuccess);
    XSync(holder, False);
    XSetInputFocus(observer, picture, RevertToPointerRoot, CurrentTime);
    XSync(observer, False);
    xdotool("key alt+Return");
    // The try is under way once the picture is in the override-redirect window; the grab is then waited for.
    std::vector<DisplayMode> changed;
    ASSERT_TRUE(eventually([&] {
        DisplayMode mode = mode_of(observer);
        if (!(mode == initial)) changed.push_back(mode);
        XWindowAttributes full{};
        return XGetWindowAttributes(observer, parent_of(observer, picture), &full) &&
               full.override_redirect && full.map_state == IsViewable;
    })) << "no try seen";
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(velmora, SIGTERM), 0);
    int status = -1;
    EXPECT_TRUE(eventually(
        [&] {
            DisplayMode mode = mode_of(observer);
            if (!(mode == initial)) changed.push_back(mode);
            return waitpid(velmora, &status, WNOHANG) == velmora;
        },
        STOP_LIMIT))
        << "still running " << STOP_LIMIT.count() << " s after the signal";
    if (waitpid(velmora, &status, WNOHANG) == 0) waitpid(velmora, &status, 0);
    std::printf("stop during a refused try: ended %lld ms after the signal\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - signalled)
                                           .count()));
    velmora = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << errors();
    EXPECT_TRUE(changed.empty()) << changed.size() << " samples not " << initial << ", the first "
                                 << changed.front();
    EXPECT_EQ(mode_of(observer), initial);
    XCloseDisplay(holder);
}

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
