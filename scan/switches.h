// DiSEqC switches between the tuner and the LNBs: the 1.0 committed switch
// (4 ports, E0 10 38 Fx), the 1.1 uncommitted switch (16 ports, E0 10 39
// Fx), either alone or the uncommitted one behind a committed port, and
// the tone-burst A/B switch (FE_DISEQC_SEND_BURST). Sent through the
// tuner's frontend node before the tone is set.
#pragma once

#include <cstdint>

struct switch_route {
  int8_t committed;    // port 0-3 (A-D), -1: no such switch
  int8_t uncommitted;  // port 0-15 (1-16), -1: none
  int8_t burst;        // 0 A, 1 B, -1: none
};

constexpr switch_route kNoSwitch = {-1, -1, -1};

// "B", "U3", "mini-A", or several of different kinds joined by commas, as
// receivers' menus name them: "B,U3" is port 3 of an uncommitted switch
// behind port B of a committed one. False for anything else.
bool read_route(const char *text, switch_route *route);

bool routed(const switch_route &route);

// Sends the route's messages, the 1.0 data byte carrying lane (0
// horizontal) and band as the switch expects; the tone must be off. A
// cascade is sent twice, the second time as repeats, for a switch that
// was powered up by the first. Returns false at the first request that
// fails, errno telling why, with *burst_failed saying which kind it was.
bool send_route(int frontend_fd, const switch_route &route, uint8_t lane, bool high_band, bool *burst_failed);
