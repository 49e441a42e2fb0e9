#include <gtest/gtest.h>
TEST(Survey, Placeholder) {}
