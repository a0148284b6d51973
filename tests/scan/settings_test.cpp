// Conversion of the positional arguments.
#include <gtest/gtest.h>

#include <array>
#include <vector>

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

std::array<int32_t, kSettingCount> settings_of(std::vector<const char *> args) {
  std::vector<char *> argv = {const_cast<char *>("skysweep")};
  for (const char *a : args) argv.push_back(const_cast<char *>(a));
  scan_options o = read_settings(static_cast<int>(argv.size()), argv.data());
  return {o.start_freq, o.end_freq, o.start_sr, o.end_sr, o.polar, o.band, o.bus};
}

TEST(Settings, PositionsFillInOrderAndTheRestKeepDefaults) {
  using S = std::array<int32_t, kSettingCount>;
  EXPECT_EQ(settings_of({"1000"}), (S{1000, 2150, 2, 45, 0, 0, 0}));
  EXPECT_EQ(settings_of({"1000", "1200", "3"}), (S{1000, 1200, 3, 45, 0, 0, 0}));
  EXPECT_EQ(settings_of({"1000", "1200", "3", "30", "1", "1", "2", "99"}), (S{1000, 1200, 3, 30, 1, 1, 2}));
}

}  // namespace
