#include <gtest/gtest.h>

