// Tuner socket listing: "NIM Socket N:" headers, then "Type:" lines naming
// the tuner's system. Plain substring tests on each piece, first match wins.
#include "nim_sockets.h"

#include <cstring>

static const char kListingCommand[] = "cat /proc/bus/nim_sockets";

// Only the first four headers are recognised; the rest of the table exists
// so any tuner number up to 7 can be looked up.
static const char *const szSocketHeader[] = {
    "NIM Socket 0:",  // 0
    "NIM Socket 1:",  // 1
    "NIM Socket 2:",  // 2
    "NIM Socket 3:",  // 3
};
static_assert(sizeof(szSocketHeader) / sizeof(szSocketHeader[0]) == 4);

static bool has(const char *piece, const char *text) { return strstr(piece, text) != nullptr; }

static int32_t satellite_type(const char *piece) { return has(piece, "DVB-S2") ? SYS_DVBS2 : SYS_DVBS; }

static int32_t terrestrial_type(const char *piece) { return has(piece, "DVB-T2") ? SYS_DVBT2 : SYS_DVBT; }

void nim_sockets_piece(nim_listing &listing, const char *piece) {
  for (int socket = 0; socket < 4; ++socket) {
    if (has(piece, szSocketHeader[socket])) {
      listing.current = socket;
      return;
    }
  }
  if (!has(piece, "Type:")) return;
  int32_t &entry = listing.nim_type[listing.current];
  if (has(piece, "DVB-S"))
    entry = satellite_type(piece);
  else if (has(piece, "DVB-C"))
    entry = SYS_DVBC_ANNEX_A;
  else if (has(piece, "DVB-T"))
    entry = terrestrial_type(piece);
}

void nim_sockets_stream(nim_listing &listing, FILE *in) {
  char buf[256];
  // 255 leaves room for 254 characters and the terminator; a longer line
  // arrives in several pieces, each tested on its own.
  while (fgets(buf, 255, in) != nullptr) nim_sockets_piece(listing, buf);
}

nim_listing read_nim_sockets() {
  nim_listing listing = {};
  FILE *pipe = popen(kListingCommand, "r");  // NOLINT(cert-env33-c): the listing is read through cat
  if (pipe == nullptr) return listing;
  nim_sockets_stream(listing, pipe);
  // What was read stands either way; cat's status only tells a missing or
  // unreadable listing from one without the tuner.
  listing.read = pclose(pipe) == 0;
  return listing;
}

int32_t nim_type_of(const nim_listing &listing, int32_t bus) {
  if (bus < 0 || bus >= kSocketCount) return SYS_UNDEFINED;
  return listing.nim_type[bus];
}
