#include "gfx/screen.h"
