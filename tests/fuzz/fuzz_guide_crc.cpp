// guide_crc32, the routine behind zarvocrc.crc32, against the bit-wise
// definition: type from the first four bytes, data from the rest.
#include <cstdint>
#include <cstring>

#include "guide_crc.h"

static uint32_t bitwise(uint32_t crc, uint8_t byte) {
  crc ^= static_cast<uint32_t>(byte) << 24;
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  return crc;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  int32_t type = 0;
  memcpy(&type, data, sizeof type);
  const uint8_t *bytes = data + 4;
  size_t length = size - 4;

  uint32_t expected = bitwise(0, static_cast<uint8_t>(type));
  expected = bitwise(expected, static_cast<uint8_t>(length));
  for (size_t i = 0; i < length; ++i) expected = bitwise(expected, bytes[i]);
  if (guide_crc32(type, bytes, length) != expected) __builtin_trap();
  // The same bytes seen as signed chars give the same CRC.
  if (guide_crc32(type, reinterpret_cast<const char *>(bytes), length) != expected) __builtin_trap();
  return 0;
}
