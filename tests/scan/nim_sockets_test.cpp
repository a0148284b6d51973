// The socket listing reader on fixture listings and on lines that arrive in
// several pieces.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "nim_sockets.h"

namespace {

using Table = std::array<int32_t, kSocketCount>;

Table table_of(const nim_listing &l) {
  Table t;
  for (int i = 0; i < kSocketCount; ++i) t[i] = l.nim_type[i];
  return t;
}

Table read_text(const std::string &text) {
  nim_listing listing = {};
  FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  if (text.empty()) in = fopen("/dev/null", "r");
  EXPECT_NE(in, nullptr);
  nim_sockets_stream(listing, in);
  fclose(in);
  return table_of(listing);
}

Table read_fixture(const std::string &name) {
  std::string path = std::string(FIXTURES) + "/nim_sockets/" + name;
  FILE *in = fopen(path.c_str(), "r");
  EXPECT_NE(in, nullptr) << path;
  nim_listing listing = {};
  if (in != nullptr) {
    nim_sockets_stream(listing, in);
    fclose(in);
  }
  return table_of(listing);
}

struct FixtureCase {
  const char *file;
  Table expected;
};

const FixtureCase kFixtures[] = {
    // DVB-S2, cable, DVB-T2 and DVB-S on the four recognised sockets.
    {"four_tuners.txt", {6, 1, 16, 5, 0, 0, 0, 0}},
    // Type lines before any header belong to socket 0.
    {"type_before_header.txt", {5, 3, 0, 0, 0, 0, 0, 0}},
    // Headers for sockets 4 and 10 are not recognised: their types overwrite socket 0.
    {"high_sockets.txt", {16, 0, 0, 0, 0, 0, 0, 0}},
    // Later type lines overwrite; satellite beats cable, cable beats terrestrial.
    {"mixed_types.txt", {1, 6, 1, 0, 0, 0, 0, 0}},
    {"empty.txt", {0, 0, 0, 0, 0, 0, 0, 0}},
};

TEST(NimSockets, FixtureListingsGiveTheExpectedTable) {
  for (const FixtureCase &c : kFixtures) EXPECT_EQ(read_fixture(c.file), c.expected) << c.file;
}

TEST(NimSockets, EachTypeLineMapsToItsSystemNumber) {
  const struct {
    const char *line;
    int32_t expected;
  } cases[] = {
      {"\tType: DVB-S2\n", 6}, {"\tType: DVB-S\n", 5},          {"\tType: DVB-C\n", 1},
      {"\tType: DVB-T2\n", 16}, {"\tType: DVB-T\n", 3},         {"\tType: DVB-T2/DVB-S\n", 5},
      {"\tType: ATSC\n", 0},   {"\tName: DVB-S2 tuner\n", 0},   {"\ttype: DVB-S2\n", 0},
      {"\tName: DVB-S2 Type tuner\n", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(read_text(c.line)[0], c.expected) << c.line;
}

TEST(NimSockets, HeaderAndTypeOnOneLineCountsAsHeaderOnly) {
  EXPECT_EQ(read_text("NIM Socket 2: Type: DVB-S2\n"), (Table{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NimSockets, LongLinesAreTestedIn254CharacterPieces) {
  // "Type:" in the first piece, the system name only in the second.
  std::string split_apart = "\tType:" + std::string(260, ' ') + "DVB-S2\n";
  EXPECT_EQ(read_text(split_apart)[0], 0);

  // The cut falls inside "DVB-S2": the first piece reads as DVB-S.
  std::string type = "\tType: ";
  std::string cut = type + std::string(254 - type.size() - 5, 'x') + "DVB-S2\n";
  EXPECT_EQ(read_text(cut)[0], 5);

  // A header split across two pieces is not recognised.
  std::string header = std::string(250, ' ') + "NIM Socket 1:\n\tType: DVB-S\n";
  EXPECT_EQ(read_text(header), (Table{5, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NimSockets, LookupOutsideTheTableIsUndefined) {
  nim_listing listing = {};
  for (int i = 0; i < kSocketCount; ++i) listing.nim_type[i] = SYS_DVBS2;
  EXPECT_EQ(nim_type_of(listing, 7), SYS_DVBS2);
  EXPECT_EQ(nim_type_of(listing, 8), SYS_UNDEFINED);
  EXPECT_EQ(nim_type_of(listing, -1), SYS_UNDEFINED);
  EXPECT_EQ(nim_type_of(listing, INT32_MIN), SYS_UNDEFINED);
}

}  // namespace
