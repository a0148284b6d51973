// The guide CRC: width 32, polynomial 0x04C11DB7, MSB first, init 0, no
// reflection, xorout 0, run over the type byte, the length byte and the data.
// The 256-word table is built at compile time from the bit-wise step.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kGuidePolynomial = 0x04C11DB7;

// CRC of the single byte `byte`: shift it through the register one bit at a
// time, folding in the polynomial whenever a 1 falls off the top.
constexpr uint32_t crc_table_entry(uint32_t byte) {
  uint32_t crc = byte << 24;
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ kGuidePolynomial : crc << 1;
  return crc;
}

#define CRC_ROW4(i) crc_table_entry(i), crc_table_entry((i) + 1), crc_table_entry((i) + 2), crc_table_entry((i) + 3)
#define CRC_ROW16(i) CRC_ROW4(i), CRC_ROW4((i) + 4), CRC_ROW4((i) + 8), CRC_ROW4((i) + 12)
#define CRC_ROW64(i) CRC_ROW16(i), CRC_ROW16((i) + 16), CRC_ROW16((i) + 32), CRC_ROW16((i) + 48)

// Exported for the importer's own C code, which reads the same table. Each
// binary includes this header from one source file only.
// NOLINTNEXTLINE(misc-definitions-in-headers)
extern "C" __attribute__((visibility("default"))) constexpr uint32_t CRCTABLE[256] = {
    CRC_ROW64(0u), CRC_ROW64(64u), CRC_ROW64(128u), CRC_ROW64(192u)};

#undef CRC_ROW4
#undef CRC_ROW16
#undef CRC_ROW64

static_assert(sizeof(CRCTABLE) == 1024);
static_assert(CRCTABLE[0] == 0x00000000u);
static_assert(CRCTABLE[1] == 0x04C11DB7u);
static_assert(CRCTABLE[2] == 0x09823B6Eu);
static_assert(CRCTABLE[128] == 0x690CE0EEu);
static_assert(CRCTABLE[255] == 0xB1F740B4u);

// Every byte is taken as unsigned: char is signed on x86 and MIPS and would
// index the table below its first row. Only the low 8 bits of the type and
// of the length enter the CRC; every data byte is processed.
template <typename Byte>
constexpr uint32_t guide_crc32(int32_t type, const Byte *data, size_t length) {
  uint32_t crc = CRCTABLE[static_cast<uint32_t>(type) & 0xFFu];
  crc = (crc << 8) ^ CRCTABLE[((crc >> 24) ^ static_cast<uint32_t>(length)) & 0xFFu];
  for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ CRCTABLE[(crc >> 24) ^ static_cast<unsigned char>(data[i])];
  return crc;
}

// The worked values, checked by the compiler.
static_assert(guide_crc32(0, "", 0) == 0);
static_assert(guide_crc32(1, "", 0) == 0xD219C1DCu);
static_assert(guide_crc32(0, "abc", 3) == 0x4C608BE2u);
static_assert(guide_crc32(0, "\xff", 1) == 0x63EE8168u);
static_assert(guide_crc32(256, "", 0) == guide_crc32(0, "", 0) && guide_crc32(-1, "", 0) == guide_crc32(255, "", 0));
