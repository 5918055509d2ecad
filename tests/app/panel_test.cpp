// The server panel on the null driver: its picture pixel by pixel at the layout's coordinates, its buttons
// with a steered clock, and the command lines its buttons and schedule run (fake tools and a fake
// terminal that log their argv).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/dashboard.h"
#include "app/panel.h"
#include "gfx/fonts.h"
#include "gfx/line.h"
#include "gfx/screen.h"
#include "rt/clock.h"
#include "tests/app/test_support.h"

namespace {

constexpr uint32_t BACKGROUND = 0xFF1E1E1E;
constexpr uint32_t FACE = 0xFF0066CC;
constexpr uint32_t LIGHT = 0xFFF5FFFF;
constexpr uint32_t DARK = 0xFF010101;
constexpr uint32_t RULE = 0xFF888B8B;
constexpr uint32_t WARNING = 0xFFE06C75;
constexpr uint32_t WHITE = 0xFFFFFFFF;
constexpr uint32_t BLACK = 0xFF000000;
constexpr uint32_t GREEN = 0xFF00C800;
constexpr uint32_t RED = 0xFFC80000;
constexpr int WIDTH = 800;
constexpr int NULL_DRIVER = -1;

// The clock the panel reads: a base the test sets, plus a step for every tool run logged so far, so that a
// time read after an action differs from the one read before it.
struct SteeredClock {
    double base = 1000;
    double per_call = 0;
    const FakeTools* tools = nullptr;
};
SteeredClock g_clock;
double steered_now() {
    const double calls = g_clock.tools ? static_cast<double>(g_clock.tools->calls().size()) : 0;
    return g_clock.base + g_clock.per_call * calls;
}

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

uint32_t pixel(int x, int y) {
    const ScreenContext& s = *gfx_screen();
    uint32_t v;
    std::memcpy(&v, s.visible_pixels + static_cast<std::size_t>(y) * s.pitch + x * 4, 4);
    return v;
}

// The picture as a PPM under the test's temporary directory; returns its path.
std::string save_picture() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    const std::string path = testing::TempDir() + "velmora-panel-" + name + ".ppm";
    const ScreenContext& s = *gfx_screen();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fprintf(f, "P6\n%d %d\n255\n", s.width, s.height);
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                const uint32_t v = pixel(x, y);
                const unsigned char rgb[3] = {static_cast<unsigned char>(v >> 16),
                                              static_cast<unsigned char>(v >> 8),
                                              static_cast<unsigned char>(v)};
                std::fwrite(rgb, 1, 3, f);
            }
        std::fclose(f);
    }
    return path;
}

testing::AssertionResult wrong_pixel(int x, int y, uint32_t want, uint32_t got) {
    return testing::AssertionFailure()
           << "first wrong pixel (" << x << ", " << y << "): expected " << hex(want) << ", actual "
           << hex(got) << "; picture saved as " << save_picture();
}

// A text in the 8x14 font at (x, y) in one colour.
struct Ink {
    int x, y;
    std::string text;
    uint32_t colour;
};

bool inked(const Ink& t, int x, int y) {
    const int col = x - t.x, row = y - t.y;
    if (col < 0 || row < 0 || row >= 14 || col >= 8 * static_cast<int>(t.text.size())) return false;
    const uint8_t code = static_cast<uint8_t>(t.text[static_cast<std::size_t>(col / 8)]);
    return (gfx_glyph(gfx_font_8x14(), code)[row] >> (col % 8)) & 1;
}

// Every pixel of the inclusive region that lies on the screen: the colour of the last text with ink there,
// else base.
testing::AssertionResult region_is(int x1, int y1, int x2, int y2, uint32_t base,
                                   const std::vector<Ink>& texts = {}) {
    const ScreenContext& s = *gfx_screen();
    for (int y = std::max(y1, 0); y <= std::min(y2, s.height - 1); ++y)
        for (int x = std::max(x1, 0); x <= std::min(x2, s.width - 1); ++x) {
            uint32_t want = base;
            for (const Ink& t : texts)
                if (inked(t, x, y)) want = t.colour;
            if (pixel(x, y) != want) return wrong_pixel(x, y, want, pixel(x, y));
        }
    return testing::AssertionSuccess();
}

// The text's cells: ink in its colour, paper around it; rows of the glyphs from first_row on.
testing::AssertionResult text_is(int x, int y, const std::string& text, uint32_t ink, uint32_t paper,
                                 int first_row = 0) {
    const int right = x + 8 * static_cast<int>(text.size()) - 1;
    return region_is(x, y + first_row, right, y + 13, paper, {{x, y, text, ink}});
}

// Only the ink of the text, whatever lies around it.
testing::AssertionResult ink_is(int x, int y, const std::string& text, uint32_t ink) {
    const Ink t{x, y, text, ink};
    for (int yy = y; yy < y + 14; ++yy)
        for (int xx = x; xx < x + 8 * static_cast<int>(text.size()); ++xx)
            if (inked(t, xx, yy) && xx < WIDTH && pixel(xx, yy) != ink)
                return wrong_pixel(xx, yy, ink, pixel(xx, yy));
    return testing::AssertionSuccess();
}

testing::AssertionResult pixel_is(int x, int y, uint32_t want) {
    if (pixel(x, y) != want) return wrong_pixel(x, y, want, pixel(x, y));
    return testing::AssertionSuccess();
}

// Pointer positions that touch no button and show no read-out.
constexpr int64_t AWAY_X = 5, AWAY_Y = 190;

class PanelTest : public testing::Test {
  protected:
    FakeTools tools{"nslookup", "nmap", "ping", "httping", "term"};
    ServerTable table;
    DashboardState state;

    void SetUp() override {
        g_clock = {1000, 0, &tools};
        panel_clock = steered_now;
        state.mouse_x = AWAY_X;
        state.mouse_y = AWAY_Y;
        state.terminal_command = "term -e";
    }
    void TearDown() override {
        panel_clock = rt_timer;
        gfx_close_mode();
    }

    // A server that is up and whose next probe is not due before the clock passes 1003.
    ServerRecord& add(const std::string& name) {
        ServerRecord& r = table.servers.at(table.server_count++);
        r.name = name;
        r.up = 1;
        r.interval = 3;
        r.last_probe = 1000;
        return r;
    }

    // The main loop's frame, on the null driver of a window one panel high per server.
    void frame() {
        if (!gfx_screen() || gfx_screen()->height != PANEL_HEIGHT * table.server_count) {
            ASSERT_TRUE(setup_screen(state, table.server_count, NULL_DRIVER));
        }
        draw_frame(table, state);
    }
    void point(int64_t x, int64_t y, int64_t buttons = 0) {
        state.mouse_x = x;
        state.mouse_y = y;
        state.mouse_buttons = buttons;
    }
};

// The left half of a fresh panel at T = 0: buttons, information block, port lines, SSH button; then the
// graph area before any sample.
TEST_F(PanelTest, LayoutBeforeTheFirstSample) {
    ServerRecord& r = add("alpha");
    r.alias = "alpha.example";
    r.ip = "127.0.0.9";
    r.nmap_lines[1] = "22/tcp    open   ssh";
    r.nmap_lines[2] = "80/tcp    open   http";
    frame();

    EXPECT_TRUE(region_is(0, 0, 799, 0, RULE));
    EXPECT_TRUE(region_is(0, 1, 100, 19, FACE, {{20, 3, "Neuladen", LIGHT}}));
    EXPECT_TRUE(region_is(101, 1, 119, 19, BACKGROUND));
    EXPECT_TRUE(region_is(120, 1, 230, 19, FACE, {{128, 3, "Ping alle 3s", LIGHT}}));
    EXPECT_TRUE(region_is(231, 1, 399, 19, BACKGROUND));
    EXPECT_TRUE(region_is(0, 20, 399, 64, BACKGROUND,
                          {{10, 20, "Name:  alpha", LIGHT},
                           {10, 35, "Alias: alpha.example", LIGHT},
                           {10, 50, "IP:    127.0.0.9", LIGHT}}));
    EXPECT_TRUE(region_is(0, 65, 399, 65, RULE));
    EXPECT_TRUE(region_is(0, 66, 299, 196, BACKGROUND,
                          {{10, 67, "NMAP:", LIGHT},
                           {70, 67, "22/tcp    open   ssh", LIGHT},
                           {70, 82, "80/tcp    open   http", LIGHT}}));
    EXPECT_TRUE(region_is(300, 67, 390, 81, FACE, {{306, 67, "SSH-Client", LIGHT}}));
    EXPECT_TRUE(region_is(300, 66, 399, 66, BACKGROUND));
    EXPECT_TRUE(region_is(391, 67, 399, 81, BACKGROUND));
    EXPECT_TRUE(region_is(300, 82, 399, 196, BACKGROUND));

    EXPECT_TRUE(region_is(400, 0, 400, 197, RULE));
    // The main loop closes the last panel at the bottom.
    EXPECT_TRUE(region_is(0, 197, 799, 197, RULE));
    EXPECT_TRUE(region_is(0, 198, 799, 199, BACKGROUND));
    EXPECT_TRUE(region_is(401, 1, 799, 196, WHITE, {{405, 2, "0. ms", BLACK}, {405, 182, "0 ms", BLACK}}));
    EXPECT_TRUE(tools.calls().empty());
}

// Before its first lookup and scan have ended nothing is known of the server: its name and its buttons, no
// notice though it is not up, no missing port, and no probe however long ago the last one was.
TEST_F(PanelTest, BeforeTheFirstScanOnlyTheNameAndTheButtons) {
    ServerRecord& r = add("alpha");
    r.up = 0;
    r.awaiting_scan = true;
    r.last_probe = 0;
    r.expected_ports[1] = "22/tcp";
    frame();
    EXPECT_TRUE(region_is(0, 1, 100, 19, FACE, {{20, 3, "Neuladen", LIGHT}}));
    EXPECT_TRUE(region_is(120, 1, 230, 19, FACE, {{128, 3, "Ping alle 3s", LIGHT}}));
    EXPECT_TRUE(
        region_is(0, 20, 399, 64, BACKGROUND,
                  {{10, 20, "Name:  alpha", LIGHT}, {10, 35, "Alias: ", LIGHT}, {10, 50, "IP:    ", LIGHT}}));
    EXPECT_TRUE(region_is(0, 66, 399, 196, BACKGROUND, {{10, 67, "NMAP:", LIGHT}}));
    EXPECT_TRUE(tools.calls().empty());
    // Once it has ended, the same record shows what its scan found: here, nothing.
    r.awaiting_scan = false;
    r.last_probe = 5000;
    frame();
    EXPECT_TRUE(region_is(60, 67, 399, 95, BACKGROUND,
                          {{70, 67, "22/tcp fehlt", WARNING}, {70, 67, "Host nicht erreichbar", WARNING}}));
}

// Six panels stacked: each at T = 200 i with its own name and interval, the line at T - 3 closing the panel
// above, and the rows between them left to the background.
TEST_F(PanelTest, SixPanels) {
    for (int i = 0; i < MAX_SERVERS; ++i) {
        ServerRecord& r = add("host" + std::to_string(i));
        r.interval = static_cast<int8_t>(i + 5);
    }
    frame();
    ASSERT_EQ(gfx_screen()->height, 1200);
    for (int i = 0; i < MAX_SERVERS; ++i) {
        SCOPED_TRACE("panel " + std::to_string(i));
        const int t = 200 * i;
        const std::string interval = "Ping alle " + std::to_string(i + 5) + "s";
        EXPECT_TRUE(region_is(0, t, 799, t, RULE));
        EXPECT_TRUE(region_is(0, t + 1, 100, t + 19, FACE, {{20, t + 3, "Neuladen", LIGHT}}));
        EXPECT_TRUE(region_is(120, t + 1, 230, t + 19, FACE, {{128, t + 3, interval, LIGHT}}));
        EXPECT_TRUE(text_is(10, t + 20, "Name:  host" + std::to_string(i), LIGHT, BACKGROUND));
        EXPECT_TRUE(region_is(400, t, 400, t + 197, RULE));
        EXPECT_TRUE(region_is(401, t + 16, 799, t + 181, WHITE));
        if (i > 0) {
            EXPECT_TRUE(region_is(0, t - 3, 799, t - 3, RULE));
            EXPECT_TRUE(region_is(0, t - 2, 799, t - 1, BACKGROUND));
            EXPECT_TRUE(region_is(0, t - 4, 399, t - 4, BACKGROUND));
            EXPECT_TRUE(region_is(401, t - 4, 799, t - 4, WHITE));
        }
    }
    // The main loop closes the last panel, as each panel closes the one above.
    EXPECT_TRUE(region_is(0, 1196, 399, 1196, BACKGROUND));
    EXPECT_TRUE(region_is(401, 1196, 799, 1196, WHITE));
    EXPECT_TRUE(region_is(0, 1197, 799, 1197, RULE));
    EXPECT_TRUE(region_is(0, 1198, 799, 1199, BACKGROUND));
}

// Latencies chosen so that every height is a whole pixel: ping samples 160..190 (maximum 190, scale 1)
// with the newest 150, HTTP samples 60..85 (maximum 85, scale 1) with the newest 50.
double ping_sample(int k) {
    return k == 100 ? 150 : 160 + (k * 7) % 31;
}
double http_sample(int k) {
    return k == 100 ? 50 : 60 + (k * 5) % 26;
}
void fill_histories(ServerRecord& r, bool http) {
    for (int k = 1; k <= HISTORY_LENGTH; ++k) {
        r.ping_history[k] = ping_sample(k);
        r.ping_times[k] = "12:00:" + std::string(k < 10 ? "0" : "") + std::to_string(k % 60);
        if (http) r.http_history[k] = http_sample(k);
    }
    if (http) r.http_target = "127.0.0.1:8089";
}

// The dash pattern 0xFF00 from x = 401: eight pixels on, eight off.
testing::AssertionResult dashed(int x1, int x2, int y) {
    for (int x = x1; x <= x2; ++x) {
        const uint32_t want = (x - 401) % 16 < 8 ? RULE : WHITE;
        if (pixel(x, y) != want) return wrong_pixel(x, y, want, pixel(x, y));
    }
    return testing::AssertionSuccess();
}

// Both ends of every segment lie on the curve's colour: sample k at (450 + 3k, T + 196 - v).
testing::AssertionResult curve(int top, double (*sample)(int), uint32_t ink) {
    for (int k = 1; k <= HISTORY_LENGTH; ++k) {
        const int x = 450 + 3 * k, y = top + 196 - static_cast<int>(sample(k));
        if (pixel(x, y) != ink) return wrong_pixel(x, y, ink, pixel(x, y)) << " (sample " << k << ")";
    }
    return testing::AssertionSuccess();
}

TEST_F(PanelTest, PingGraphWithScaleLabels) {
    add("lead");
    fill_histories(add("alpha"), false);
    frame();
    const int t = 200;
    EXPECT_TRUE(curve(t, ping_sample, GREEN));
    // The maximum's label runs under the first samples of the curve.
    EXPECT_TRUE(region_is(401, t + 1, 452, t + 15, WHITE, {{405, t + 2, "190. ms", BLACK}}));
    EXPECT_TRUE(ink_is(405, t + 2, "190. ms", BLACK));
    EXPECT_TRUE(text_is(405, t + 182, "0 ms", BLACK, WHITE));
    // The newest value's dashed line at T + 46 and its label, whose glyph rows below the line are clear.
    EXPECT_TRUE(dashed(401, 452, t + 46));
    EXPECT_TRUE(dashed(790, 799, t + 46));
    EXPECT_TRUE(text_is(710, t + 46, "Ping 150. ms", GREEN, WHITE, 1));
    EXPECT_TRUE(ink_is(710, t + 46, "Ping 150. ms", GREEN));
    EXPECT_TRUE(region_is(401, t + 16, 452, t + 45, WHITE));
    EXPECT_TRUE(region_is(401, t + 47, 799, t + 181, WHITE, {{710, t + 46, "Ping 150. ms", GREEN}}));
    EXPECT_TRUE(region_is(751, t + 1, 799, t + 45, WHITE));
}

// Each segment runs from sample k back to sample k - 1; a line's pixels depend on its direction, so the
// curve is compared with one drawn that way, in the rows only the curve reaches.
TEST_F(PanelTest, CurveSegmentsRunBackToThePreviousSample) {
    ServerRecord& r = add("alpha");
    for (int k = 1; k <= HISTORY_LENGTH; ++k) r.ping_history[k] = 160 + (k * 13) % 31 + (k % 2) * 0.5;
    r.ping_history[7] = 190;
    r.ping_history[100] = 150;        // its dashed line below the rows compared
    r.http_target = "127.0.0.1:8089"; // no scale labels in the way
    frame();
    // The reference: the same segments drawn right to left on white paper.
    const int x1 = 453, x2 = 700, y1 = 1, y2 = 45;
    gfx_line(nullptr, x1, y1, x2, y2, WHITE, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    for (int k = 2; k <= HISTORY_LENGTH; ++k)
        gfx_line(nullptr, static_cast<float>(450 + 3 * k), static_cast<float>(196 - r.ping_history[k]),
                 static_cast<float>(447 + 3 * k), static_cast<float>(196 - r.ping_history[k - 1]), GREEN,
                 LINE_MODE_LINE, LINE_SOLID, 0);
    std::vector<uint32_t> reference;
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x) reference.push_back(pixel(x, y));
    frame();
    std::size_t i = 0;
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x, ++i)
            if (reference[i] != pixel(x, y)) {
                ADD_FAILURE() << wrong_pixel(x, y, reference[i], pixel(x, y)).message();
                return;
            }
}

TEST_F(PanelTest, PingAndHttpGraphs) {
    fill_histories(add("alpha"), true);
    frame();
    EXPECT_TRUE(curve(0, ping_sample, GREEN));
    EXPECT_TRUE(curve(0, http_sample, RED));
    EXPECT_TRUE(dashed(401, 452, 46));
    EXPECT_TRUE(dashed(401, 452, 146));
    EXPECT_TRUE(dashed(790, 799, 146));
    EXPECT_TRUE(text_is(710, 46, "Ping 150. ms", GREEN, WHITE, 1));
    EXPECT_TRUE(text_is(710, 146, "HTTP 50. ms", RED, WHITE, 1));
    // No scale labels with an HTTP graph.
    EXPECT_TRUE(region_is(401, 1, 452, 45, WHITE));
    EXPECT_TRUE(region_is(401, 147, 799, 196, WHITE, {{710, 146, "HTTP 50. ms", RED}}));
    EXPECT_TRUE(region_is(401, 47, 452, 145, WHITE));
}

TEST_F(PanelTest, EmptyHistoriesLeaveTheGraphWhite) {
    struct Case {
        bool http;
        bool ping_samples;
    };
    for (const Case c : {Case{true, false}, Case{true, true}}) {
        table = {};
        ServerRecord& r = add("alpha");
        r.http_target = "127.0.0.1:8089";
        if (c.ping_samples) r.ping_history[100] = 190;
        frame();
        if (c.ping_samples) {
            // The ping curve climbs from the zeros to its one sample; nothing of the HTTP history.
            EXPECT_TRUE(region_is(401, 1, 799, 5, WHITE));
            EXPECT_TRUE(dashed(401, 709, 6));
            EXPECT_TRUE(region_is(401, 7, 746, 195, WHITE, {{710, 6, "Ping 190. ms", GREEN}}));
            EXPECT_TRUE(region_is(453, 196, 747, 196, GREEN));
        } else {
            EXPECT_TRUE(region_is(401, 1, 799, 196, WHITE));
        }
    }
}

// Which of the four buttons is lit for a pointer position (left button up), on the second panel, with FTP
// on port line 3 (R = T + 97) and SSH on port line 4 (R = T + 112).
TEST_F(PanelTest, HoverLightsExactlyTheButtonUnderThePointer) {
    enum Lit { NONE, RELOAD, INTERVAL, FTP, SSH };
    struct Case {
        int64_t x, y_offset;
        Lit lit;
    };
    const Case cases[] = {
        {50, 10, RELOAD}, {21, 1, RELOAD},  {99, 18, RELOAD}, {20, 10, NONE},     {100, 10, NONE},
        {50, 0, NONE},    {50, 19, NONE},   {10, 10, NONE},   {121, 1, INTERVAL}, {229, 18, INTERVAL},
        {120, 10, NONE},  {230, 10, NONE},  {175, 19, NONE},  {301, 98, FTP},     {389, 110, FTP},
        {300, 105, NONE}, {390, 105, NONE}, {345, 97, NONE},  {345, 111, NONE},   {345, 113, SSH},
        {345, 125, SSH},  {345, 112, NONE}, {345, 126, NONE}, {-1, -1, NONE},
    };
    add("lead");
    ServerRecord& r = add("alpha");
    r.nmap_lines[3] = "21/tcp    open   ftp";
    r.nmap_lines[4] = "22/tcp    open   ssh";
    const int t = 200;
    for (const Case& c : cases) {
        SCOPED_TRACE("pointer " + std::to_string(c.x) + ", T+" + std::to_string(c.y_offset));
        point(c.x, c.x < 0 ? -1 : t + c.y_offset, c.x < 0 ? -1 : 0);
        frame();
        const uint32_t reload = c.lit == RELOAD ? LIGHT : FACE, reload_ink = c.lit == RELOAD ? DARK : LIGHT;
        const uint32_t interval = c.lit == INTERVAL ? LIGHT : FACE,
                       interval_ink = c.lit == INTERVAL ? DARK : LIGHT;
        EXPECT_TRUE(region_is(0, t + 1, 100, t + 19, reload, {{20, t + 3, "Neuladen", reload_ink}}));
        EXPECT_TRUE(
            region_is(120, t + 1, 230, t + 19, interval, {{128, t + 3, "Ping alle 3s", interval_ink}}));
        // The FTP face ends at R + 13 and grows to R + 14 when lit; the SSH face is always R + 14 high.
        if (c.lit == FTP) {
            EXPECT_TRUE(region_is(300, t + 97, 390, t + 111, LIGHT, {{306, t + 97, "FTP-Client", DARK}}));
        } else {
            EXPECT_TRUE(region_is(300, t + 97, 390, t + 110, FACE, {{306, t + 97, "FTP-Client", LIGHT}}));
            EXPECT_TRUE(region_is(300, t + 111, 390, t + 111, BACKGROUND));
        }
        const uint32_t ssh = c.lit == SSH ? LIGHT : FACE, ssh_ink = c.lit == SSH ? DARK : LIGHT;
        EXPECT_TRUE(region_is(300, t + 112, 390, t + 126, ssh, {{306, t + 112, "SSH-Client", ssh_ink}}));
        EXPECT_TRUE(region_is(
            70, t + 97, 299, t + 126, BACKGROUND,
            {{70, t + 97, "21/tcp    open   ftp", LIGHT}, {70, t + 112, "22/tcp    open   ssh", LIGHT}}));
    }
    EXPECT_TRUE(tools.calls().empty());
    EXPECT_EQ(r.interval, 3);
}

// A pointer outside the window (all values -1) draws exactly what a pointer on no button draws.
TEST_F(PanelTest, PointerOutsideTheWindowDrawsNothingOfItsOwn) {
    fill_histories(add("alpha"), true);
    add("beta").nmap_lines[1] = "21/tcp    open   ftp";
    frame();
    const ScreenContext& s = *gfx_screen();
    const std::vector<uint8_t> away(s.visible_pixels, s.visible_pixels + s.pitch * s.height);
    point(-1, -1, -1);
    frame();
    EXPECT_TRUE(std::equal(away.begin(), away.end(), s.visible_pixels)) << save_picture();
}

// A host that is down: the notice is drawn last, over port line 1 or over the first missing port.
TEST_F(PanelTest, HostDownNotice) {
    ServerRecord& with_ports = add("alpha");
    with_ports.up = 0;
    with_ports.last_probe = 5000;
    with_ports.nmap_lines[1] = "80/tcp    open   http";
    with_ports.nmap_lines[2] = "443/tcp   open   https";
    with_ports.expected_ports[1] = "80/tcp";
    ServerRecord& without = add("beta");
    without.up = 0;
    without.last_probe = 5000;
    without.expected_ports[1] = "25/tcp";
    without.expected_ports[2] = "80";
    frame();
    EXPECT_TRUE(region_is(70, 67, 299, 95, BACKGROUND,
                          {{70, 67, "80/tcp    open   http", LIGHT},
                           {70, 82, "443/tcp   open   https", LIGHT},
                           {70, 67, "Host nicht erreichbar", WARNING}}));
    EXPECT_TRUE(region_is(70, 96, 399, 196, BACKGROUND));
    EXPECT_TRUE(region_is(60, 267, 399, 295, BACKGROUND,
                          {{70, 267, "25/tcp fehlt", WARNING},
                           {70, 282, "80 fehlt", WARNING},
                           {70, 267, "Host nicht erreichbar", WARNING}}));
    EXPECT_TRUE(tools.calls().empty()) << "no ping was due";
}

// The rows of missing ports count on from the last non-empty port line, not from the number of lines.
TEST_F(PanelTest, MissingPortsFollowTheLastPortLine) {
    ServerRecord& r = add("alpha");
    r.nmap_lines[3] = "25/tcp    open   smtp";
    r.nmap_lines[5] = "80/tcp    open   http";
    r.expected_ports[2] = "443/tcp"; // entry 1 empty: always present
    r.expected_ports[4] = "25";
    r.expected_ports[6] = "993";
    frame();
    EXPECT_TRUE(region_is(70, 66, 299, 196, BACKGROUND,
                          {{70, 97, "25/tcp    open   smtp", LIGHT},
                           {70, 127, "80/tcp    open   http", LIGHT},
                           {70, 142, "443/tcp fehlt", WARNING},
                           {70, 157, "993 fehlt", WARNING}}));
}

// Missing ports follow the last non-empty port line; past row 9 they run into the next panel, which covers
// them only where it draws.
TEST_F(PanelTest, MissingPortsRunIntoTheNextPanel) {
    ServerRecord& r = add("alpha");
    for (int i = 1; i <= 7; ++i) r.nmap_lines[i] = std::to_string(1000 + i) + "/tcp open x";
    const char* expected[] = {"1003/tcp", "9001", "9002", "9003", "9004", "9005", "1007"};
    for (int j = 0; j < 7; ++j) r.expected_ports[static_cast<std::size_t>(j + 1)] = expected[j];
    r.expected_ports[10] = "9999"; // entry 10 is never checked
    add("beta");
    frame();
    // Rows 8 and 9 inside the panel; rows 10 to 12 at T + 202, 217 and 232 of the next.
    EXPECT_TRUE(region_is(150, 172, 399, 199 - 3, BACKGROUND));
    EXPECT_TRUE(text_is(70, 172, "9001 fehlt", WARNING, BACKGROUND));
    EXPECT_TRUE(region_is(70, 187, 399, 196, BACKGROUND, {{70, 187, "9002 fehlt", WARNING}}));
    const std::vector<Ink> spill = {
        {70, 202, "9003 fehlt", WARNING}, {70, 217, "9004 fehlt", WARNING}, {70, 232, "9005 fehlt", WARNING}};
    EXPECT_TRUE(region_is(101, 201, 119, 219, BACKGROUND, spill));
    EXPECT_TRUE(region_is(98, 220, 160, 249, BACKGROUND, spill));
    EXPECT_TRUE(region_is(0, 201, 100, 219, FACE, {{20, 203, "Neuladen", LIGHT}}));
}

// The read-out of sample m for a pointer at 449 + 3m .. 451 + 3m, m = 2..100, inside the panel.
TEST_F(PanelTest, ReadOutPicksTheSampleUnderThePointer) {
    struct Case {
        int64_t x, y;
        int m; // 0: no read-out
    };
    const Case cases[] = {{455, 100, 2},   {454, 100, 0}, {629, 100, 60}, {631, 100, 60}, {632, 100, 61},
                          {751, 100, 100}, {752, 100, 0}, {629, 0, 0},    {629, 1, 60},   {629, 199, 60},
                          {629, 200, 0},   {629, -1, 0},  {-1, -1, 0}};
    ServerRecord& r = add("alpha");
    fill_histories(r, false);
    add("beta");
    for (const Case& c : cases) {
        SCOPED_TRACE("pointer " + std::to_string(c.x) + ", " + std::to_string(c.y));
        point(c.x, c.y);
        frame();
        for (int m = 1; m <= 100; ++m) {
            const bool marked = pixel(450 + 3 * m, 190) == RULE;
            EXPECT_EQ(marked, m == c.m) << "marker of sample " << m;
        }
    }
    // A sample of 0 is never read out.
    r.ping_history[60] = 0;
    point(630, 100);
    frame();
    EXPECT_TRUE(pixel_is(630, 100, WHITE));
}

TEST_F(PanelTest, ReadOutWithoutHttp) {
    ServerRecord& r = add("alpha");
    fill_histories(r, false);
    r.ping_history[60] = 12.345; // stored just below, so it keeps 12.34
    r.ping_times[60] = "09:08:07";
    point(630, 100);
    frame();
    EXPECT_TRUE(region_is(630, 0, 630, 196, RULE));
    // Box from x + 10, y - 2 to x + 14 + 8 x the stamp's length, y + 30.
    EXPECT_TRUE(
        region_is(640, 98, 708, 130, RULE, {{642, 100, "12.34 ms", DARK}, {642, 115, "09:08:07", DARK}}));
    EXPECT_TRUE(region_is(709, 98, 709, 130, WHITE, {{710, 46, "Ping 150. ms", GREEN}}));
    EXPECT_TRUE(region_is(640, 131, 708, 131, WHITE));
}

TEST_F(PanelTest, ReadOutWithHttp) {
    ServerRecord& r = add("alpha");
    fill_histories(r, true);
    r.ping_history[60] = 7;
    r.http_history[60] = 0.5;
    r.ping_times[60] = "23:59:58";
    point(629, 60);
    frame();
    EXPECT_TRUE(region_is(630, 0, 630, 196, RULE));
    // "0.5 ms HTTP" is 11 characters: the box reaches x + 22 + 88 and y + 45.
    EXPECT_TRUE(region_is(
        639, 58, 739, 105, RULE,
        {{641, 60, "7. ms Ping", DARK}, {641, 75, "0.5 ms HTTP", DARK}, {641, 90, "23:59:58", DARK}}));
    EXPECT_TRUE(region_is(740, 47, 740, 110, WHITE, {{710, 46, "Ping 150. ms", GREEN}}));
    EXPECT_TRUE(region_is(639, 106, 739, 106, WHITE));
}

// Where the box would cross the window's right edge it is mirrored: the same box and texts, ending 10 pixels
// left of the pointer. A box whose last column is the window's last is not moved.
TEST_F(PanelTest, ReadOutFlipsAtTheRightEdge) {
    struct Case {
        bool http;
        int64_t x;
        int m;
        int left; // of the box
    };
    // Without HTTP the box reaches 14 + 8 x 8 = 78 pixels right of the pointer, with "0.5 ms HTTP" 22 + 88 =
    // 110.
    const Case cases[] = {
        {false, 630, 60, 640}, {false, 721, 90, 731}, {false, 722, 91, 644}, {false, 751, 100, 673},
        {true, 689, 80, 699},  {true, 690, 80, 580},  {true, 751, 100, 641},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.http ? "HTTP" : "ping") + " at x " + std::to_string(c.x));
        ServerRecord& r = add("alpha");
        fill_histories(r, c.http);
        r.ping_history[c.m] = 7;
        r.http_history[c.m] = 0.5;
        r.ping_times[c.m] = "10:11:12";
        point(c.x, 100);
        frame();
        EXPECT_TRUE(region_is(450 + 3 * c.m, 0, 450 + 3 * c.m, 90, RULE)) << "marker";
        if (c.http) {
            EXPECT_TRUE(region_is(c.left, 98, c.left + 100, 145, RULE,
                                  {{c.left + 2, 100, "7. ms Ping", DARK},
                                   {c.left + 2, 115, "0.5 ms HTTP", DARK},
                                   {c.left + 2, 130, "10:11:12", DARK}}));
            EXPECT_NE(pixel(c.left + 101, 120), RULE);
        } else {
            EXPECT_TRUE(region_is(c.left, 98, c.left + 68, 130, RULE,
                                  {{c.left + 2, 100, "7. ms", DARK}, {c.left + 2, 115, "10:11:12", DARK}}));
            if (c.left + 69 < WIDTH) {
                EXPECT_NE(pixel(c.left + 69, 120), RULE);
            }
        }
        EXPECT_NE(pixel(c.left - 1, 120), RULE);
        table.server_count = 0;
        r = ServerRecord{};
    }
}

// Near the bottom the box reaches into the next panel, which covers it where it draws.
TEST_F(PanelTest, ReadOutReachesIntoTheNextPanel) {
    ServerRecord& r = add("alpha");
    fill_histories(r, false);
    r.ping_history[100] = 1.25;
    r.ping_times[100] = "10:11:12";
    add("beta");
    point(751, 190);
    frame();
    // Mirrored at the right edge: from 751 - 78 to 751 - 10.
    EXPECT_TRUE(region_is(673, 188, 741, 196, RULE, {{675, 190, "1.25 ms", DARK}}));
    EXPECT_TRUE(region_is(673, 198, 741, 199, RULE, {{675, 190, "1.25 ms", DARK}}));
    EXPECT_TRUE(region_is(401, 197, 799, 197, RULE));
    // The next panel's line at T and its white graph area cover the rest.
    EXPECT_TRUE(region_is(401, 200, 799, 200, RULE));
    EXPECT_TRUE(region_is(673, 201, 741, 220, WHITE));
}

// Holding the left button on the interval button steps it every 0.25 s from the last accepted click:
// 9, 10, 1, 2; the label shows the value from before the frame's click.
TEST_F(PanelTest, HeldIntervalButtonStepsAndWraps) {
    struct Step {
        double now;
        int interval_after;
        double last_click_after;
        const char* label; // drawn during the frame
    };
    const Step steps[] = {
        {1000.00, 10, 1000.00, "Ping alle 9s"},    {1000.10, 10, 1000.00, "Ping alle 10s"},
        {1000.25, 10, 1000.00, "Ping alle 10s"},   {1000.2501, 1, 1000.2501, "Ping alle 10s"},
        {1000.40, 1, 1000.2501, "Ping alle 1s"},   {1000.5002, 2, 1000.5002, "Ping alle 1s"},
        {1000.7502, 2, 1000.5002, "Ping alle 2s"},
    };
    ServerRecord& r = add("alpha");
    r.interval = 9;
    r.last_probe = 5000; // no probes
    state.last_click = 999.7;
    point(150, 10, 1);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.now);
        g_clock.base = s.now;
        frame();
        EXPECT_EQ(r.interval, s.interval_after);
        EXPECT_EQ(state.last_click, s.last_click_after);
        EXPECT_TRUE(region_is(120, 1, 230, 19, LIGHT, {{128, 3, s.label, DARK}}));
    }
    EXPECT_TRUE(tools.calls().empty());
}

// Only the left button alone acts; other buttons and pointer values leave everything as it was.
TEST_F(PanelTest, OnlyTheLeftButtonAloneActs) {
    ServerRecord& r = add("alpha");
    r.last_probe = 5000;
    r.nmap_lines[1] = "21/tcp    open   ftp";
    for (int64_t buttons : {0, 2, 3, 4, 5, -1}) {
        for (auto [x, y] : {std::pair<int64_t, int64_t>{50, 10}, {150, 10}, {345, 75}}) {
            point(x, y, buttons);
            frame();
        }
    }
    EXPECT_EQ(r.interval, 3);
    EXPECT_EQ(state.last_click, 0);
    EXPECT_TRUE(tools.calls().empty());
    point(150, 10, 1);
    frame();
    EXPECT_EQ(r.interval, 4);
}

// Reload runs the lookup and the scan, shows their results in the same frame, and takes last_click from
// the clock after them.
TEST_F(PanelTest, ReloadRunsLookupAndScan) {
    ServerRecord& r = add("localhost");
    r.up = 0;
    r.last_probe = 5000;
    tools.replay("nslookup", fixture("nslookup_localhost.txt"));
    tools.replay("nmap", fixture("nmap_ftp_ssh.txt"));
    g_clock.per_call = 10;
    state.last_click = 999; // 1000 - 1 is not after 999 + ... : exactly 1 s ago, too soon
    point(50, 10, 1);
    frame();
    EXPECT_TRUE(tools.calls().empty());
    g_clock.base = 1000.001;
    frame();
    EXPECT_EQ(tools.calls(), (std::vector<std::string>{"nslookup [localhost]", "nmap [localhost]"}));
    EXPECT_DOUBLE_EQ(state.last_click, 1020.001);
    EXPECT_EQ(r.up, 1);
    EXPECT_TRUE(text_is(10, 50, "IP:    127.0.0.1", LIGHT, BACKGROUND));
    EXPECT_TRUE(region_is(70, 67, 299, 95, BACKGROUND,
                          {{70, 67, "21/tcp open  ftp", LIGHT}, {70, 82, "22/tcp open  ssh", LIGHT}}));
    EXPECT_TRUE(region_is(300, 67, 390, 80, FACE, {{306, 67, "FTP-Client", LIGHT}}));
}

TEST(PanelSession, CommandLines) {
    EXPECT_EQ(session_command("xterm -e", FTP_SESSION, "alpha"), "xterm -e \"ftp -nv alpha\"");
    EXPECT_EQ(session_command("xterm -e", SSH_SESSION, "alpha"), "xterm -e \"ssh -X root@alpha\"");
    EXPECT_EQ(session_command("", FTP_SESSION, "10.0.0.1"), " \"ftp -nv 10.0.0.1\"");
    EXPECT_EQ(session_command("setsid -f xterm -e", SSH_SESSION, "b c"),
              "setsid -f xterm -e \"ssh -X root@b c\"");
}

// FTP and SSH start the terminal with the session as one argument, and the frame does not wait for it: the
// sessions are held, and still run when the frames are done.
TEST_F(PanelTest, SessionButtonsStartTheTerminal) {
    struct Case {
        const char* port_line;
        const char* name;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"21/tcp    open   ftp", "alpha", {"term [-e] [ftp -nv alpha]"}},
        {"22/tcp    open   ssh", "alpha", {"term [-e] [ssh -X root@alpha]"}},
        {"21/tcp    closed ftp", "10.0.0.1", {"term [-e] [ftp -nv 10.0.0.1]"}},
        {"22/tcp filtered", "beta", {"term [-e] [ssh -X root@beta]"}},
        // A name the shell would expand inside the quotes runs nothing.
        {"21/tcp    open   ftp", "a$(touch x)", {}},
        {"22/tcp    open   ssh", "a`id`", {}},
        // A second word would run on the server as root; an option word would be ssh's.
        {"22/tcp    open   ssh", "web1 reboot", {}},
        {"22/tcp    open   ssh", "-oProxyCommand=id", {}},
        {"21/tcp    open   ftp", "{a,b}", {}},
        // Trailing blanks never reached the session as words; a zone is part of the address.
        {"22/tcp    open   ssh", "alpha  ", {"term [-e] [ssh -X root@alpha]"}},
        {"22/tcp    open   ssh", "fe80::1%eth0", {"term [-e] [ssh -X root@fe80::1%eth0]"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port_line + std::string(" ") + c.name);
        FakeTools fakes{"term"};
        fakes.hold("term"); // the session runs on until the test lets it end
        g_clock = {2000, 0, nullptr};
        table = {};
        ServerRecord& r = add(c.name);
        r.last_probe = 5000;
        r.nmap_lines[2] = c.port_line;
        state.last_click = 0;
        point(345, 90, 1); // R = 82
        frame();
        EXPECT_DOUBLE_EQ(state.last_click, 2000);
        EXPECT_TRUE(within(std::chrono::seconds(10), [&] { return fakes.calls() == c.calls; }))
            << testing::PrintToString(fakes.calls());
        // Held on: the next run waits a whole second from the click.
        g_clock = {2000.999, 0, nullptr};
        frame();
        g_clock.base = 2001.001;
        frame();
        EXPECT_TRUE(within(std::chrono::seconds(10), [&] {
            return fakes.calls().size() == 2 * c.calls.size();
        })) << testing::PrintToString(fakes.calls());
        EXPECT_TRUE(within(std::chrono::seconds(10), [&] {
            return fakes.running().size() == 2 * c.calls.size();
        })) << "a session ended before its time";
        fakes.release("term");
        EXPECT_TRUE(within(std::chrono::seconds(10), [&] { return fakes.running().empty(); }));
    }
}

// One last_click for every button of every panel: after a click on panel 0 the reload of panel 1 waits its
// whole second.
TEST_F(PanelTest, ClickDelaysAreShared) {
    add("alpha").last_probe = 5000;
    add("beta").last_probe = 5000;
    point(150, 10, 1);
    frame();
    EXPECT_EQ(table.servers[0].interval, 4);
    EXPECT_EQ(state.last_click, 1000);
    point(50, 210, 1);
    for (double now : {1000.3, 1000.9, 1001.0}) {
        g_clock.base = now;
        frame();
    }
    EXPECT_TRUE(tools.calls().empty());
    EXPECT_EQ(table.servers[1].interval, 3);
    g_clock.base = 1001.01;
    frame();
    EXPECT_EQ(tools.calls(), (std::vector<std::string>{"nslookup [beta]", "nmap [beta]"}));
    EXPECT_EQ(table.servers[0].interval, 4);
}

// Probes run when more than interval seconds have passed since last_probe; last_probe is the clock after
// them rounded half to even. While the host is up its ping and HTTP probe run; while it is down only its
// ping, and a ping that answers runs the lookup and the scan again. Nothing before the first scan has ended.
TEST_F(PanelTest, ProbeSchedule) {
    struct Case {
        double now;
        uint8_t up;
        bool http;
        std::vector<std::string> calls;
        int64_t last_probe; // after the frame
        bool awaiting = false;
        bool ping_lost = false;
    };
    const std::string ping = "ping [alpha] [-c] [1] [-W] [1]";
    const std::string http = "httping [-h] [127.0.0.1:8089] [-c] [1] [-t] [2] [-i] [0.01]";
    const std::string lookup = "nslookup [alpha]", scan = "nmap [alpha]";
    const Case cases[] = {
        {999.0, 1, false, {}, 996},                    // 999 - 3 is not after 996
        {999.5, 1, false, {ping}, 1002},               // read after: 999.5 + 2.5 = 1002
        {1000.0, 1, false, {ping}, 1002},              // 1002.5 to even: 1002
        {1001.0, 1, false, {ping}, 1004},              // 1003.5 to even: 1004
        {1000.9, 1, true, {ping, http}, 1006},         // 1000.9 + 5 = 1005.9
        {999.0, 0, true, {}, 996},                     // down, not due either
        {1000.0, 0, true, {ping, lookup, scan}, 1008}, // down: its ping answers, so it is scanned again
        {1.0e9, 0, false, {ping, lookup, scan}, 1000000008},
        {1000.0, 0, true, {ping}, 1002, false, true}, // down, and its ping is lost: the ping alone
        {1000.0, 1, true, {}, 996, true},             // its first scan has not ended
        {1000.0, 0, false, {}, 996, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.now << " up " << int(c.up) << (c.awaiting ? " awaiting" : ""));
        FakeTools fakes;
        if (c.ping_lost) {
            fakes.replay("ping", fixture("ping_loss.txt"));
        } else {
            fakes.replay_bytes("ping", "64 bytes from alpha: time=7.25 ms\n");
        }
        fakes.replay_bytes("httping", "connected to 127.0.0.1:8089, seq=0 time=  0.53 ms\n");
        g_clock = {c.now, 2.5, &fakes};
        table = {};
        ServerRecord& r = add("alpha");
        r.up = c.up;
        r.last_probe = 996;
        r.awaiting_scan = c.awaiting;
        if (c.http) r.http_target = "127.0.0.1:8089";
        frame();
        EXPECT_EQ(fakes.calls(), c.calls);
        EXPECT_EQ(r.last_probe, c.last_probe);
        if (!c.calls.empty() && !c.ping_lost) {
            // The graph of the same frame already holds the new sample.
            EXPECT_EQ(r.ping_history[100], 7.25);
            EXPECT_TRUE(ink_is(710, 6, "Ping 7.25 ms", GREEN));
            if (c.http && c.up == 1) {
                EXPECT_TRUE(ink_is(710, 111, "HTTP 0.53 ms", RED));
            }
        }
    }
}

// A ping that reports total loss shows the notice; the HTTP probe of the same step still runs, and from then
// on only the ping, once per interval, watches for the host to answer.
TEST_F(PanelTest, LossLeavesThePingAloneWatching) {
    tools.replay("ping", fixture("ping_loss.txt"));
    ServerRecord& r = add("127.0.0.3");
    r.http_target = "127.0.0.1:1";
    r.last_probe = 0;
    frame();
    EXPECT_EQ(r.up, 0);
    EXPECT_EQ(tools.calls().size(), 2u);
    // The notice comes before the probes in the panel, so it shows from the next frame on.
    EXPECT_TRUE(region_is(70, 67, 299, 80, BACKGROUND));
    g_clock.base = 2000;
    frame();
    EXPECT_TRUE(text_is(70, 67, "Host nicht erreichbar", WARNING, BACKGROUND));
    ASSERT_EQ(tools.calls().size(), 3u);
    EXPECT_TRUE(tools.calls()[2].starts_with("ping [127.0.0.3]")) << tools.calls()[2];
    EXPECT_EQ(r.last_probe, 2000);
    frame(); // not due again within the interval
    EXPECT_EQ(tools.calls().size(), 3u);
}

} // namespace
