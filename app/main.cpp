#include "app/config.h"
#include "app/server_table.h"
#include "rt/runtime.h"

namespace {

// The program's single table and state; they live for the whole run.
ServerTable g_table;
DashboardState g_state;

} // namespace

int main(int argc, char** argv) {
    rt_init(argc, argv);
    if (!read_configuration(g_table, g_state)) return 1;
    return 0;
}
