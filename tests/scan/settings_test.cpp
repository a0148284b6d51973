// Conversion of the positional arguments.
#include <gtest/gtest.h>

#include "settings.h"

namespace {

TEST(Settings, ConvertsByAtoiRules) {
  const struct {
    const char *text;
    int32_t expected;
  } cases[] = {
      {"1000", 1000},     {"  42", 42},        {"+7", 7},        {"-12", -12},     {"12abc", 12},
      {"--freq=1000", 0}, {"abc", 0},          {"", 0},          {"0x10", 0},      {"\t\n 5", 5},
      {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
      // Beyond int: clamped, as on the 32-bit receiver.
      {"2147483648", INT32_MAX}, {"99999999999999999999", INT32_MAX}, {"-2147483649", INT32_MIN},
      {"-99999999999999999999", INT32_MIN},
  };
  for (const auto &c : cases) EXPECT_EQ(to_setting(c.text), c.expected) << '"' << c.text << '"';
}

TEST(Settings, PositionsFillInOrderAndTheRestKeepDefaults) {
  char prog[] = "skysweep", a[] = "1000", b[] = "1200", c[] = "3", d[] = "30", e[] = "1", f[] = "1", g[] = "2",
       extra[] = "99";
  char *one[] = {prog, a};
  scan_options o = read_settings(2, one);
  EXPECT_EQ(o.start_freq, 1000);
  EXPECT_EQ(o.end_freq, 2150);
  EXPECT_EQ(o.start_sr, 2);
  EXPECT_EQ(o.end_sr, 45);
  EXPECT_EQ(o.polar, 0);
  EXPECT_EQ(o.band, 0);
  EXPECT_EQ(o.bus, 0);

  char *all[] = {prog, a, b, c, d, e, f, g, extra};
  o = read_settings(9, all);
  EXPECT_EQ(o.start_freq, 1000);
  EXPECT_EQ(o.end_freq, 1200);
  EXPECT_EQ(o.start_sr, 3);
  EXPECT_EQ(o.end_sr, 30);
  EXPECT_EQ(o.polar, 1);
  EXPECT_EQ(o.band, 1);
  EXPECT_EQ(o.bus, 2);
}

}  // namespace
