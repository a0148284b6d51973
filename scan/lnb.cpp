// LNB types, sweep planning and LNB control.
#include "lnb.h"

#include <ctime>
#include <linux/dvb/frontend.h>
#include <sys/ioctl.h>

// The plain sweep's searches over the whole IF range: no sweep makes more.
constexpr uint32_t kPlainSearches = (kIfHighKHz - kIfLowKHz) / kWindowKHz;
constexpr uint32_t kCBandLimitKHz = 6000000;  // oscillators below sit above their band
constexpr long kDiseqcPauseNs = 15000000;     // tone off before a DiSEqC message

static bool single(const lnb_type &lnb) { return lnb.high_khz == 0; }

// A single oscillator above the band it receives (C band) mirrors it.
static bool inverted(const lnb_type &lnb, uint32_t high_khz) { return single(lnb) && lnb.low_khz >= high_khz; }

void default_range(const lnb_type &lnb, uint32_t *low_khz, uint32_t *high_khz) {
  if (!single(lnb)) {
    *low_khz = lnb.low_khz + kIfLowKHz;
    *high_khz = lnb.high_khz + kIfHighKHz;
  } else if (lnb.low_khz < kCBandLimitKHz && lnb.low_khz > kIfHighKHz) {
    *low_khz = lnb.low_khz - kIfHighKHz;
    *high_khz = lnb.low_khz - kIfLowKHz;
  } else {
    *low_khz = lnb.low_khz + kIfLowKHz;
    *high_khz = lnb.low_khz + kIfHighKHz;
  }
}

void band_range(const lnb_type &lnb, bool high_band, uint32_t *low_khz, uint32_t *high_khz) {
  default_range(lnb, low_khz, high_khz);
  if (single(lnb)) return;
  if (high_band)
    *low_khz = lnb.switch_khz;
  else
    *high_khz = lnb.switch_khz;
}

static uint32_t clamp_if(int64_t khz) {
  if (khz < kIfLowKHz) return kIfLowKHz;
  if (khz > kIfHighKHz) return kIfHighKHz;
  return static_cast<uint32_t>(khz);
}

// The IF windows covering dish [low, high) with oscillator lo.
static bool band_sweep(const scan_request &r, uint32_t low, uint32_t high, uint32_t lo, bool mirrored,
                       sweep_setup &s) {
  if (low >= high) return false;
  int64_t a = mirrored ? (int64_t{lo} - high) : (int64_t{low} - lo);
  int64_t b = mirrored ? (int64_t{lo} - low) : (int64_t{high} - lo);
  s = {};
  s.if_low_khz = clamp_if(a);
  s.if_high_khz = clamp_if(b);
  s.sr_min = r.sr_min;
  s.sr_max = r.sr_max;
  s.oscillator_khz = lo;
  s.inverted = mirrored;
  return s.if_low_khz < s.if_high_khz;
}

int plan_sweeps(const scan_request &r, planned_sweep out[4]) {
  int count = 0;
  for (uint8_t lane = 0; lane < 2; ++lane) {
    if (!r.lanes[lane]) continue;
    for (int band = 0; band < 2; ++band) {
      planned_sweep p = {};
      bool planned = false;
      if (single(r.lnb)) {
        // One band: the request's band words do not apply.
        planned = band == 0 && band_sweep(r, r.low_khz, r.high_khz, r.lnb.low_khz, inverted(r.lnb, r.high_khz), p.setup);
      } else if (r.bands[band]) {
        uint32_t low = band == 0 ? r.low_khz : (r.low_khz > r.lnb.switch_khz ? r.low_khz : r.lnb.switch_khz);
        uint32_t high = band == 0 ? (r.high_khz < r.lnb.switch_khz ? r.high_khz : r.lnb.switch_khz) : r.high_khz;
        planned = band_sweep(r, low, high, band == 0 ? r.lnb.low_khz : r.lnb.high_khz, false, p.setup);
      }
      if (!planned) continue;
      p.setup.lane = lane;
      p.high_band = band == 1 && !single(r.lnb);
      out[count++] = p;
    }
  }
  return count;
}

uint32_t share_budget(const planned_sweep *sweeps, int count, int index, uint32_t used) {
  uint32_t budget = kPlainSearches * static_cast<uint32_t>(count) - used;
  for (int j = index + 1; j < count; ++j) budget -= sweep_windows(sweeps[j].setup);
  return budget;
}

uint32_t plain_searches(int count) { return kPlainSearches * static_cast<uint32_t>(count); }

void pause_ns(long ns) {
  timespec t = {0, ns};
  (void)nanosleep(&t, nullptr);  // a shorter pause only risks the message
}

lnb_step set_lnb(int fd, uint8_t lane, bool high_band, const switch_route &route) {
  unsigned long voltage = lane == 1 ? SEC_VOLTAGE_13 : SEC_VOLTAGE_18;
  if (ioctl(fd, FE_SET_VOLTAGE, voltage) != 0) return LNB_VOLTAGE;
  if (routed(route)) {
    // The tone must be off while the messages go out.
    if (ioctl(fd, FE_SET_TONE, static_cast<unsigned long>(SEC_TONE_OFF)) != 0) return LNB_TONE;
    pause_ns(kDiseqcPauseNs);
    bool burst = false;
    if (!send_route(fd, route, lane, high_band, &burst)) return burst ? LNB_BURST : LNB_DISEQC;
  }
  unsigned long tone = high_band ? SEC_TONE_ON : SEC_TONE_OFF;
  if (ioctl(fd, FE_SET_TONE, tone) != 0) return LNB_TONE;
  return LNB_DONE;
}

const char *lnb_step_name(lnb_step step) {
  switch (step) {
    case LNB_VOLTAGE: return "FE_SET_VOLTAGE";
    case LNB_TONE: return "FE_SET_TONE";
    case LNB_DISEQC: return "FE_DISEQC_SEND_MASTER_CMD";
    case LNB_BURST: return "FE_DISEQC_SEND_BURST";
    case LNB_DONE: break;
  }
  return "";
}

bool read_lnb(int fd, uint8_t *lane, bool *high_band) {
  dtv_property props[2] = {};
  props[0].cmd = DTV_VOLTAGE;
  props[1].cmd = DTV_TONE;
  dtv_properties request = {2, props};
  if (ioctl(fd, FE_GET_PROPERTY, &request) != 0) return false;
  uint32_t voltage = props[0].u.data;
  if (voltage != SEC_VOLTAGE_13 && voltage != SEC_VOLTAGE_18) return false;
  *lane = voltage == SEC_VOLTAGE_13 ? 1 : 0;
  *high_band = props[1].u.data == SEC_TONE_ON;
  return true;
}
