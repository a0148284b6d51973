// Reader of the driver's tuner socket listing /proc/bus/nim_sockets, read
// through "cat" and a pipe. Builds the delivery-system number of each socket.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kSocketCount = 8;  // sockets 0..7; the listing can name 0..3

// Delivery-system numbers of the Linux DVB frontend interface.
constexpr int32_t SYS_UNDEFINED = 0;
constexpr int32_t SYS_DVBC_ANNEX_A = 1;
constexpr int32_t SYS_DVBT = 3;
constexpr int32_t SYS_DVBS = 5;
constexpr int32_t SYS_DVBS2 = 6;
constexpr int32_t SYS_DVBT2 = 16;

struct nim_listing {
  int32_t nim_type[kSocketCount];  // delivery system per socket, 0 if unknown
  int current;                     // socket the next "Type:" line belongs to
  bool read;                       // the listing command ran and succeeded
};

// Applies the first matching rule to one piece of the listing.
void nim_sockets_piece(nim_listing &listing, const char *piece);

// Reads a whole listing in pieces of at most 254 characters.
void nim_sockets_stream(nim_listing &listing, FILE *in);

// Runs "cat /proc/bus/nim_sockets"; every entry stays 0 if it cannot start,
// and `read` says whether it ran and exited 0.
nim_listing read_nim_sockets();

// The entry for a tuner number; 0 for numbers outside the table.
int32_t nim_type_of(const nim_listing &listing, int32_t bus);
