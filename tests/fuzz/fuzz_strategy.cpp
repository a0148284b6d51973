// skyscan's strategy against a driver whose every answer comes from the
// input: refusals, empty searches, and result records of any words. Whatever
// it answers, the scan ends within its budget, every window it asks for lies
// in the IF range or just below it, and every carrier listed is plausible
// for the window that found it and listed once.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "lnb.h"
#include "strategy.h"

namespace {

struct scripted_driver {
  const uint8_t *data;
  size_t size, at;
  uint32_t last_window_khz, last_sr_min, last_sr_max;
};

uint32_t take(scripted_driver &d, size_t bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes; ++i) v = v << 8 | (d.at < d.size ? d.data[d.at++] : 0);
  return v;
}

search_outcome answer(void *context, uint32_t window_hz, uint32_t sr_min, uint32_t sr_max, blindscan_result *out) {
  auto &d = *static_cast<scripted_driver *>(context);
  d.last_window_khz = window_hz / 1000;
  d.last_sr_min = sr_min;
  d.last_sr_max = sr_max;
  if (window_hz / 1000 < kIfLowKHz - kWindowKHz || window_hz / 1000 >= kIfHighKHz || sr_max < sr_min) __builtin_trap();
  switch (take(d, 1) % 4) {
    case 0: return SEARCH_REFUSED;
    case 1: return SEARCH_EMPTY;
    case 2: {
      // Near the window, as a real carrier would be.
      int32_t offset = static_cast<int32_t>(take(d, 2)) - 32768;
      *out = {window_hz + static_cast<uint32_t>(offset * 1000), take(d, 4) % 50000000, take(d, 1) % 20, take(d, 1) % 15,
              take(d, 1) % 4, take(d, 1) % 14, take(d, 1) % 4, take(d, 1) % 5};
      return SEARCH_LOCKED;
    }
    default:
      *out = {take(d, 4), take(d, 4), take(d, 4), take(d, 4), take(d, 4), take(d, 4), take(d, 4), take(d, 4)};
      return SEARCH_LOCKED;
  }
}

struct listing {
  scripted_driver *driver;
  uint32_t count;
};

void check_carrier(void *context, const blindscan_result &r, int32_t, uint8_t) {
  auto &l = *static_cast<listing *>(context);
  const scripted_driver &d = *l.driver;
  uint64_t sr = r.symbol_rate;
  if (sr * 100 < uint64_t{d.last_sr_min} * 99 || sr * 100 > uint64_t{d.last_sr_max} * 101) __builtin_trap();
  uint32_t centre = r.frequency / 1000;
  if (centre + 40000 < d.last_window_khz || centre > d.last_window_khz + kMaxWindowKHz + 40000) __builtin_trap();
  l.count++;
}

transponder_list book;
gap_list gaps;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  scan_request request = {10700000, 12750000, 2000000, 45000000, {true, true}, {true, true}, kUniversalLnb};
  planned_sweep sweeps[4];
  int count = plan_sweeps(request, sweeps);
  scripted_driver d = {data, size, 0, 0, 0, 0};
  listing l = {&d, 0};
  scan_driver driver = {answer, &d};
  scan_sink sink = {check_carrier, nullptr, &l};
  scan_tally tally = {};
  book = {};
  gaps = {};
  for (int i = 0; i < count; ++i) {
    sweeps[i].setup.budget = share_budget(sweeps, count, i, tally.searches);
    run_sweep(sweeps[i].setup, static_cast<uint8_t>(i), driver, sink, book, tally, gaps);
  }
  for (uint32_t times : {4u, 2u, 1u})
    for (int i = 0; i < count; ++i) {
      if (tally.searches >= plain_searches(count)) break;
      sweeps[i].setup.budget = plain_searches(count) - tally.searches;
      fill_gaps(sweeps[i].setup, static_cast<uint8_t>(i), 2000 * times, driver, sink, book, tally, gaps);
    }
  if (tally.searches > plain_searches(count) || l.count != tally.found || l.count != static_cast<uint32_t>(book.count))
    __builtin_trap();
  return 0;
}
