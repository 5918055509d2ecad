#include "rt/result.h"

namespace {
thread_local int last_error = RT_OK;
}

int rt_last_error() {
    return last_error;
}
void rt_set_error(int code) {
    last_error = code;
}
