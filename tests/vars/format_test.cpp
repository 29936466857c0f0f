#include "vars/format.h"

#include <gtest/gtest.h>

namespace olvex::test {

TEST(FormatTest, HeaderCompiles) { EXPECT_EQ(CalendarDate{}, CalendarDate{}); }

}  // namespace olvex::test
