#include "gfx/driver.h"
