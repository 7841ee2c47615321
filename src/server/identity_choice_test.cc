#include "server/identity_choice.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/byte_order.h"

namespace {

struct Triple {
  uint16_t kind, number, level;
};

IdentityChoice Choose(const std::vector<Triple>& triples) {
  std::vector<uint8_t> list(triples.size() * 6);
  for (size_t i = 0; i < triples.size(); ++i) {
    WriteLittle16(&list[6 * i], triples[i].kind);
    WriteLittle16(&list[6 * i + 2], triples[i].number);
    WriteLittle16(&list[6 * i + 4], triples[i].level);
  }
  IdentityChoice choice;
  for (size_t i = 0; i < triples.size(); ++i) {
    IdentityTriple t = ReadIdentityTriple(list.data(), i);
    EXPECT_EQ(t.kind, triples[i].kind);
    EXPECT_EQ(t.number, triples[i].number);
    EXPECT_EQ(t.level, triples[i].level);
    ConsiderIdentity(choice, t);
  }
  return choice;
}

TEST(IdentityChoiceTest, IdentityZeroWinsElseTheFirstSufficient) {
  struct Row {
    std::vector<Triple> triples;
    bool chosen;
    uint16_t identity;
  } rows[] = {
      {{}, false, 0},
      {{{1, 5, 0}, {1, 6, 0}}, true, 5},
      {{{1, 5, 0}, {2, 0, 0}}, true, 0},
      {{{1, 0, 0}, {1, 7, 0}}, true, 0},
      {{{1, 0, 3}, {1, 5, 2}}, false, 0},
      // An identity 0 without sufficient access does not win.
      {{{1, 9, 0}, {1, 0, 1}}, true, 9},
      {{{1, 0, 1}, {4, 9, 0}, {3, 8, 0}}, true, 9},
      // The kind plays no part; large values are unsigned.
      {{{0xFFFF, 0x8001, 0}, {0, 0x8002, 0}}, true, 0x8001},
      {{{1, 3, 0xFFFF}, {1, 4, 0x0100}}, false, 0},
  };
  for (const Row& row : rows) {
    IdentityChoice choice = Choose(row.triples);
    EXPECT_EQ(choice.chosen, row.chosen) << row.triples.size();
    if (row.chosen) {
      EXPECT_EQ(choice.identity, row.identity) << row.triples.size();
    }
  }
}

TEST(IdentityChoiceTest, TriplesAreReadLittleEndian) {
  const uint8_t list[] = {0, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  IdentityTriple t = ReadIdentityTriple(list, 1);
  EXPECT_EQ(t.kind, 0x0201);
  EXPECT_EQ(t.number, 0x0403);
  EXPECT_EQ(t.level, 0x0605);
}

}  // namespace
