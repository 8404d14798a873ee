#include "data/engine/read_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace recordmanager {
namespace {

// Records along a key as (image, seq), their position standing for them.
struct Place {
  const char* image;
  std::int64_t seq;
  std::int64_t pos;
};

const std::vector<Place> kPlaces = {{"b", 1, 1}, {"d", 3, 2}, {"d", 7, 3}, {"f", 2, 4}};

// A window read by a search from `from` that asked for `limit` records and
// got `got` (in the search's order).
ReadWindow Read(const Cut& from, bool forward, int limit, const std::vector<Place>& got) {
  ReadWindow w;
  for (const Place& p : got) w.Incoming().Add() = Row{p.pos, "record", p.image, p.seq};
  w.Fill(0, from, forward, limit);
  return w;
}

// The position a search answers with; 0 for "no such record", -1 for "not
// known from the window".
std::int64_t Answer(const ReadWindow& w, const Cut& from, bool forward) {
  const ReadWindow::Answer a = w.Search(from, forward);
  if (a.outcome == ReadWindow::Outcome::kUnknown) return -1;
  return a.outcome == ReadWindow::Outcome::kNone ? 0 : a.row->pos;
}

Cut From(const char* image) { return Cut::After(image, kSeqBelowAll); }   // greater or equal
Cut Above(const char* image) { return Cut::After(image, kSeqAboveAll); }  // greater

struct Case {
  const char* what;
  Cut from;
  bool forward;
  std::int64_t expected;
};

TEST(ReadWindow, AWindowThatReachedTheEndAnswersEverySearchInsideIt) {
  // Read forward from "greater than a": all four, fewer than asked for.
  const ReadWindow w = Read(Above("a"), true, 10, kPlaces);
  const Case cases[] = {
      {"greater or equal b", From("b"), true, 1},
      {"greater than b", Above("b"), true, 2},
      {"next after (d, 3)", Cut::After("d", 3), true, 3},
      {"greater or equal e", From("e"), true, 4},
      {"greater than f: the end", Above("f"), true, 0},
      {"greater or equal a: before the window", From("a"), true, -1},
      {"less or equal d", Above("d"), false, 3},
      {"less than d", From("d"), false, 1},
      {"previous of (d, 3)", Cut::After("d", 2), false, 1},
      {"less than b: what lies below is not known", From("b"), false, -1},
      {"less or equal z", Above("z"), false, 4},
      {"last", Cut::Top(), false, 4},
      {"first: not known", Cut::Bottom(), true, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(Answer(w, c.from, c.forward), c.expected) << c.what;
}

TEST(ReadWindow, AWindowCutShortKnowsNothingBeyondItsLastRecord) {
  const ReadWindow w = Read(Above("a"), true, 4, kPlaces);
  EXPECT_EQ(Answer(w, From("f"), true), 4);
  EXPECT_EQ(Answer(w, Above("f"), true), -1);
  EXPECT_EQ(Answer(w, Cut::After("f", 2), true), -1);  // next after the last one read
  EXPECT_EQ(Answer(w, From("g"), true), -1);
}

TEST(ReadWindow, AWindowReadBackwardsKnowsFromItsLowestRecordUp) {
  // Read backwards from the end, two records: (f, 2) and (d, 7).
  const ReadWindow w = Read(Cut::Top(), false, 2, {kPlaces[3], kPlaces[2]});
  EXPECT_EQ(Answer(w, Above("d"), false), 3);
  EXPECT_EQ(Answer(w, Cut::After("f", 1), false), 3);  // previous of (f, 2)
  EXPECT_EQ(Answer(w, Cut::After("d", 6), false), -1);  // previous of (d, 7): (d, 3) may lie below
  EXPECT_EQ(Answer(w, From("d"), false), -1);
  EXPECT_EQ(Answer(w, From("e"), true), 4);
  EXPECT_EQ(Answer(w, Above("f"), true), 0);
  // Read backwards to the start: below its lowest there is nothing.
  const ReadWindow all = Read(Cut::Top(), false, 10, {kPlaces[3], kPlaces[2], kPlaces[1], kPlaces[0]});
  EXPECT_EQ(Answer(all, From("b"), false), 0);
  EXPECT_EQ(Answer(all, Cut::Bottom(), true), 1);
}

TEST(ReadWindow, OwnWritesKeepItWhole) {
  ReadWindow w = Read(Above("a"), true, 10, kPlaces);
  w.Remove(2);
  EXPECT_EQ(Answer(w, Above("b"), true), 3);
  w.Put(Row{9, "record", "e", 9});
  EXPECT_EQ(Answer(w, Cut::After("d", 7), true), 9);
  EXPECT_EQ(Answer(w, Cut::After("e", 9), true), 4);
  w.Put(Row{8, "record", "a", 1});  // below the window: not kept
  EXPECT_EQ(w.AtPosition(8), nullptr);
  ASSERT_NE(w.AtPosition(9), nullptr);
  EXPECT_EQ(w.AtPosition(9)->image, "e");
}

// A program inserting many records right after reading to the end of the
// file would otherwise grow the window by a row each time, and pay for
// finding each one's place among all of them.
TEST(ReadWindow, ManyOwnInsertsGiveItUpRatherThanGrowItWithoutEnd) {
  ReadWindow w = Read(Above("a"), true, 10, kPlaces);
  for (int i = 0; i < 5000 && !w.Empty(); ++i) w.Put(Row{100 + i, "record", "g" + std::to_string(i), 1});
  EXPECT_TRUE(w.Empty());
  EXPECT_EQ(Answer(w, Above("f"), true), -1);
}

TEST(ReadWindow, ARewrittenRecordKeepsItsPlaceUnlessItsKeyMoved) {
  ReadWindow w = Read(Above("a"), true, 10, kPlaces);
  const std::uint64_t generation = w.Generation();
  w.Rewrite(3, Row{3, "new bytes", "d", 7});
  ASSERT_NE(w.AtPosition(3), nullptr);
  EXPECT_EQ(w.AtPosition(3)->data, "new bytes");
  // Rows stay where they were: a walk goes on from its index.
  std::size_t index = 1;
  const Row* next = w.Neighbour(generation, index, true);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->pos, 3);
  EXPECT_EQ(Answer(w, Cut::After("d", 3), true), 3);
  // A new image moves the record to its new place.
  w.Rewrite(2, Row{2, "moved", "e", 9});
  EXPECT_EQ(Answer(w, Above("b"), true), 3);
  EXPECT_EQ(Answer(w, Cut::After("d", 7), true), 2);
  EXPECT_EQ(Answer(w, Cut::After("e", 9), true), 4);
  // Moved below the window: gone from it.
  w.Rewrite(4, Row{4, "moved", "a", 10});
  EXPECT_EQ(w.AtPosition(4), nullptr);
}

TEST(ReadWindow, CutsOrderLikeTheRecordsBetweenThem) {
  EXPECT_LT(CompareCuts(Cut::Bottom(), From("")), 0);
  EXPECT_LT(CompareCuts(From("a"), Cut::After("a", 1)), 0);
  EXPECT_LT(CompareCuts(Cut::After("a", 1), Above("a")), 0);
  EXPECT_LT(CompareCuts(Above("a"), From("a\x01")), 0);
  EXPECT_LT(CompareCuts(Above("\x7f"), From("\x80")), 0);  // bytes compare unsigned
  EXPECT_LT(CompareCuts(Above("\xff"), Cut::Top()), 0);
  EXPECT_EQ(CompareCuts(Cut::After("d", 3), Cut::After("d", 3)), 0);
  EXPECT_TRUE(From("d").Below("d", 1));
  EXPECT_FALSE(Above("d").Below("d", 1));
}

}  // namespace
}  // namespace recordmanager
