// The argument conversion over arbitrary strings, against a reference that
// parses by hand: C-locale white space, a sign, decimal digits, and the
// value clamped to the int32_t range.
#include <cstdint>
#include <cstring>

#include "settings.h"

static int32_t reference(const char *p) {
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > (int64_t{1} << 31)) magnitude = int64_t{1} << 31;  // past both limits
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  char text[512];
  if (size >= sizeof text) return 0;
  memcpy(text, data, size);
  text[size] = '\0';
  if (to_setting(text) != reference(text)) __builtin_trap();
  return 0;
}
