// The socket listing reader fed arbitrary text: once as a stream (so the
// 254-character pieces come from fgets as on the receiver) and once cut into
// pieces whose lengths the input chooses. No read past the table, and every
// entry stays a system number the listing can give.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "nim_sockets.h"

static void check(const nim_listing &listing) {
  if (listing.current < 0 || listing.current > 3) __builtin_trap();
  for (int32_t type : listing.nim_type) {
    if (type != 0 && type != 1 && type != 3 && type != 5 && type != 6 && type != 16) __builtin_trap();
  }
  for (int socket = 4; socket < kSocketCount; ++socket)
    if (listing.nim_type[socket] != 0) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;

  nim_listing streamed = {};
  FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (in == nullptr) return 0;
  nim_sockets_stream(streamed, in);
  fclose(in);
  check(streamed);

  // The first byte seeds the piece lengths, 1 to 254 characters each.
  nim_listing pieces = {};
  unsigned seed = data[0];
  for (size_t at = 1; at < size;) {
    seed = seed * 1103515245u + 12345u;
    size_t length = 1 + (seed >> 16) % 254;
    if (length > size - at) length = size - at;
    char piece[256];
    memcpy(piece, data + at, length);
    piece[length] = '\0';
    nim_sockets_piece(pieces, piece);
    at += length;
  }
  check(pieces);
  return 0;
}
