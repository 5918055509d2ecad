// Start of the runtime services.
#pragma once

// Takes LC_CTYPE from the environment (LC_NUMERIC stays "C") and arranges for every open file
// number to be closed at exit. Safe to call more than once.
void rt_init(int argc, char** argv);
