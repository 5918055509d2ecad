// The X11 driver on private Xvfb servers: the picture read back from the server, input from xdotool, the
// close request, shared-memory hygiene, and the loss of the display.
// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "gfx/input.h"
#include "gfx/screen.h"
#include "x11/identity.h"
#include "x11/keys.h"
#include "x11/x11_driver.h"
#include "x11/x11_state.h"
#include "x_test_support.h"
#include "xvfb_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// One Xvfb for the whole executable; tests that kill or reconfigure a server start their own.
XvfbServer shared_server;

class XvfbEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        unsetenv("KORVID");
        shared_server = start_xvfb("1024x768x24", {"-listen", "tcp"});
        ASSERT_GT(shared_server.pid, 0) << "Xvfb could not be started";
        setenv("DISPLAY", display_name(shared_server).c_str(), 1);
        x11_install_driver();
    }
    void TearDown() override { stop_xvfb(shared_server); }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

// The first pixel where the window differs from the framebuffer (alpha aside), or "" when they agree.
std::string compare_window(Display* observer, Window window, const ScreenContext& screen) {
    XImage* image = XGetImage(observer, window, 0, 0, static_cast<unsigned>(screen.width),
                              static_cast<unsigned>(screen.height), AllPlanes, ZPixmap);
    if (!image) return "no image";
    std::string difference;
    const auto* pixels = reinterpret_cast<const uint32_t*>(screen.visible_pixels);
    for (int y = 0; y < screen.height && difference.empty(); ++y) {
        for (int x = 0; x < screen.width; ++x) {
            uint32_t want = pixels[y * screen.width + x] & 0xFFFFFF;
            uint32_t got = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF;
            if (want != got) {
                char text[96];
                std::snprintf(text, sizeof text, "(%d, %d): window 0x%06X, framebuffer 0x%06X", x, y, got,
                              want);
                difference = text;
                break;
            }
        }
    }
    XDestroyImage(image);
    return difference;
}

// A mode of the X11 driver on the shared server, with a second connection that watches it.
class WindowTest : public ::testing::Test {
  protected:
    void open(int width = 80, int height = 60) {
        // The shared server may still be resetting after the test before, and refuses connections meanwhile.
        ASSERT_TRUE(eventually([&] {
            gfx_set_mode(width, height, 32, 1, 0, 0);
            return gfx_screen() != nullptr;
        }));
        screen = gfx_screen();
        ASSERT_STREQ(screen->driver->name, "X11");
        observer = XOpenDisplay(nullptr);
        ASSERT_NE(observer, nullptr);
        window = x11_drawing_window();
    }
    void TearDown() override {
        gfx_close_mode();
        if (observer) XCloseDisplay(observer);
        while (next_key() != 0) {
        }
    }
    // Under a window manager the window becomes viewable a moment after the mode opens, and only a viewable
    // window takes the focus: the request is repeated until the server has it.
    void focus() {
        ASSERT_TRUE(eventually([&] {
            XWindowAttributes attributes{};
            if (!has_focus_now() && XGetWindowAttributes(observer, window, &attributes) &&
                attributes.map_state == IsViewable) {
                XSetInputFocus(observer, window, RevertToPointerRoot, CurrentTime);
                XSync(observer, False);
            }
            gfx_lock();
            WindowEvent event;
            bool gained = false;
            while (gfx_take_event(screen->event_queue, event)) gained |= event.type == EVENT_FOCUS_GAINED;
            gfx_unlock(NO_LINES);
            return gained || has_focus_now();
        }));
    }
    // Focus is already ours when an earlier test left it there: a pointer query answers once inside.
    bool has_focus_now() {
        Window focused = 0;
        int revert = 0;
        XGetInputFocus(observer, &focused, &revert);
        return focused == window;
    }
    // key_state as the presenter left it.
    bool key_down(int scancode) {
        SharedLock held;
        return screen->shared.in(held).key_state[scancode] == 1;
    }
    std::string read_key_within_deadline() {
        std::string key;
        eventually([&] { return !(key = input_read_key()).empty(); });
        return key;
    }

    ScreenContext* screen = nullptr;
    Display* observer = nullptr;
    Window window = 0;
};

TEST_F(WindowTest, AFrameAppearsWholeThroughSharedMemory) {
    open();
    EXPECT_TRUE(x11_uses_shared_memory());
    draw_pattern(*screen, 0x11);
    std::string difference;
    EXPECT_TRUE(eventually([&] { return (difference = compare_window(observer, window, *screen)).empty(); }))
        << difference;
}

// A pass ends only once the server has read its shared puts: the segment written over right after the pass
// leaves the window with the pass's picture. The test makes the pass itself, under the driver lock.
TEST_F(WindowTest, APassEndsOnceTheServerHasReadTheSharedImage) {
    open();
    ASSERT_TRUE(x11_uses_shared_memory());
    X11State& x = x11_state();
    {
        DriverLock held(x.shared, x.display);
        auto* pixels = reinterpret_cast<uint32_t*>(screen->visible_pixels);
        for (int i = 0; i < screen->width * screen->height; ++i)
            pixels[i] = 0xFF000000u | (i * 7919u & 0xFFFFFF);
        auto& entries = screen->shared.in(held).dirty_lines.entries;
        std::fill(entries.begin(), entries.end(), uint8_t{1});
        x11_present(x, x.presenter, held);
        XImage& image = *x.presenter.frame_image;
        std::memset(image.data, 0x5A, static_cast<std::size_t>(image.bytes_per_line) * image.height);
    }
    std::string difference;
    EXPECT_TRUE(eventually([&] { return (difference = compare_window(observer, window, *screen)).empty(); }))
        << difference;
}

TEST_F(WindowTest, ExposeSendsTheWholePictureAgain) {
    open();
    draw_pattern(*screen, 0x22);
    ASSERT_TRUE(eventually([&] { return compare_window(observer, window, *screen).empty(); }));
    XClearArea(observer, window, 10, 10, 30, 20, True); // paints black, then the server sends Expose
    XSync(observer, False);
    std::string difference;
    EXPECT_TRUE(eventually([&] { return (difference = compare_window(observer, window, *screen)).empty(); }))
        << difference;
}

TEST_F(WindowTest, CloseRequestPostsTheCloseKeyAndKeepsTheWindow) {
    open();
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = x11_frame_window();
    message.xclient.message_type = XInternAtom(observer, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(observer, "WM_DELETE_WINDOW", False));
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(observer, x11_frame_window(), False, NoEventMask, &message);
    XSync(observer, False);
    EXPECT_EQ(read_key_within_deadline(), "\xffk");
    bool reported = false;
    WindowEvent event;
    while (gfx_take_event(screen->event_queue, event)) reported |= event.type == EVENT_CLOSE_REQUESTED;
    EXPECT_TRUE(reported);
    XWindowAttributes attributes{};
    XGetWindowAttributes(observer, window, &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);
}

TEST_F(WindowTest, KeysReachTheQueueOnlyWithFocus) {
    open();
    focus();
    struct Case {
        const char* key;
        const char* text;
    };
    for (Case c : {Case{"a", "a"}, Case{"Up", "\xffH"},
                   Case{"F10", "\xff"
                               "D"},
                   Case{"Delete", "\xffS"}, Case{"Return", "\r"}}) {
        xdotool(std::string("key ") + c.key);
        EXPECT_EQ(read_key_within_deadline(), c.text) << c.key;
    }
    // Held down, the key shows in key_state; losing the focus clears it, and keys then go nowhere.
    xdotool("keydown shift");
    auto shift_down = [&] { return key_down(42); };
    EXPECT_TRUE(eventually(shift_down));
    XSetInputFocus(observer, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(observer, False);
    EXPECT_TRUE(eventually([&] { return !shift_down(); }));
    xdotool("keyup shift");
    // The server delivers no key to a window without the focus; a key sent to it directly still arrives,
    // and only the driver's own focus rule keeps it out.
    XEvent press{};
    press.xkey.type = KeyPress;
    press.xkey.window = window;
    press.xkey.root = DefaultRootWindow(observer);
    press.xkey.keycode = XKeysymToKeycode(observer, XStringToKeysym("b"));
    press.xkey.same_screen = True;
    XSendEvent(observer, window, False, KeyPressMask, &press);
    XSync(observer, False);
    focus();
    xdotool("key c");
    EXPECT_EQ(read_key_within_deadline(), "c"); // b was dropped: events arrive in order
}

// The place and the buttons as the presenter's events left them.
TEST_F(WindowTest, PointerAndButtonsFollowTheEventsWhileInsideWithFocus) {
    open();
    focus();
    xdotool("mousemove --sync 10 20");
    int64_t x = 0, y = 0, wheel = 0, buttons = 0, confined = 0;
    auto read = [&] {
        input_get_mouse(&x, &y, &wheel, &buttons, &confined);
        return x;
    };
    EXPECT_TRUE(eventually([&] { return read() == 10 && y == 20; })) << x << "," << y;
    EXPECT_EQ(buttons, 0);
    xdotool("mousedown 3");
    EXPECT_TRUE(eventually([&] { return read() == 10 && buttons == 2; })) << buttons;
    xdotool("mouseup 3");
    xdotool("click 4 click 4 click 4 click 5");
    EXPECT_TRUE(eventually([&] { return read() == 10 && wheel == 2; })) << wheel;
    xdotool("mousemove --sync 500 500");
    EXPECT_TRUE(eventually([&] { return read() == -1; }));
    EXPECT_EQ(y, -1);
    EXPECT_EQ(buttons, -1);
}

// A window that comes out from under another one beneath a pointer that does not move gets no motion, only
// the crossing: where the pointer came in is what the frame reads.
TEST_F(WindowTest, APointerUncoveredWithoutMovingIsReadWhereItIs) {
    open();
    focus();
    xdotool("mousemove --sync 500 500");
    int64_t x = 0, y = 0, wheel = 0, buttons = 0, confined = 0;
    ASSERT_TRUE(eventually([&] {
        input_get_mouse(&x, &y, &wheel, &buttons, &confined);
        return x == -1;
    }));
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    Window cover = XCreateWindow(observer, DefaultRootWindow(observer), 0, 0, 80, 60, 0, CopyFromParent,
                                 InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(observer, cover);
    XSync(observer, False);
    xdotool("mousemove --sync 30 40");
    XDestroyWindow(observer, cover);
    XSync(observer, False);
    EXPECT_TRUE(eventually([&] {
        input_get_mouse(&x, &y, &wheel, &buttons, &confined);
        return x == 30 && y == 40;
    })) << x
        << "," << y;
}

// A property as another client reads it: its type's name, its format, and the values (bytes for format 8,
// one long each for format 32).
struct Property {
    std::string type;
    int format = 0;
    std::string bytes;
    std::vector<long> values;
};

Property read_property(Display* display, Window w, const char* name) {
    Property property;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, w, XInternAtom(display, name, False), 0, 1 << 20, False, AnyPropertyType,
                           &type, &format, &count, &left, &data) != Success)
        return property;
    if (type != None) {
        char* type_name = XGetAtomName(display, type);
        property.type = type_name;
        XFree(type_name);
    }
    property.format = format;
    if (format == 8) property.bytes.assign(reinterpret_cast<char*>(data), count);
    if (format == 32)
        property.values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
    if (data) XFree(data);
    return property;
}

std::string host_name() {
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    return host;
}

// Docks, task bars and window-manager rules read these from the window the manager sees.
TEST_F(WindowTest, TheWindowSaysWhoItIs) {
    open();
    gfx_set_title("Zeige 3 Server f\xC3\xBCr B\xC3\xBCro \xE2\x82\xAC");
    const Window frame = x11_frame_window();
    struct Case {
        const char* property;
        const char* type;
        std::string text;
    };
    using namespace std::string_literals;
    for (const Case& c : {
             Case{"WM_CLASS", "STRING", "velmora\0Velmora\0"s},
             Case{"WM_CLIENT_MACHINE", "STRING", host_name()},
             Case{"WM_NAME", "STRING", "Zeige 3 Server f\xFCr B\xFCro ?"},
             Case{"_NET_WM_NAME", "UTF8_STRING", "Zeige 3 Server f\xC3\xBCr B\xC3\xBCro \xE2\x82\xAC"},
         }) {
        // The title goes out with the driver's next flush, not at once.
        Property p;
        EXPECT_TRUE(eventually([&] {
            p = read_property(observer, frame, c.property);
            return p.type == c.type && p.format == 8 && p.bytes == c.text;
        })) << c.property
            << ": " << p.type << " " << p.format << " \"" << p.bytes << "\"";
    }
    Property pid = read_property(observer, frame, "_NET_WM_PID");
    EXPECT_EQ(pid.type, "CARDINAL");
    EXPECT_EQ(pid.values, std::vector<long>{getpid()});

    XWMHints* hints = XGetWMHints(observer, frame);
    ASSERT_NE(hints, nullptr);
    EXPECT_TRUE(hints->flags & InputHint);
    EXPECT_EQ(hints->input, True);
    XFree(hints);

    Atom* protocols = nullptr;
    int count = 0;
    ASSERT_TRUE(XGetWMProtocols(observer, frame, &protocols, &count));
    std::vector<Atom> listed(protocols, protocols + count);
    XFree(protocols);
    for (const char* name : {"WM_DELETE_WINDOW", "_NET_WM_PING"})
        EXPECT_NE(std::find(listed.begin(), listed.end(), XInternAtom(observer, name, False)), listed.end())
            << name;

    // The icon: width, height and pixels per size, exactly the pictures the program was built with. Xlib
    // hands 32-bit values over in longs, sign-extended or not; only the 32 bits count.
    Property icon = read_property(observer, frame, "_NET_WM_ICON");
    EXPECT_EQ(icon.type, "CARDINAL");
    for (long& value : icon.values) value &= 0xFFFFFFFFL;
    std::vector<long> expected;
    std::vector<int> sizes;
    for (const IconImage& image : window_icon_images()) {
        sizes.push_back(image.width);
        expected.push_back(image.width);
        expected.push_back(image.height);
        for (int i = 0; i < image.width * image.height; ++i) expected.push_back(image.pixels[i]);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 64}));
    EXPECT_TRUE(icon.values == expected)
        << icon.values.size() << " values, " << expected.size() << " expected";
}

// A window manager pings the window; the presenter answers on its own, whatever the application thread
// is doing, so the manager never takes the program for hung.
TEST_F(WindowTest, APingComesBackToTheRootWithinHalfASecond) {
    open();
    for (long stamp : {1000L, 2000L, 0x7FFFFFF0L})
        EXPECT_TRUE(ping_answered(observer, x11_frame_window(), stamp, std::chrono::milliseconds(500)))
            << "ping " << stamp;
}

// Started from a menu entry with StartupNotify, the window ends the launch once it is there: the id on the
// window, the "remove" message to the root window; and the tools the program starts never see the id.
TEST_F(WindowTest, TheWindowEndsTheLaunchItWasStartedFor) {
    const std::string id = "menu-4711-0-host-velmora-1_TIME8077";
    setenv("DESKTOP_STARTUP_ID", id.c_str(), 1);
    x11_install_driver();
    EXPECT_EQ(std::getenv("DESKTOP_STARTUP_ID"), nullptr);
    // The first client since the test before: the shared server may still be resetting after that test's
    // last client left, and refuses connections meanwhile.
    std::unique_ptr<Display, int (*)(Display*)> launcher(nullptr, XCloseDisplay);
    ASSERT_TRUE(eventually([&] {
        launcher.reset(XOpenDisplay(nullptr));
        return launcher != nullptr;
    }));
    const Window root = DefaultRootWindow(launcher.get());
    XSelectInput(launcher.get(), root, PropertyChangeMask);
    XSync(launcher.get(), False);
    const Atom begin = XInternAtom(launcher.get(), "_NET_STARTUP_INFO_BEGIN", False);
    const Atom more = XInternAtom(launcher.get(), "_NET_STARTUP_INFO", False);
    // The pieces put together by their sending window, as a launcher does; the messages complete so far.
    std::map<Window, std::string> partial;
    std::vector<std::string> messages;
    bool mapped_when_sent = true;
    auto collect = [&] {
        while (XPending(launcher.get())) {
            XEvent event;
            XNextEvent(launcher.get(), &event);
            const XClientMessageEvent& piece = event.xclient;
            if (event.type != ClientMessage || piece.format != 8) continue;
            if (piece.message_type == begin) partial[piece.window].clear();
            if (piece.message_type != begin && piece.message_type != more) continue;
            std::string& text = partial[piece.window];
            text.append(piece.data.b, sizeof piece.data.b);
            if (size_t end = text.find('\0'); end != std::string::npos) {
                messages.push_back(text.substr(0, end));
                partial.erase(piece.window);
                mapped_when_sent &= viewable(launcher.get(), x11_frame_window());
            }
        }
        return !messages.empty();
    };
    open();
    EXPECT_TRUE(eventually(collect));
    EXPECT_EQ(messages, std::vector<std::string>{"remove: ID=\"" + id + "\""});
    EXPECT_TRUE(mapped_when_sent);
    Property on_window = read_property(observer, x11_frame_window(), "_NET_STARTUP_ID");
    EXPECT_EQ(on_window.type, "UTF8_STRING");
    EXPECT_EQ(on_window.bytes, id);
    // The launch is over: a later window neither carries the id nor ends it again.
    gfx_close_mode();
    XCloseDisplay(observer);
    observer = nullptr;
    messages.clear();
    open();
    draw_pattern(*screen, 0x12);
    ASSERT_TRUE(eventually([&] { return compare_window(observer, window, *screen).empty(); }));
    collect();
    EXPECT_EQ(messages, std::vector<std::string>{});
    EXPECT_EQ(read_property(observer, x11_frame_window(), "_NET_STARTUP_ID").type, "");
}

// Full screen needs a server whose screen size fits the mode; the process's DISPLAY names it meanwhile.
class FullScreenTest : public WindowTest {
  protected:
    void use_server(const std::string& geometry) {
        own = start_xvfb(geometry);
        ASSERT_GT(own.pid, 0);
        setenv("DISPLAY", display_name(own).c_str(), 1);
    }
    void TearDown() override {
        WindowTest::TearDown();
        observer = nullptr;
        setenv("DISPLAY", display_name(shared_server).c_str(), 1);
        stop_xvfb(own);
    }
    // The picture's window covers the 800x240 screen: in the override-redirect window without a manager, in
    // the frame the manager made full screen with one.
    bool full_screen() {
        XWindowAttributes a{};
        Window root = DefaultRootWindow(observer), child = 0;
        int left = -1, top = -1;
        return XGetWindowAttributes(observer, window, &a) && a.map_state == IsViewable && a.width == 800 &&
               a.height == 240 && XTranslateCoordinates(observer, window, root, 0, 0, &left, &top, &child) &&
               left == 0 && top == 0;
    }
    bool managed_full_screen() {
        XWindowAttributes a{};
        XGetWindowAttributes(observer, parent_of(observer, window), &a);
        return full_screen() && !a.override_redirect;
    }
    bool windowed() {
        XWindowAttributes a{};
        return parent_of(observer, window) == x11_frame_window() &&
               XGetWindowAttributes(observer, window, &a) && a.height == 200;
    }
    // The picture y_offset rows down in the drawing window.
    // The picture y_offset rows down in the drawing window, as far as it is on the screen: the server reads
    // only that part, and a window manager may place the window partly off an 800-wide screen.
    std::string compare_picture(int y_offset) {
        Window root = DefaultRootWindow(observer), child = 0;
        int left = 0, top = 0;
        XTranslateCoordinates(observer, window, root, 0, 0, &left, &top, &child);
        int x0 = std::max(0, -left), y0 = std::max(0, -(top + y_offset));
        int x1 = std::min(screen->width, DisplayWidth(observer, 0) - left);
        int y1 = std::min(screen->height, DisplayHeight(observer, 0) - top - y_offset);
        if (x1 - x0 < screen->width / 2 || y1 - y0 < screen->height / 2) return "mostly off the screen";
        XImage* image = XGetImage(observer, window, x0, y0 + y_offset, static_cast<unsigned>(x1 - x0),
                                  static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
        if (!image) return "no image";
        const auto* pixels = reinterpret_cast<const uint32_t*>(screen->visible_pixels);
        std::string difference;
        for (int y = y0; y < y1 && difference.empty(); ++y)
            for (int x = x0; x < x1 && difference.empty(); ++x)
                if ((XGetPixel(image, x - x0, y - y0) & 0xFFFFFF) !=
                    (pixels[y * screen->width + x] & 0xFFFFFF))
                    difference = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
        XDestroyImage(image);
        return difference;
    }
    bool grabbed_by_someone() { return grabs_held(observer) == BOTH_GRABBED; }
    // From now on the observer sees every window mapped on the root, the full-screen window among them.
    void watch_maps() {
        XSelectInput(observer, DefaultRootWindow(observer), SubstructureNotifyMask);
        XSync(observer, False);
    }
    // An override-redirect window was mapped since watch_maps: a full-screen attempt was made.
    bool saw_fullscreen_attempt() {
        while (XPending(observer)) {
            XEvent event;
            XNextEvent(observer, &event);
            if (event.type == MapNotify && event.xmap.override_redirect) attempted = true;
        }
        return attempted;
    }
    // Polls like eventually, drawing a frame each time as the dashboard does, and keeps the longest wait for
    // the screen lock.
    bool eventually_drawing(const std::function<bool()>& condition) {
        auto end = Clock::now() + EVENTUALLY_LIMIT;
        for (uint32_t salt = 0;; ++salt) {
            auto asked = Clock::now();
            gfx_lock();
            {
                const SharedLock held; // the presenter reads the page
                longest_lock_wait = std::max(longest_lock_wait, Clock::now() - asked);
                reinterpret_cast<uint32_t*>(screen->visible_pixels)[0] = 0xFF000000u | (salt & 0xFF);
            }
            gfx_unlock(ALL_LINES);
            if (condition()) return true;
            if (Clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    bool focus_on_picture() {
        Window focused = 0;
        int revert = 0;
        XGetInputFocus(observer, &focused, &revert);
        return focused == window || focused == x11_frame_window();
    }
    bool keys_released() {
        SharedLock held;
        const uint8_t* keys = screen->shared.in(held).key_state;
        return std::all_of(keys, keys + 128, [](uint8_t k) { return k == 0; });
    }
    XvfbServer own;
    bool attempted = false;
    // The longest a frame waited for the driver lock. A switch waits for the window manager, and a refused
    // pointer grab for two seconds, outside the lock; a frame may still wait for one presenter pass, which
    // on a loaded machine (sanitizers, parallel tests) can take far more than its usual microseconds. Half a
    // grab's wait tells the two apart without depending on the machine's speed.
    Clock::duration longest_lock_wait{};
    static constexpr auto FRAME_WAIT_BOUND = std::chrono::milliseconds(1000);
};

// A window manager of the test's own on the test's own server; ended with the test.
// Alt+Tab is held as a passive grab on the root by some client (the window manager): a grab of our own is
// refused with BadAccess.
int refused_grabs = 0;
int note_refused_grab(Display*, XErrorEvent* error) {
    refused_grabs += error->error_code == BadAccess;
    return 0;
}
bool alt_tab_taken(Display* display) {
    const Window root = DefaultRootWindow(display);
    const KeyCode tab = XKeysymToKeycode(display, XK_Tab);
    XSync(display, False);
    auto* before = XSetErrorHandler(note_refused_grab);
    refused_grabs = 0;
    XGrabKey(display, tab, Mod1Mask, root, False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    const bool taken = refused_grabs > 0;
    if (!taken) XUngrabKey(display, tab, Mod1Mask, root);
    XSync(display, False);
    XSetErrorHandler(before);
    return taken;
}

using Manager = WindowManagerProcess;

TEST_F(FullScreenTest, AltEnterSwitchesToFullScreenAndBackWithAndWithoutAManager) {
    for (bool managed : {false, true}) {
        SCOPED_TRACE(managed ? "openbox" : "no window manager");
        use_server("800x240x24");
        std::unique_ptr<Display, int (*)(Display*)> watcher(XOpenDisplay(nullptr), XCloseDisplay);
        ASSERT_NE(watcher, nullptr);
        std::optional<Manager> manager;
        if (managed) {
            manager.emplace("/usr/bin/openbox", watcher.get());
            ASSERT_TRUE(manager->running);
        }
        open(800, 200);
        draw_pattern(*screen, 0x33);
        focus();
        longest_lock_wait = {};
        // Three switches: the third one needs the keys back after the second.
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE("switch " + std::to_string(round + 1));
            bool to_full_screen = round % 2 == 0;
            xdotool("key alt+Return");
            if (to_full_screen) {
                ASSERT_TRUE(eventually_drawing([&] { return full_screen(); }));
                // A manager that offers full screen shows the window it manages so, and keeps its keys.
                EXPECT_EQ(managed_full_screen(), managed);
                draw_pattern(*screen, 0x33);
                std::string difference;
                EXPECT_TRUE(eventually([&] { return (difference = compare_picture(20)).empty(); }))
                    << difference;
                EXPECT_TRUE(grabbed_by_someone());
                // A window manager moves the focus when the decorated window goes: our grab keeps the keys.
                XSetInputFocus(observer, PointerRoot, RevertToPointerRoot, CurrentTime);
                XSync(observer, False);
            } else {
                ASSERT_TRUE(eventually_drawing([&] { return windowed(); }));
                draw_pattern(*screen, 0x33);
                std::string difference;
                EXPECT_TRUE(eventually([&] { return (difference = compare_picture(0)).empty(); }))
                    << difference;
                EXPECT_TRUE(eventually([&] { return !grabbed_by_someone(); }));
                EXPECT_TRUE(eventually([&] { return keys_released(); }));
                // Nobody else gives the keys back where no manager runs.
                EXPECT_TRUE(eventually([&] { return focus_on_picture(); }));
            }
        }
        // A window manager's map and unmap never hold a frame: the switch waits for them outside the lock.
        auto waited = std::chrono::duration_cast<std::chrono::microseconds>(longest_lock_wait).count();
        EXPECT_LT(longest_lock_wait, FRAME_WAIT_BOUND) << waited << " us";
        std::printf("%s: longest frame lock wait over three switches %lld us\n",
                    managed ? "openbox" : "no window manager", static_cast<long long>(waited));
        xdotool("key alt+Return");
        ASSERT_TRUE(eventually([&] { return windowed(); }));
        EXPECT_TRUE(eventually([&] { return !grabbed_by_someone(); }));
        focus();
        xdotool("key z");
        EXPECT_EQ(read_key_within_deadline(), "z"); // Alt+Enter posted nothing before it
        gfx_close_mode();
        XCloseDisplay(observer);
        observer = nullptr;
        manager.reset();
        watcher.reset();
        stop_xvfb(own);
    }
}

// Openbox's task switcher grabs the keyboard on Alt+Tab and takes the Alt release: the keys held before
// count as released, and the Return after it is a plain Return.
TEST_F(FullScreenTest, AReturnAfterAltTabUnderOpenboxIsAPlainReturn) {
    use_server("800x240x24");
    std::unique_ptr<Display, int (*)(Display*)> watcher(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_NE(watcher, nullptr);
    Manager manager("/usr/bin/openbox", watcher.get());
    ASSERT_TRUE(manager.running);
    // Openbox may manage windows before its key bindings are in place; a Tab that comes before them reaches
    // the window as a Tab, and the case tests nothing.
    ASSERT_TRUE(eventually([&] { return alt_tab_taken(watcher.get()); })) << "openbox never took Alt+Tab";
    open(800, 200);
    draw_pattern(*screen, 0x66);
    focus();
    xdotool("keydown alt");
    ASSERT_TRUE(eventually([&] { return key_down(SCANCODE_ALT); }));
    xdotool("key Tab");
    xdotool("keyup alt");
    EXPECT_TRUE(eventually([&] { return keys_released(); })) << "Alt still down after the switcher had it";
    ASSERT_TRUE(eventually([&] { return focus_on_picture(); }));
    xdotool("key Return");
    EXPECT_EQ(read_key_within_deadline(), "\r");
    EXPECT_TRUE(windowed());
    gfx_close_mode();
}

TEST_F(FullScreenTest, WithoutAFittingSizeTheWindowComesBack) {
    use_server("1024x768x24");
    open(800, 200);
    draw_pattern(*screen, 0x44);
    focus();
    watch_maps();
    xdotool("key alt+Return");
    EXPECT_TRUE(eventually([&] { return saw_fullscreen_attempt(); }));
    // The failed attempt maps the full-screen window for a moment; afterwards the picture is windowed.
    std::string difference;
    EXPECT_TRUE(eventually([&] { return windowed() && (difference = compare_picture(0)).empty(); }))
        << difference;
    EXPECT_FALSE(grabbed_by_someone());
}

TEST_F(FullScreenTest, APointerGrabElsewhereRefusesTheSwitchInBoundedTime) {
    use_server("800x240x24");
    open(800, 200);
    draw_pattern(*screen, 0x55);
    focus();
    Display* holder = XOpenDisplay(nullptr);
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(XGrabPointer(holder, DefaultRootWindow(holder), False, 0, GrabModeAsync, GrabModeAsync, None,
                           None, CurrentTime),
              GrabSuccess);
    XSync(holder, False);
    watch_maps();
    xdotool("key alt+Return");
    longest_lock_wait = {};
    EXPECT_TRUE(eventually_drawing([&] { return saw_fullscreen_attempt(); }));
    // The presenter waits two seconds for the grab, and gives up; frames go on meanwhile.
    ASSERT_TRUE(eventually_drawing([&] { return windowed(); }));
    EXPECT_LT(longest_lock_wait, FRAME_WAIT_BOUND);
    draw_pattern(*screen, 0x55);
    std::string difference;
    EXPECT_TRUE(eventually([&] { return (difference = compare_picture(0)).empty(); })) << difference;
    XCloseDisplay(holder);
}

// A failed open says why, for the user's message.
TEST_F(FullScreenTest, AnOpenThatFailsNamesItsCause) {
    struct Case {
        const char* geometry;
        const char* cause;
    };
    for (Case c :
         {Case{"1024x768x8", "keine passende Farbdarstellung: PseudoColor, Tiefe 8, 8 Bit je Pixel"}}) {
        use_server(c.geometry);
        // A server whose last client leaves starts over and refuses connections meanwhile: the driver's
        // tries (two rates, with and without full screen) must not be its only clients.
        Display* keeper = XOpenDisplay(nullptr);
        ASSERT_NE(keeper, nullptr);
        gfx_set_mode(800, 200, 32, 1, 0, 0);
        EXPECT_EQ(gfx_screen(), nullptr) << c.geometry;
        EXPECT_NE(std::string(x11_open_failure()).find(c.cause), std::string::npos) << x11_open_failure();
        XCloseDisplay(keeper);
        stop_xvfb(own);
    }
    setenv("DISPLAY", ":64999", 1);
    gfx_set_mode(800, 200, 32, 1, 0, 0);
    EXPECT_EQ(
        std::string(x11_open_failure()),
        "Keine Verbindung zur Anzeige \":64999\" (kein X-Server dort, oder dieser Benutzer darf ihn nicht "
        "nutzen)");
    EXPECT_EQ(gfx_screen(), nullptr);
}

// Ten bits a channel (TrueColor at depth 30, red on top): every colour of the dashboard arrives with each
// channel scaled exactly from 255 to 1023, the background 0x1E1E1E as 0x78 in every channel.
TEST_F(FullScreenTest, TenBitsAChannelShowTheDashboardsColoursExactly) {
    use_server("1024x768x30");
    open(80, 60);
    ASSERT_EQ(DefaultDepth(observer, DefaultScreen(observer)), 30);
    const uint32_t colours[] = {0x1E1E1E, 0x0066CC, 0xF5FFFF, 0x888B8B, 0xE06C75, 0xFFFFFF, 0x000000};
    constexpr int N = sizeof colours / sizeof colours[0];
    gfx_lock();
    {
        const SharedLock held; // the presenter reads the page
        auto* pixels = reinterpret_cast<uint32_t*>(screen->visible_pixels);
        for (int y = 0; y < screen->height; ++y)
            for (int x = 0; x < screen->width; ++x)
                pixels[y * screen->width + x] = 0xFF000000u | colours[x % N];
    }
    gfx_unlock(ALL_LINES);
    auto ten = [](uint32_t v) { return (v * 1023 + 127) / 255; };
    auto want = [&](uint32_t c) {
        return ten(c >> 16 & 0xFF) << 20 | ten(c >> 8 & 0xFF) << 10 | ten(c & 0xFF);
    };
    ASSERT_EQ(want(0x1E1E1E), 0x0781E078u);
    std::string difference;
    EXPECT_TRUE(eventually([&] {
        XImage* image = XGetImage(observer, window, 0, 0, static_cast<unsigned>(screen->width),
                                  static_cast<unsigned>(screen->height), AllPlanes, ZPixmap);
        if (!image) return false;
        difference.clear();
        for (int y = 0; y < screen->height && difference.empty(); ++y)
            for (int x = 0; x < screen->width && difference.empty(); ++x) {
                const uint32_t got = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0x3FFFFFFF;
                if (got != want(colours[x % N])) {
                    char text[96];
                    std::snprintf(text, sizeof text, "(%d, %d): 0x%08X for 0x%06X, not 0x%08X", x, y, got,
                                  colours[x % N], want(colours[x % N]));
                    difference = text;
                }
            }
        XDestroyImage(image);
        return difference.empty();
    })) << difference;
}

// Frames go on while the presenter switches: moving the window inside a frame uses the frame's lock, outside
// one it takes its own, and neither waits for a switch.
TEST_F(FullScreenTest, SwitchesAndMovesWhileFramesAreDrawn) {
    use_server("800x240x24");
    open(800, 200);
    focus();
    constexpr int KEEP = static_cast<int>(0x80000000u);
    const ScreenDriver& driver = *screen->driver;
    longest_lock_wait = {};
    for (int round = 0; round < 4; ++round) {
        bool to_full_screen = round % 2 == 0;
        xdotool("key alt+Return");
        ASSERT_TRUE(eventually_drawing([&] {
            (void)driver.move_window(20 + round, 30);
            {
                // A slot called under the caller's hold only counts it.
                const SharedLock held;
                (void)driver.move_window(KEEP, KEEP);
            }
            return to_full_screen ? full_screen() : windowed();
        })) << "switch "
            << round + 1;
    }
    EXPECT_LT(longest_lock_wait, FRAME_WAIT_BOUND);
}

// Processes that use the driver and are watched from outside.
struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
    int err = -1;
    std::string first_line;
};

Child start_child(const std::string& prefix, const std::string& display) {
    Child child;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]), close(err[0]), close(out[1]), close(err[1]);
        setenv("DISPLAY", display.c_str(), 1);
        std::string command = prefix + " " + WINDOW_CHILD;
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]), close(err[1]);
    child.out = fdopen(out[0], "r");
    child.err = err[0];
    char line[128] = "";
    if (std::fgets(line, sizeof line, child.out)) child.first_line = line;
    return child;
}

// What the child wrote to stderr so far; never waits for more.
std::string drain(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    return text;
}

unsigned long window_of(const Child& child) {
    unsigned long window = 0;
    std::sscanf(child.first_line.c_str(), "window=%lu", &window);
    return window;
}

bool window_shows_child_pattern(Display* observer, Window window) {
    XImage* image = XGetImage(observer, window, 0, 0, 64, 40, AllPlanes, ZPixmap);
    if (!image) return false;
    bool same = true;
    for (int y = 0; y < 40 && same; ++y)
        for (int x = 0; x < 64 && same; ++x)
            same =
                (XGetPixel(image, x, y) & 0xFFFFFF) == (uint32_t(x * 4) << 16 | uint32_t(y * 6) << 8 | 0x5A);
    XDestroyImage(image);
    return same;
}

TEST(WindowProcess, SegmentIsPrivateAndGoneAfterCloseAndAfterKill) {
    for (bool kill_it : {false, true}) {
        Child child = start_child("", display_name(shared_server));
        ASSERT_NE(child.first_line.find("shm=1"), std::string::npos) << child.first_line;
        EXPECT_EQ(shm_segment_modes_of(child.pid), std::vector<int>{0600});
        if (kill_it) {
            kill(child.pid, SIGKILL);
        } else {
            Display* observer = XOpenDisplay(display_name(shared_server).c_str());
            ASSERT_NE(observer, nullptr);
            // The close button as a window manager sends it, to the decorated top-level window.
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            XQueryTree(observer, window_of(child), &root, &parent, &children, &count);
            if (children) XFree(children);
            XEvent message{};
            message.xclient.type = ClientMessage;
            message.xclient.window = parent;
            message.xclient.message_type = XInternAtom(observer, "WM_PROTOCOLS", False);
            message.xclient.format = 32;
            message.xclient.data.l[0] = static_cast<long>(XInternAtom(observer, "WM_DELETE_WINDOW", False));
            XSendEvent(observer, parent, False, NoEventMask, &message);
            XCloseDisplay(observer);
        }
        int status = 0;
        waitpid(child.pid, &status, 0);
        if (!kill_it) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        EXPECT_TRUE(eventually([&] { return shm_segment_modes_of(child.pid) == std::vector<int>{}; }))
            << "kill " << kill_it;
        fclose(child.out);
        close(child.err);
    }
}

// Without shared memory the picture travels as plain images and looks the same.
TEST(WindowProcess, PlainImagesWhereSharedMemoryCannotServe) {
    struct Case {
        const char* what;
        const char* prefix;
        bool over_tcp;
    } const cases[] = {
        // In an IPC namespace of its own the segment is invisible to the server, which refuses the attach.
        {"refused attach", "unshare --ipc", false},
        // A display reached over TCP is not local: no shared memory is even tried.
        {"remote display", "", true},
    };
    for (const Case& c : cases) {
        Child child = start_child(c.prefix, display_name(shared_server, c.over_tcp));
        EXPECT_NE(child.first_line.find("shm=0"), std::string::npos)
            << c.what << ": " << child.first_line << drain(child.err);
        Display* observer = XOpenDisplay(display_name(shared_server).c_str());
        ASSERT_NE(observer, nullptr);
        EXPECT_TRUE(eventually([&] { return window_shows_child_pattern(observer, window_of(child)); }))
            << c.what;
        XCloseDisplay(observer);
        kill(child.pid, SIGTERM);
        waitpid(child.pid, nullptr, 0);
        fclose(child.out);
        close(child.err);
    }
}

TEST(WindowProcess, LosingTheDisplayEndsTheProcessInOrder) {
    XvfbServer doomed = start_xvfb("320x240x24");
    ASSERT_GT(doomed.pid, 0);
    Child child = start_child("", display_name(doomed));
    ASSERT_NE(child.first_line.find("window="), std::string::npos) << child.first_line;
    kill(doomed.pid, SIGKILL);
    waitpid(doomed.pid, nullptr, 0);
    auto killed = Clock::now();
    int status = 0;
    ASSERT_TRUE(eventually([&] { return waitpid(child.pid, &status, WNOHANG) == child.pid; }));
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed);
    std::string errors = drain(child.err);
    EXPECT_TRUE(WIFEXITED(status)) << "died by signal " << WTERMSIG(status) << "\n" << errors;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(errors.find("Verbindung zum X-Server"), std::string::npos) << errors;
    EXPECT_NE(errors.find(display_name(doomed)), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    std::printf("process ended %lld ms after the server\n", static_cast<long long>(took.count()));
    fclose(child.out);
    close(child.err);
}

} // namespace
