// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include <X11/Xutil.h>

#include "x_test_support.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::optional<std::vector<int>> shm_segment_modes_of(pid_t pid) {
    std::ifstream list("/proc/sysvipc/shm");
    if (!list) return std::nullopt;
    std::vector<int> modes;
    std::string line;
    std::getline(list, line); // the column names
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        long key, id, size;
        int perms;
        pid_t cpid;
        if (fields >> key >> id >> std::oct >> perms >> std::dec >> size >> cpid && cpid == pid)
            modes.push_back(perms & 0777);
    }
    return modes;
}

std::ostream& operator<<(std::ostream& out, const Grabs& grabs) {
    return out << "pointer " << (grabs.pointer ? "grabbed" : "free") << ", keyboard "
               << (grabs.keyboard ? "grabbed" : "free");
}

Grabs grabs_held(Display* observer) {
    Window root = DefaultRootWindow(observer);
    int pointer =
        XGrabPointer(observer, root, False, 0, GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    int keyboard = XGrabKeyboard(observer, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (pointer == GrabSuccess) XUngrabPointer(observer, CurrentTime);
    if (keyboard == GrabSuccess) XUngrabKeyboard(observer, CurrentTime);
    XSync(observer, False);
    return {pointer == AlreadyGrabbed, keyboard == AlreadyGrabbed};
}

int observer_error(Display*, XErrorEvent*) {
    return 0;
}

Window parent_of(Display* display, Window w) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, w, &root, &parent, &children, &count)) return 0;
    if (children) XFree(children);
    return parent;
}

Window only_child_of(Display* display, Window w) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window child = 0;
    if (XQueryTree(display, w, &root, &parent, &children, &count) && count == 1) child = children[0];
    if (children) XFree(children);
    return child;
}

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

bool ping_answered(Display* observer, Window frame, long stamp, std::chrono::milliseconds limit) {
    const Window root = DefaultRootWindow(observer);
    const Atom protocols = XInternAtom(observer, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(observer, "_NET_WM_PING", False);
    XSelectInput(observer, root, SubstructureNotifyMask);
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = frame;
    message.xclient.message_type = protocols;
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(ping);
    message.xclient.data.l[1] = stamp;
    message.xclient.data.l[2] = static_cast<long>(frame);
    XSendEvent(observer, frame, False, NoEventMask, &message);
    XSync(observer, False);
    bool answered = false;
    return eventually(
        [&] {
            while (!answered && XPending(observer)) {
                XEvent event;
                XNextEvent(observer, &event);
                const XClientMessageEvent& reply = event.xclient;
                answered = event.type == ClientMessage && reply.window == root &&
                           reply.message_type == protocols && reply.format == 32 &&
                           reply.data.l[0] == static_cast<long>(ping) && reply.data.l[1] == stamp &&
                           reply.data.l[2] == static_cast<long>(frame);
            }
            return answered;
        },
        limit);
}

void xdotool(const std::string& arguments) {
    ASSERT_EQ(std::system(("/usr/bin/xdotool " + arguments + " >/dev/null 2>&1").c_str()), 0) << arguments;
}

void draw_pattern(ScreenContext& screen, uint32_t salt) {
    gfx_lock();
    {
        const SharedLock held; // the presenter reads the page
        auto* pixels = reinterpret_cast<uint32_t*>(screen.visible_pixels);
        for (int y = 0; y < screen.height; ++y)
            for (int x = 0; x < screen.width; ++x)
                pixels[y * screen.width + x] =
                    0xFF000000u | ((x * 3 + salt) & 0xFF) << 16 | ((y * 5) & 0xFF) << 8 | salt;
    }
    gfx_unlock(ALL_LINES);
}

WindowManagerProcess::WindowManagerProcess(const char* path, Display* observer) {
    pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO), dup2(null, STDERR_FILENO);
        execl(path, path, "--sm-disable", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Ready once it manages a window: the check property comes before the manager takes the maps.
    Window root = DefaultRootWindow(observer);
    Window probe = XCreateSimpleWindow(observer, root, 0, 0, 10, 10, 0, 0, 0);
    XMapWindow(observer, probe);
    running = eventually([&] {
        Window root_return = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(observer, probe, &root_return, &parent, &children, &count);
        if (children) XFree(children);
        return parent != root;
    });
    XDestroyWindow(observer, probe);
    XSync(observer, False);
}

WindowManagerProcess::~WindowManagerProcess() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}
