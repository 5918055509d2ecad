// The whole program in a real session: a private Xvfb with a window manager, fake network tools, and the
// velmora binary started as a user starts it, in a folder with its configuration.
// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/app/test_support.h"
#include "tests/x11/xvfb_server.h"

namespace {

using Clock = std::chrono::steady_clock;

bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto end = Clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

pid_t spawn(const std::vector<std::string>& args, const std::string& dir, int err_fd = -1) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(err_fd >= 0 ? err_fd : null, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The top-level window whose name is the title, found among all windows (the manager reparents it).
Window find_named(Display* display, Window w, const char* name) {
    char* found = nullptr;
    if (XFetchName(display, w, &found) && found) {
        bool same = std::strcmp(found, name) == 0;
        XFree(found);
        if (same) return w;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window result = 0;
    if (XQueryTree(display, w, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !result; ++i) result = find_named(display, children[i], name);
        if (children) XFree(children);
    }
    return result;
}

// The window that shows the picture: the named window's only child.
Window picture_of(Display* display, Window frame) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window child = 0;
    if (XQueryTree(display, frame, &root, &parent, &children, &count) && count == 1) child = children[0];
    if (children) XFree(children);
    return child;
}

// The observer reads windows another client maps, reparents and unmaps; a read that meets the window at such
// a moment fails with BadMatch, which must cost one poll, not the whole test process.
int observer_error(Display*, XErrorEvent*) {
    return 0;
}

bool viewable(Display* display, Window w) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, w, &attributes) && attributes.map_state == IsViewable;
}

uint32_t pixel(Display* display, Window w, int x, int y) {
    XImage* image = XGetImage(display, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFF;
    uint32_t value = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return value;
}

// Pixels of a rectangle, row by row.
std::vector<uint32_t> region(Display* display, Window w, int x, int y, int width, int height) {
    std::vector<uint32_t> pixels;
    XImage* image = XGetImage(display, w, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i)
            pixels.push_back(static_cast<uint32_t>(XGetPixel(image, i, j)) & 0xFFFFFF);
    XDestroyImage(image);
    return pixels;
}

class Dashboard : public ::testing::Test {
  protected:
    void SetUp() override {
        server = start_xvfb("1280x1300x24"); // six panels fit
        ASSERT_GT(server.pid, 0);
        display_env.emplace("DISPLAY", display_name(server));
        korvid.emplace("KORVID", std::nullopt);
        home.emplace("HOME", config_dir.path());
        window_manager = spawn({"/usr/bin/openbox", "--sm-disable"}, config_dir.path());
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        XSetErrorHandler(observer_error);
        Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
        ASSERT_TRUE(eventually([&] {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                               &format, &items, &after, &data);
            if (data) XFree(data);
            return items == 1;
        })) << "the window manager did not start";
    }
    void TearDown() override {
        if (velmora > 0) {
            kill(velmora, SIGKILL);
            waitpid(velmora, nullptr, 0);
        }
        if (display) XCloseDisplay(display);
        if (window_manager > 0) {
            kill(window_manager, SIGTERM);
            waitpid(window_manager, nullptr, 0);
        }
        stop_xvfb(server);
    }
    void start(const std::string& config) {
        tools.replay("nslookup", fixture("nslookup_localhost.txt"));
        tools.replay("nmap", fixture("nmap_ftp_ssh.txt"));
        tools.replay("ping", fixture("ping_127.txt"));
        tools.replay("httping", fixture("httping_127.txt"));
        config_dir.write("velmora.cfg", config);
        velmora = spawn({VELMORA_BIN}, config_dir.path());
    }
    // The named window once it and its picture are on screen: it exists, titled, before the manager maps it.
    Window wait_for_window(const char* title) {
        Window w = 0;
        eventually([&] {
            w = find_named(display, DefaultRootWindow(display), title);
            Window picture = w ? picture_of(display, w) : 0;
            return picture && viewable(display, w) && viewable(display, picture);
        });
        return w;
    }
    int wait_for_exit() {
        int status = -1;
        eventually([&] { return waitpid(velmora, &status, WNOHANG) == velmora; });
        velmora = -1;
        return status;
    }

    XvfbServer server;
    TempDir config_dir;
    FakeTools tools;
    std::optional<ScopedEnv> display_env, korvid, home;
    pid_t window_manager = -1, velmora = -1;
    Display* display = nullptr;
};

constexpr uint32_t BUTTON_FACE = 0x0066CC;
constexpr uint32_t HOVER_FACE = 0xF5FFFF;

TEST_F(Dashboard, AWindowThatHoversClicksAndClosesThroughTheWindowManager) {
    start("Terminal:true\nProxy:\n127.0.0.1\nport=22/tcp\n");
    Window frame = wait_for_window("Zeige 1 Server");
    ASSERT_NE(frame, 0u) << "no window titled Zeige 1 Server";
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, frame, &attributes);
    EXPECT_EQ(attributes.width, 800);
    EXPECT_EQ(attributes.height, 200);
    Window picture = picture_of(display, frame);
    ASSERT_NE(picture, 0u);

    // The reload button's face changes colour under the pointer; its hit area starts right of x = 20.
    EXPECT_TRUE(eventually([&] { return pixel(display, picture, 5, 5) == BUTTON_FACE; }));
    XSetInputFocus(display, frame, RevertToPointerRoot, CurrentTime);
    XWarpPointer(display, None, picture, 0, 0, 0, 0, 50, 10);
    XSync(display, False);
    EXPECT_TRUE(eventually([&] { return pixel(display, picture, 5, 5) == HOVER_FACE; }))
        << std::hex << pixel(display, picture, 5, 5);

    // A click on the interval button: its label goes from 3 to 4 seconds.
    XWarpPointer(display, None, picture, 0, 0, 0, 0, 170, 10);
    XSync(display, False);
    EXPECT_TRUE(eventually([&] { return pixel(display, picture, 125, 5) == HOVER_FACE; }));
    std::vector<uint32_t> before = region(display, picture, 120, 1, 110, 18);
    ASSERT_EQ(std::system("/usr/bin/xdotool mousedown 1"), 0);
    EXPECT_TRUE(eventually([&] { return region(display, picture, 120, 1, 110, 18) != before; }));
    ASSERT_EQ(std::system("/usr/bin/xdotool mouseup 1"), 0);

    // The close button of the manager: it asks the program, which ends with status 0.
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = frame;
    message.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = CurrentTime;
    message.xclient.data.l[1] = 2; // a pager or the user
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &message);
    XSync(display, False);
    int status = wait_for_exit();
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Dashboard, SixServersMakeOneWindowOfSixPanels) {
    std::string config = "Terminal:true\nProxy:\n";
    for (int i = 1; i <= 6; ++i) config += "127.0.0." + std::to_string(i) + "\n";
    start(config);
    Window frame = wait_for_window("Zeige 6 Server");
    ASSERT_NE(frame, 0u);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, frame, &attributes);
    EXPECT_EQ(attributes.width, 800);
    EXPECT_EQ(attributes.height, 1200);
}

TEST_F(Dashboard, LosingTheXServerEndsTheProgramInOrder) {
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);
    tools.replay("nslookup", fixture("nslookup_localhost.txt"));
    tools.replay("nmap", fixture("nmap_ftp_ssh.txt"));
    tools.replay("ping", fixture("ping_127.txt"));
    config_dir.write("velmora.cfg", "Terminal:true\nProxy:\n127.0.0.1\n");
    velmora = spawn({VELMORA_BIN}, config_dir.path(), errors[1]);
    close(errors[1]);
    ASSERT_NE(wait_for_window("Zeige 1 Server"), 0u);
    XCloseDisplay(display); // the test's own connection must not see the server go
    display = nullptr;
    kill(server.pid, SIGKILL);
    waitpid(server.pid, nullptr, 0);
    server.pid = -1;
    auto killed = Clock::now();
    pid_t program = velmora;
    int status = wait_for_exit();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed);
    EXPECT_LT(took.count(), 2000);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status); // no crash, no core
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(errors[0]);
    EXPECT_NE(text.find("Verbindung zum X-Server"), std::string::npos) << text;
    EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
    // No shared segment of the program outlives it.
    FILE* list = std::fopen("/proc/sysvipc/shm", "r");
    ASSERT_NE(list, nullptr);
    char line[512];
    bool left = false;
    while (std::fgets(line, sizeof line, list)) {
        long key = 0, id = 0, size = 0;
        int perms = 0, creator = 0;
        if (std::sscanf(line, "%ld %ld %o %ld %d", &key, &id, &perms, &size, &creator) == 5 &&
            creator == program)
            left = true;
    }
    std::fclose(list);
    EXPECT_FALSE(left);
}

// What a long run must keep flat: memory, descriptors, and child processes (none left as zombies).
struct Usage {
    long rss_kb = 0;
    int fds = 0;
    int children = 0, zombies = 0;
};

Usage usage_of(pid_t pid) {
    Usage u;
    std::string status_path = "/proc/" + std::to_string(pid) + "/status";
    if (FILE* f = std::fopen(status_path.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "VmRSS:", 6) == 0) u.rss_kb = std::atol(line + 6);
        std::fclose(f);
    }
    std::string fd_path = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fd_path)) {
        (void)entry;
        ++u.fds;
    }
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        FILE* f = std::fopen((entry.path() / "stat").c_str(), "r");
        if (!f) continue;
        int self = 0, parent = 0;
        char state = 0;
        // The command name may hold blanks; it is bracketed by the first "(" and the last ")".
        char text[1024] = "";
        if (std::fgets(text, sizeof text, f)) {
            const char* close = std::strrchr(text, ')');
            if (close && std::sscanf(text, "%d", &self) == 1 &&
                std::sscanf(close + 1, " %c %d", &state, &parent) == 2 && parent == pid) {
                ++u.children;
                if (state == 'Z') ++u.zombies;
            }
        }
        std::fclose(f);
    }
    return u;
}

// Six panels probed by fake tools that answer at once, for VELMORA_SOAK_SECONDS (60 by default; the soak
// script runs ten minutes).
TEST_F(Dashboard, SoakKeepsMemoryDescriptorsAndChildrenFlat) {
    const char* seconds_text = std::getenv("VELMORA_SOAK_SECONDS");
    int seconds = seconds_text ? std::atoi(seconds_text) : 60;
    std::string config = "Terminal:true\nProxy:\n";
    for (int i = 1; i <= 6; ++i)
        config += "127.0.0." + std::to_string(i) + "\nhttp=127.0.0." + std::to_string(i) + "\n";
    start(config);
    Window frame = wait_for_window("Zeige 6 Server");
    ASSERT_NE(frame, 0u);
    Window picture = picture_of(display, frame);
    // Warm-up: the histories fill and every buffer has its size before the first reading.
    std::this_thread::sleep_for(std::chrono::seconds(std::min(10, seconds / 4)));
    Usage first = usage_of(velmora);
    auto end = Clock::now() + std::chrono::seconds(seconds);
    Usage peak = first;
    // Each reading blacks out a corner as a window uncovering it would, with an Expose: the presenter must
    // paint it again. Then the pointer moves onto the reload button and away: only frames drawn and
    // presented afterwards light its face and put it back. (A corner blacked out without an Expose stays
    // black until its lines change: a frame that draws the same picture sends nothing.)
    XSetInputFocus(display, frame, RevertToPointerRoot, CurrentTime);
    int repaints = 0, hovers = 0, readings = 0;
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        Usage now = usage_of(velmora);
        peak.rss_kb = std::max(peak.rss_kb, now.rss_kb);
        peak.fds = std::max(peak.fds, now.fds);
        peak.zombies = std::max(peak.zombies, now.zombies);
        XClearArea(display, picture, 0, 0, 20, 20, True);
        XSync(display, False);
        ++readings;
        repaints +=
            eventually([&] { return pixel(display, picture, 5, 5) == BUTTON_FACE; }, std::chrono::seconds(2));
        XWarpPointer(display, None, picture, 0, 0, 0, 0, 50, 10);
        XSync(display, False);
        const bool lit =
            eventually([&] { return pixel(display, picture, 5, 5) == HOVER_FACE; }, std::chrono::seconds(2));
        XWarpPointer(display, None, picture, 0, 0, 0, 0, 300, 150);
        XSync(display, False);
        hovers += lit && eventually([&] { return pixel(display, picture, 5, 5) == BUTTON_FACE; },
                                    std::chrono::seconds(2));
    }
    Usage last = usage_of(velmora);
    std::printf("soak %d s: RSS %ld -> %ld kB (peak %ld), fds %d -> %d, zombies at most %d, repainted %d and "
                "hovered %d of %d times\n",
                seconds, first.rss_kb, last.rss_kb, peak.rss_kb, first.fds, last.fds, peak.zombies, repaints,
                hovers, readings);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Sanitizer builds hold freed memory back on purpose; only a plain build's RSS says something.
    EXPECT_LE(last.rss_kb, first.rss_kb + 1024);
#endif
    EXPECT_LE(peak.fds, first.fds + 2); // a probe's pipe may be open at the moment of a reading
    // A reading may fall between a probe's end and its reaping; what must not happen is that they pile up.
    EXPECT_LE(peak.zombies, 1);
    EXPECT_LE(last.children, 1);
    EXPECT_EQ(repaints, readings); // the presenter keeps showing the frame
    EXPECT_EQ(hovers, readings);   // frames keep being drawn and presented
}

} // namespace
