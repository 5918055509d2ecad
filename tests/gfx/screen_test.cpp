#include <gtest/gtest.h>

#include "gfx/screen.h"
