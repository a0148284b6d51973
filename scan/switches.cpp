// DiSEqC switch commands; see switches.h.
#include "switches.h"

#include <cstring>
#include <linux/dvb/frontend.h>
#include <sys/ioctl.h>

#include "lnb.h"

constexpr long kDiseqcPauseNs = 15000000;  // after each message or burst
constexpr uint8_t kFirst = 0xE0, kRepeat = 0xE1, kAnySwitch = 0x10;
constexpr uint8_t kCommitted = 0x38, kUncommitted = 0x39;

// "U1" to "U16": the port from 0, or -1.
static int uncommitted_port(const char *text, size_t length) {
  if (length < 2 || length > 3 || text[0] != 'U' || text[1] < '1' || text[1] > '9') return -1;
  int port = text[1] - '0';
  if (length == 3) {
    if (port != 1 || text[2] < '0' || text[2] > '6') return -1;
    port = 10 + text[2] - '0';
  }
  return port - 1;
}

static bool read_part(const char *text, size_t length, switch_route *r) {
  int port = uncommitted_port(text, length);
  if (port >= 0 && r->uncommitted < 0) {
    r->uncommitted = static_cast<int8_t>(port);
  } else if (length == 1 && text[0] >= 'A' && text[0] <= 'D' && r->committed < 0) {
    r->committed = static_cast<int8_t>(text[0] - 'A');
  } else if (length == 6 && strncmp(text, "mini-", 5) == 0 && (text[5] == 'A' || text[5] == 'B') && r->burst < 0) {
    r->burst = static_cast<int8_t>(text[5] - 'A');
  } else {
    return false;
  }
  return true;
}

bool read_route(const char *text, switch_route *route) {
  switch_route r = kNoSwitch;
  for (;;) {
    size_t length = strcspn(text, ",");
    if (!read_part(text, length, &r)) return false;
    if (text[length] == '\0') break;
    text += length + 1;
  }
  *route = r;
  return true;
}

bool routed(const switch_route &r) { return r.committed >= 0 || r.uncommitted >= 0 || r.burst >= 0; }

static bool send(int fd, uint8_t framing, uint8_t command, uint8_t data) {
  dvb_diseqc_master_cmd cmd = {{framing, kAnySwitch, command, data}, 4};
  if (ioctl(fd, FE_DISEQC_SEND_MASTER_CMD, &cmd) != 0) return false;
  pause_ns(kDiseqcPauseNs);
  return true;
}

bool send_route(int fd, const switch_route &r, uint8_t lane, bool high_band, bool *burst_failed) {
  *burst_failed = false;
  auto committed = static_cast<uint8_t>(0xF0 | r.committed << 2 | (lane == 0 ? 2 : 0) | (high_band ? 1 : 0));
  auto uncommitted = static_cast<uint8_t>(0xF0 | r.uncommitted);
  int rounds = r.committed >= 0 && r.uncommitted >= 0 ? 2 : 1;
  for (int round = 0; round < rounds; ++round) {
    uint8_t framing = round == 0 ? kFirst : kRepeat;
    if (r.committed >= 0 && !send(fd, framing, kCommitted, committed)) return false;
    if (r.uncommitted >= 0 && !send(fd, framing, kUncommitted, uncommitted)) return false;
  }
  if (r.burst < 0) return true;
  *burst_failed = true;
  if (ioctl(fd, FE_DISEQC_SEND_BURST, static_cast<unsigned long>(r.burst == 0 ? SEC_MINI_A : SEC_MINI_B)) != 0)
    return false;
  pause_ns(kDiseqcPauseNs);
  return true;
}
