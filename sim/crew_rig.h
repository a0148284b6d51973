// skyscan's scan on several tuners (scan_with_crew, the very code skyscan
// runs), driven in-process through the simulated receiver's model with
// modelled time: each tuner's searches, LNB switches and waits take what
// they would on a receiver, the tuners overlap, and the run lasts until
// its last tuner is done. For the grid benchmark's tuners axis and tests.
#pragma once

#include <cstdint>
#include <vector>

#include "crew.h"
#include "grid_model.h"

struct rig_wiring {
  int tuners;
  int per_cable;  // tuners on each cable: 1 for cables of their own
};

// A tuner that dies: from its `after`-th search on, every request 1 fails.
struct rig_fault {
  int tuner;  // -1: none
  uint32_t after;
};

struct rig_line {
  int32_t khz;
  uint8_t lane;
  int32_t symbol_rate;
};

struct rig_result {
  std::vector<rig_line> lines;
  uint64_t duration_ms;  // until the last tuner was done
  uint64_t busy_ms[kMaxCrew];
  uint32_t searches, switches;
  crew_report report;
};

// Modelled durations, ms, as the simulated receiver counts them.
constexpr uint32_t kRigLockedMs = 800, kRigEmptyMs = 1200, kRigSwitchMs = 20 + 20 + 100, kRigOpeningMs = 2000;

// Scans every sweep of a universal LNB, 2-45 Msym/s; `habits`, when given,
// are told in advance.
void rig_scan(grid_model &model, const rig_wiring &wiring, const demodulator_habits *habits, const rig_fault &fault,
              rig_result &out);
