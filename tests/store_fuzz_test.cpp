// Randomized differential test of the settings store (being written).
#include <gtest/gtest.h>
