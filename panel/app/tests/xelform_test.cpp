#include "xelform.h"
#include <gtest/gtest.h>
TEST(XelForm, builds) {}
