// The graphics mode's lifecycle: set-mode with its checks and normalisations, closing (also at exit), the
// screen information and the window title.
#include "gfx/screen.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

#include "gfx/input.h"
#include "rt/result.h"
#include "rt/sleep.h"

ScreenContext* gfx_internal::current_screen = nullptr;

namespace {

using gfx_internal::current_screen;
int32_t next_serial = 1;
bool exit_action_registered = false;

constexpr std::size_t TITLE_SIZE = 128; // 127 bytes and the terminating zero
char title_buffer[TITLE_SIZE] = {};
bool title_given = false;

constexpr std::size_t PAGE_ALIGNMENT = 16;

bool depth_allowed(int depth) {
    switch (depth) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 15:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
    }
}

// The executable's file name without its directory and without what follows its last ".". The whole link
// target is read so that a long directory path cannot leave a fragment of a directory name as the title.
std::string executable_name() {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getpid()));
    std::string path(PATH_MAX, '\0');
    ssize_t length = readlink(link, path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return "velmora";
    path.resize(static_cast<std::size_t>(length));
    std::string name = path.substr(path.rfind('/') + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    if (name.size() > TITLE_SIZE - 2) name.resize(TITLE_SIZE - 2);
    return name.empty() ? "velmora" : name;
}

bool allocate_pages(ScreenContext& screen, int page_count) {
    std::size_t bytes = static_cast<std::size_t>(screen.pitch) * static_cast<std::size_t>(screen.height);
    bytes = (bytes + PAGE_ALIGNMENT - 1) / PAGE_ALIGNMENT * PAGE_ALIGNMENT; // aligned_alloc wants a multiple
    screen.pages.reserve(static_cast<std::size_t>(page_count));
    for (int i = 0; i < page_count; ++i) {
        auto* page = static_cast<uint8_t*>(std::aligned_alloc(PAGE_ALIGNMENT, bytes));
        if (!page) return false;
        screen.pages.emplace_back(page);
    }
    screen.page_count = page_count;
    return true;
}

// Palette depths show the 256-colour default palette; entries are kept as 0x00BBGGRR.
void load_default_palette(ScreenContext& screen) {
    const PaletteDesc& palette = *screen.default_palette;
    SharedLock held; // the presenter converts through it
    for (int i = 0; i < palette.colour_count && i < 256; ++i) {
        const uint8_t* rgb = palette.rgb + 3 * i;
        screen.shared.in(held).palette[i] = uint32_t{rgb[0]} | uint32_t{rgb[1]} << 8 | uint32_t{rgb[2]} << 16;
        if (screen.driver->set_palette_entry) screen.driver->set_palette_entry(i, rgb[0], rgb[1], rgb[2]);
    }
}

void fill_pages_with_background(ScreenContext& screen, const DrawContext& dc) {
    std::size_t pixels = static_cast<std::size_t>(screen.width) * static_cast<std::size_t>(screen.height);
    for (PageBuffer& page : screen.pages) dc.fill_span(page.get(), dc.background, pixels);
}

void close_at_exit() {
    gfx_close_mode();
}

} // namespace

void PageFree::operator()(uint8_t* page) const {
    std::free(page);
}

void gfx_close_mode() {
    ScreenContext* screen = current_screen;
    if (!screen) return;
    // A mode closed inside a frame (exit in the middle of one) may still hold the driver lock; a driver whose
    // close waits for its presenter would wait for that lock forever.
    if (screen->driver_holds > 0 && screen->driver && screen->driver->unlock) screen->driver->unlock();
    screen->driver_holds = 0;
    screen->lock_count = 0;
    if (screen->driver && screen->driver->close) screen->driver->close();
    current_screen = nullptr;
    rt_set_sleep_key_check(nullptr);
    delete screen;
}

void gfx_set_mode(int width, int height, int depth, int pages, int flags, int refresh_rate) {
    if (width <= 0 || height <= 0 || !depth_allowed(depth)) {
        rt_set_error(RT_NOT_ALLOWED);
        return;
    }
    if (pages <= 0) pages = 1;
    if (flags >= 0 && (flags & SET_MODE_SHAPED))
        flags |= SET_MODE_SHAPED | SET_MODE_FRAMELESS | SET_MODE_NO_TOGGLE;
    if (flags >= 0 && (flags & SET_MODE_AT_LEAST_16_BIT) && depth < 16) depth = 16;

    int bytes_per_pixel = depth >= 24 ? 4 : depth >= 15 ? 2 : 1;
    // A line longer than a signed 32-bit pitch cannot be addressed; refuse it before the old mode goes.
    if (static_cast<int64_t>(width) * bytes_per_pixel > INT32_MAX) {
        rt_set_error(RT_NOT_ALLOWED);
        return;
    }

    gfx_close_mode();

    auto* screen = new (std::nothrow) ScreenContext;
    if (!screen) {
        rt_set_error(RT_NOT_ALLOWED);
        return;
    }
    screen->serial = next_serial++;
    screen->mode_number = -1;
    screen->width = width;
    screen->height = height;
    screen->bytes_per_pixel = bytes_per_pixel;
    if (depth >= 24) {
        screen->depth = 32;
        screen->default_colour = 0xFFFFFFFF;
    } else if (depth >= 15) {
        screen->depth = 16;
        screen->default_colour = 0xFFFF;
    } else {
        screen->depth = depth;
        screen->default_colour = (1u << depth) - 1;
    }
    screen->default_palette = gfx_palette(256);
    screen->line_factor = 1;
    screen->font = &gfx_font_8x8();
    screen->aspect = 1.0f;
    screen->pitch = bytes_per_pixel * width;
    if (!allocate_pages(*screen, pages)) {
        delete screen;
        rt_set_error(RT_NOT_ALLOWED);
        return;
    }
    screen->visible_page = 0;
    screen->visible_pixels = screen->pages[0].get();
    {
        const NoDriverYet building;
        screen->shared.in(building).dirty_lines.entries.assign(
            static_cast<std::size_t>(screen->line_factor) * height, 0);
    }
    screen->mode_flags = flags != -1 ? static_cast<uint32_t>(flags) & SET_MODE_ALPHA : 0;

    // The driver presents this context from its open on, so it must already be the current one, with its
    // pages filled: a driver's presenter may show them before set-mode returns.
    current_screen = screen;
    fill_pages_with_background(*screen, *gfx_draw_context());
    std::string title = gfx_title();
    const ScreenDriver* driver = gfx_select_driver(title.c_str(), width, height * screen->line_factor,
                                                   screen->depth, refresh_rate, flags);
    if (!driver) {
        current_screen = nullptr;
        delete screen;
        rt_set_error(RT_NOT_ALLOWED);
        return;
    }
    screen->driver = driver;
    if (screen->depth <= 8) load_default_palette(*screen);
    screen->text_columns = width / 8;
    screen->text_rows = height / 8;

    if (!exit_action_registered) {
        exit_action_registered = std::atexit(close_at_exit) == 0;
    }
    // From now on keys can arrive, and a key-interruptible sleep looks for them.
    rt_set_sleep_key_check(input_take_key_posted);
    rt_set_error(RT_OK);
}

void gfx_screen_info(int64_t* width, int64_t* height, int64_t* depth, int64_t* bytes_per_pixel,
                     int64_t* pitch, int64_t* refresh_rate, std::string* driver_name) {
    if (const ScreenContext* screen = current_screen) {
        *width = screen->width;
        *height = screen->height;
        *depth = screen->depth;
        *bytes_per_pixel = screen->bytes_per_pixel;
        *pitch = screen->pitch;
        {
            // The presenter changes the rate when it switches the display.
            SharedLock held;
            *refresh_rate = screen->shared.in(held).refresh_rate;
        }
        *driver_name = screen->driver->name ? screen->driver->name : "";
        return;
    }
    int w = 0, h = 0, d = 0, rate = 0;
    (void)gfx_query_desktop(&w, &h, &d, &rate);
    *width = w;
    *height = h;
    *depth = d;
    *bytes_per_pixel = 0;
    *pitch = 0;
    *refresh_rate = rate;
    driver_name->clear();
}

void gfx_set_title(std::string_view title) {
    std::memset(title_buffer, 0, TITLE_SIZE);
    std::size_t length = title.size() < TITLE_SIZE - 1 ? title.size() : TITLE_SIZE - 1;
    std::memcpy(title_buffer, title.data(), length);
    title_given = true;
    if (current_screen && current_screen->driver->set_caption)
        current_screen->driver->set_caption(title_buffer);
}

std::string gfx_title() {
    return title_given ? std::string(title_buffer) : executable_name();
}
