#include "rt/runtime.h"

int main(int argc, char** argv) {
    rt_init(argc, argv);
    return 0;
}
