// skyscan on several tuners, in-process through the simulated receiver's
// model with modelled time (the crew rig): however the tuners are wired,
// the bundled satellite's carriers are listed once each, as one tuner lists
// them; a tuner that dies leaves its windows to the others; a cable held by
// a busy tuner is never switched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "crew_rig.h"

namespace {

struct model_file {
  grid_model *model;
  model_file() {
    char error[256];
    model = grid_load(SIMRX_DEFAULT_SAT, error, sizeof error);
    if (model != nullptr) grid_set_cell(*model, {10, 1, 0, false});
  }
  ~model_file() { grid_free(model); }
};

// Lines alike when the merge rule would take them for one carrier.
bool same_carrier(const rig_line &a, const rig_line &b) {
  return a.lane == b.lane && 4000ll * std::llabs(int64_t{a.khz} - b.khz) < int64_t{a.symbol_rate} + b.symbol_rate;
}

// Every line of `one` has exactly one partner in `many`, and the other way.
void expect_same_list(const std::vector<rig_line> &one, const std::vector<rig_line> &many) {
  ASSERT_EQ(many.size(), one.size());
  for (const rig_line &line : one) {
    int partners = 0;
    for (const rig_line &other : many) partners += same_carrier(line, other);
    EXPECT_EQ(partners, 1) << line.khz << " " << int{line.lane};
  }
}

TEST(Crew, CutsEnoughPiecesThatNoTunerIdlesForLong) {
  struct row {
    int sweeps, members, cable_size, pieces;
  };
  const row rows[] = {{4, 1, 1, 1}, {4, 2, 1, 2}, {4, 4, 1, 4}, {4, 3, 1, 3},
                      {4, 2, 2, 2}, {4, 8, 8, 8}, {1, 3, 1, 12}, {2, 4, 2, 8}};
  for (const row &r : rows)
    EXPECT_EQ(pieces_per_sweep(r.sweeps, r.members, r.cable_size), r.pieces) << r.sweeps << " " << r.members;
}

TEST(Crew, ListsWhatOneTunerListsHoweverTheTunersAreWired) {
  model_file f;
  ASSERT_NE(f.model, nullptr);
  rig_result one;
  rig_scan(*f.model, {1, 1}, nullptr, {-1, 0}, one);
  ASSERT_EQ(one.lines.size(), 32u);
  const rig_wiring wirings[] = {{2, 1}, {4, 1}, {2, 2}, {4, 4}, {8, 8}, {4, 2}};
  for (const rig_wiring &w : wirings) {
    SCOPED_TRACE(testing::Message() << w.tuners << " tuners, " << w.per_cable << " a cable");
    rig_result many;
    rig_scan(*f.model, w, nullptr, {-1, 0}, many);
    expect_same_list(one.lines, many.lines);
    // The work is shared out: no tuner makes fewer than three quarters of
    // the searches of the busiest, and the run ends before one tuner's would.
    uint32_t most = 0;
    for (int i = 0; i < w.tuners; ++i) most = std::max(most, many.report.searches[i]);
    for (int i = 0; i < w.tuners; ++i) EXPECT_GE(4 * many.report.searches[i], 3 * most) << i;
    EXPECT_LT(many.duration_ms, one.duration_ms);
    // A cable's setting changes only for all its tuners at once.
    EXPECT_LE(many.switches, 4u * static_cast<uint32_t>(w.tuners / w.per_cable) + many.report.pieces);
  }
}

TEST(Crew, ATunerThatDiesLeavesItsWindowsToTheOthers) {
  model_file f;
  rig_result one, failed;
  rig_scan(*f.model, {1, 1}, nullptr, {-1, 0}, one);
  for (int per_cable : {1, 2}) {
    rig_scan(*f.model, {2, per_cable}, nullptr, {1, 20}, failed);
    expect_same_list(one.lines, failed.lines);
    EXPECT_TRUE(failed.report.failed[1]);
    EXPECT_FALSE(failed.report.failed[0]);
    EXPECT_EQ(failed.report.searches[1], 20u + kRefusalsToFail);
  }
}

}  // namespace
