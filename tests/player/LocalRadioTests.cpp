#include <gtest/gtest.h>
TEST(LocalRadioPlaceholder, Nothing) {}
