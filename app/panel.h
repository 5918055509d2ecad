// One server's panel: drawn, hit-tested and acted on in one call per frame.
#pragma once

#include <cstdint>

#include "app/server_table.h"

// Draws the panel of record with its top edge at y = top, acts on clicks and runs the latency probes that
// are due. Runs between gfx_lock and gfx_unlock, on the main thread.
void draw_panel(ServerRecord& record, uint16_t top, DashboardState& state);
