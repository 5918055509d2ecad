#include "app/panel.h"

#include <algorithm>

#include "app/scan_probe.h"
#include "app/server_workers.h"
#include "app/shell_text.h"
#include "gfx/line.h"
#include "gfx/screen.h"
#include "gfx/text.h"
#include "rt/clock.h"
#include "rt/files.h"
#include "rt/numbers.h"

PanelClock panel_clock = rt_timer;

namespace {

constexpr uint32_t BUTTON_FACE = 0xFF0066CC;
constexpr uint32_t LIGHT = 0xFFF5FFFF; // labels, left-half texts, the face under the pointer
constexpr uint32_t DARK = 0xFF010101;  // label under the pointer, read-out texts
constexpr uint32_t WARNING = 0xFFE06C75;
constexpr uint32_t GRAPH_PAPER = 0xFFFFFFFF;
constexpr uint32_t SCALE_INK = 0xFF000000;
constexpr uint32_t PING_INK = 0xFF00C800;
constexpr uint32_t HTTP_INK = 0xFFC80000;

constexpr int TEXT_FLAGS = DRAW_FOREGROUND | COORD_GIVEN;
constexpr int PORT_ROWS = 9;
constexpr double RELOAD_DELAY = 1.0;
constexpr double INTERVAL_DELAY = 0.25;
constexpr double SESSION_DELAY = 1.0;
constexpr int MAX_INTERVAL = 10;

// Graph geometry as offsets from the panel's top: zero lies on the bottom line, a ping maximum 190 and an
// HTTP maximum 85 above it, so the HTTP graph keeps to the lower half.
constexpr double GRAPH_BASE = 196;
constexpr double PING_SPAN = 190;
constexpr double HTTP_SPAN = 85;
constexpr float VALUE_LABEL_X = 710;

void set_colour(uint32_t colour) {
    gfx_set_color(colour, 0, 2);
}

void text(std::string_view s, float x, float y) {
    gfx_draw_text(nullptr, TEXT_FLAGS, s, 0, nullptr, TEXT_METHOD_PLAIN, x, y, nullptr, nullptr, nullptr);
}

void filled_box(float x1, float y1, float x2, float y2, uint32_t colour) {
    gfx_line(nullptr, x1, y1, x2, y2, colour, LINE_MODE_FILLED_BOX, LINE_SOLID, COORD_ABSOLUTE);
}

void line(float x1, float y1, float x2, float y2, uint32_t colour, LineStyle style = LINE_SOLID) {
    gfx_line(nullptr, x1, y1, x2, y2, colour, LINE_MODE_LINE, style, COORD_ABSOLUTE);
}

// Pointer bounds, all exclusive.
struct HitArea {
    int64_t left, top, right, bottom;
};

bool under_pointer(const DashboardState& state, const HitArea& area) {
    return state.mouse_x > area.left && state.mouse_x < area.right && state.mouse_y > area.top &&
           state.mouse_y < area.bottom;
}

struct Rect {
    float x1, y1, x2, y2;
};

struct Button {
    std::string_view label;
    Rect face;
    float lit_bottom; // lower edge of the face under the pointer
    float label_x, label_y;
    HitArea hit;
    double delay; // seconds since the last accepted click on any button
};

// Draws the face and the label, lit while the pointer is on the button. True when the left button alone is
// down on it and its delay has passed; the caller acts and then calls accept_click.
bool button(const DashboardState& state, const Button& b) {
    const bool lit = under_pointer(state, b.hit);
    filled_box(b.face.x1, b.face.y1, b.face.x2, lit ? b.lit_bottom : b.face.y2, lit ? LIGHT : BUTTON_FACE);
    set_colour(lit ? DARK : LIGHT);
    text(b.label, b.label_x, b.label_y);
    return lit && state.mouse_buttons == 1 && panel_clock() - b.delay > state.last_click;
}

// Taken after the action, so that a slow action does not eat into the next delay.
void accept_click(DashboardState& state) {
    state.last_click = panel_clock();
}

// The session runs in the terminal, the user's from its start: the frame goes on at once, and neither our
// end nor the launching terminal's Ctrl+C reaches it.
void open_session(const ServerRecord& record, const DashboardState& state, std::string_view session) {
    // The host stands inside double quotes, where the shell still expands, and the session splits at its
    // blanks: only a checked host, which holds neither, ever goes in, however the record was filled.
    const std::optional<std::string> host = host_argument(record.name);
    if (!host) return;
    (void)rt_start_detached(session_command(state.terminal_command, session, *host));
}

// A port line's session button; the FTP face ends one row higher than the SSH face until it is lit.
void session_button(const ServerRecord& record, DashboardState& state, float row, float face_height,
                    std::string_view label, std::string_view session) {
    const auto r = static_cast<int64_t>(row);
    const Button b{.label = label,
                   .face = {300, row, 390, row + face_height},
                   .lit_bottom = row + 14,
                   .label_x = 306,
                   .label_y = row,
                   .hit = {300, r, 390, r + 14},
                   .delay = SESSION_DELAY};
    if (!button(state, b)) return;
    open_session(record, state, session);
    accept_click(state);
}

double history_max(const std::array<double, HISTORY_SLOTS>& history) {
    double top = 0;
    for (int k = 1; k <= HISTORY_LENGTH; ++k) top = std::max(top, history[k]);
    return top;
}

std::string milliseconds(double v, std::string_view suffix) {
    return rt_format_number(v, "0.##") + std::string(suffix);
}

// One latency history on the graph: value positions, the newest value's dashed line and label, the curve.
struct Curve {
    const std::array<double, HISTORY_SLOTS>* history;
    double scale; // pixels per millisecond; 0 while the history has no sample above 0
    uint32_t ink;
    std::string_view label;
    float y(float top, int k) const { return static_cast<float>(top + GRAPH_BASE - scale * (*history)[k]); }
};

// Sample k's column on the graph, where its segment ends and its read-out marker stands.
int64_t sample_column(int k) {
    return 450 + 3 * k;
}

float sample_x(int k) {
    return static_cast<float>(sample_column(k));
}

// The left edge of a read-out box that reaches from 10 to reach pixels right of the pointer. Where it would
// cross the window's right edge, which cuts the values of the newest samples, it is mirrored to end 10 pixels
// left of the pointer.
float read_out_left(const DashboardState& state, int64_t reach) {
    if (state.mouse_x + reach >= state.screen_width) return static_cast<float>(state.mouse_x - reach);
    return static_cast<float>(state.mouse_x + 10);
}

// The read-out of the sample whose column the pointer is on or next to.
void read_out(const ServerRecord& record, const DashboardState& state, uint16_t top) {
    for (int m = 2; m <= HISTORY_LENGTH; ++m) {
        const int64_t column = sample_column(m);
        const HitArea around{column - 2, top, column + 2, top + PANEL_HEIGHT};
        if (!under_pointer(state, around) || record.ping_history[m] == 0) continue;
        const float t = top;
        line(sample_x(m), t, sample_x(m), t + GRAPH_BASE, RULE_COLOUR);
        const auto y = static_cast<float>(state.mouse_y);
        if (record.http_target.empty()) {
            const int64_t reach = 14 + 8 * static_cast<int64_t>(record.ping_times[m].size());
            const float x = read_out_left(state, reach);
            filled_box(x, y - 2, x + static_cast<float>(reach - 10), y + 30, RULE_COLOUR);
            set_colour(DARK);
            text(milliseconds(record.ping_history[m], " ms"), x + 2, y);
            text(record.ping_times[m], x + 2, y + 15);
        } else {
            const std::string http = milliseconds(record.http_history[m], " ms HTTP");
            const int64_t reach = 22 + 8 * static_cast<int64_t>(http.size());
            const float x = read_out_left(state, reach);
            filled_box(x, y - 2, x + static_cast<float>(reach - 10), y + 45, RULE_COLOUR);
            set_colour(DARK);
            text(milliseconds(record.ping_history[m], " ms Ping"), x + 2, y);
            text(http, x + 2, y + 15);
            text(record.ping_times[m], x + 2, y + 30);
        }
        return; // the x ranges do not overlap
    }
}

void graph(const ServerRecord& record, const DashboardState& state, uint16_t top_px) {
    const float top = top_px;
    const bool has_http = !record.http_target.empty();
    const double max_ping = history_max(record.ping_history);
    const double max_http = has_http ? history_max(record.http_history) : 0;
    if (!has_http) {
        set_colour(SCALE_INK);
        text("0 ms", 405, top + 182);
        text(rt_format_number(max_ping, "0.#") + " ms", 405, top + 2);
    }
    Curve curves[2]{};
    int count = 0;
    if (max_ping > 0) curves[count++] = {&record.ping_history, PING_SPAN / max_ping, PING_INK, "Ping "};
    if (has_http && max_http > 0)
        curves[count++] = {&record.http_history, HTTP_SPAN / max_http, HTTP_INK, "HTTP "};

    for (int c = 0; c < count; ++c) {
        const float y = curves[c].y(top, HISTORY_LENGTH);
        line(401, y, 800, y, RULE_COLOUR, LINE_DASHED);
    }
    for (int c = 0; c < count; ++c) {
        set_colour(curves[c].ink);
        const std::string label =
            std::string(curves[c].label) + milliseconds((*curves[c].history)[HISTORY_LENGTH], " ms");
        text(label, VALUE_LABEL_X, curves[c].y(top, HISTORY_LENGTH));
    }
    for (int k = 2; k <= HISTORY_LENGTH; ++k) {
        for (int c = 0; c < count; ++c)
            line(sample_x(k), curves[c].y(top, k), sample_x(k) - 3, curves[c].y(top, k - 1), curves[c].ink);
    }
    read_out(record, state, top_px);
}

// Row y of the port area, rows 1 and up: the port lines, then the expected ports the scan did not report.
float port_row_y(float t, int row) {
    return t + 52 + 15.0f * static_cast<float>(row);
}

// Where a top-row button stands across; the hit area ends with the face.
struct Columns {
    float face_left, face_right, label_x;
    int64_t hit_left;
};

// The top row's buttons share their rows: face and lit face from T+1 to T+19, the label at T+3, the hit
// area from T to T+19.
Button top_row_button(std::string_view label, float t, const Columns& x, double delay) {
    const auto hit_top = static_cast<int64_t>(t);
    return {.label = label,
            .face = {x.face_left, t + 1, x.face_right, t + 19},
            .lit_bottom = t + 19,
            .label_x = x.label_x,
            .label_y = t + 3,
            .hit = {x.hit_left, hit_top, static_cast<int64_t>(x.face_right), hit_top + 19},
            .delay = delay};
}

// The reload and the interval buttons. The reload face starts at the left edge, its hit area only after
// x = 20.
void top_buttons(ServerRecord& record, DashboardState& state, float t, ServerWorker* worker) {
    const Columns reload{.face_left = 0, .face_right = 100, .label_x = 20, .hit_left = 20};
    if (button(state, top_row_button("Neuladen", t, reload, RELOAD_DELAY))) {
        if (worker) {
            hand_reload(*worker);
        } else {
            run_scan_step(record);
        }
        accept_click(state);
    }
    const std::string interval_label = "Ping alle " + rt_int_to_string(record.interval) + "s";
    const Columns interval{.face_left = 120, .face_right = 230, .label_x = 128, .hit_left = 120};
    if (button(state, top_row_button(interval_label, t, interval, INTERVAL_DELAY))) {
        record.interval = static_cast<int8_t>(record.interval >= MAX_INTERVAL ? 1 : record.interval + 1);
        accept_click(state);
    }
}

// Who the server is.
void identity(const ServerRecord& record, float t) {
    set_colour(LIGHT);
    text("Name:  " + record.name, 10, t + 20);
    text("Alias: " + record.alias, 10, t + 35);
    text("IP:    " + record.ip, 10, t + 50);
    line(0, t + 65, 400, t + 65, RULE_COLOUR);
    text("NMAP:", 10, t + 67);
}

// Port lines, with a session button where FTP or SSH answered; then the expected ports the scan did not
// report, in the rows below; past row 9 they run into the next panel. Before the first scan has ended no port
// is known to be missing.
void port_rows(const ServerRecord& record, DashboardState& state, float t) {
    uint8_t row = 0;
    for (int i = 1; i <= PORT_ROWS; ++i) {
        const float r = port_row_y(t, i);
        const std::string& port_line = record.nmap_lines[i];
        set_colour(LIGHT);
        if (!port_line.empty()) text(port_line, 70, r);
        if (port_line.starts_with("21/tcp")) session_button(record, state, r, 13, "FTP-Client", FTP_SESSION);
        if (port_line.starts_with("22/tcp")) session_button(record, state, r, 14, "SSH-Client", SSH_SESSION);
        if (!port_line.empty()) row = static_cast<uint8_t>(i);
    }
    for (int j = 1; j <= PORT_ROWS && !record.awaiting_scan; ++j) {
        if (has_expected_port(record, record.expected_ports[j])) continue;
        ++row;
        set_colour(WARNING);
        text(record.expected_ports[j] + " fehlt", 70, port_row_y(t, row));
    }
}

// Frame lines and the graph area. The line at T-3 is the lower border of the panel above.
void frame_lines(const DashboardState& state, float t) {
    const auto width = static_cast<float>(state.screen_width);
    line(0, t - 3, width, t - 3, RULE_COLOUR);
    line(0, t, width, t, RULE_COLOUR);
    line(400, t, 400, t + 197, RULE_COLOUR);
    filled_box(401, t + 1, width, t + GRAPH_BASE, GRAPH_PAPER);
}

// The latency step, once the interval has passed since the last one: while the host is up its probes, while
// it is down its ping, which watches for it to answer again. Not before its first scan has ended, and never
// twice at once.
void run_due_probes(ServerRecord& record, const DashboardState& state, ServerWorker* worker) {
    if (record.awaiting_scan || (worker && latency_step_pending(*worker))) return;
    const double now = panel_clock();
    if (now - record.interval <= static_cast<double>(record.last_probe)) return;
    if (worker) {
        hand_latency_step(*worker);
    } else {
        run_latency_step(record, state.proxy);
    }
}

} // namespace

std::string session_command(std::string_view terminal_command, std::string_view session,
                            std::string_view host) {
    std::string command(terminal_command);
    command += " \"";
    command += session;
    command += host;
    command += '"';
    return command;
}

void draw_panel(ServerRecord& record, uint16_t top, DashboardState& state, ServerWorker* worker) {
    const float t = top;
    top_buttons(record, state, t, worker);
    identity(record, t);
    port_rows(record, state, t);
    if (record.up == 0 && !record.awaiting_scan) {
        set_colour(WARNING);
        text("Host nicht erreichbar", 70, t + 67);
    }
    frame_lines(state, t);
    run_due_probes(record, state, worker); // before the graph; a worker's samples show once they land
    graph(record, state, top);
}
