#include "rt/runtime.h"

#include "rt/files.h"

#include <clocale>
#include <cstdlib>

void rt_init(int, char**) {
    // Character classes follow the user's locale; numbers keep "." whatever the locale says.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_NUMERIC, "C");
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(rt_close_all);
    }
}
