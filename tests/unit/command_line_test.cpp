#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {
TEST(Placeholder, Builds) { EXPECT_EQ(CommandNone, ClassifyCommandLine(nullptr)); }
}  // namespace
