#include "tools/kitprint/pager_view.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kitprint {
namespace {

using Place = std::pair<std::size_t, int>;  // page, top line

Place At(const PagerView& v) { return {v.Page(), v.Top()}; }

std::string Text(Place p) { return "page " + std::to_string(p.first + 1) + " line " + std::to_string(p.second); }

PagerView ViewOf(const std::vector<int>& lines) {
  return PagerView(lines.size(), [lines](std::size_t i) { return lines.at(i); });
}

// Lines per page of listings: full 66-line pages, a short one, a page that
// fits the screen, one exactly two screens long and an empty one. Rows: the
// pager's rows on 80 x 24 and 120 x 40 terminals, a one-row view.
const std::vector<std::vector<int>> kDocuments = {{66, 66, 66}, {66, 10, 66}, {46, 23, 0, 66}, {5}, {1, 1, 1}};
const int kRows[] = {23, 39, 1};

TEST(PagerView, PageUpRetracesEveryPageDownToTheStart) {
  for (const std::vector<int>& doc : kDocuments) {
    for (int rows : kRows) {
      PagerView v = ViewOf(doc);
      std::vector<Place> trail{At(v)};
      for (;;) {
        v.PageDown(rows);
        if (At(v) == trail.back()) break;  // the end of the document
        trail.push_back(At(v));
        // Every line of the document is shown on the way, none skipped.
        ASSERT_LT(trail.size(), 1000u);
      }
      EXPECT_EQ(trail.back().first, doc.size() - 1) << rows;
      EXPECT_GE(trail.back().second + rows, doc.back()) << rows;
      for (std::size_t i = trail.size() - 1; i > 0; --i) {
        v.PageUp(rows);
        EXPECT_EQ(Text(At(v)), Text(trail[i - 1])) << rows << " rows, back from " << Text(trail[i]);
      }
      v.PageUp(rows);
      EXPECT_EQ(At(v), Place(0, 0)) << "Page Up at the start stays";
    }
  }
}

TEST(PagerView, PageUpAfterPageDownComesBackFromAnyLine) {
  // From every line the arrows can reach, and after End.
  for (const std::vector<int>& doc : kDocuments) {
    for (int rows : kRows) {
      for (std::size_t page = 0; page < doc.size(); ++page) {
        for (int top = 0; top < std::max(doc[page], 1); ++top) {
          PagerView v = ViewOf(doc);
          for (std::size_t i = 0; i < page; ++i) v.PageDown(1000);  // to the page's top
          ASSERT_EQ(At(v), Place(page, 0));
          for (int i = 0; i < top; ++i) v.LineDown(1);  // the arrows
          if (v.Top() != top) continue;
          const Place from = At(v);
          v.PageDown(rows);
          if (At(v) == from) continue;  // at the end: nothing to undo
          v.PageUp(rows);
          EXPECT_EQ(Text(At(v)), Text(from)) << rows << " rows";
        }
      }
      PagerView v = ViewOf(doc);
      v.End(rows);
      const Place end = At(v);
      v.PageUp(rows);
      v.PageDown(rows);
      EXPECT_EQ(Text(At(v)), Text(end)) << rows << " rows, after End";
    }
  }
}

TEST(PagerView, PageUpFromAPageTopShowsThePreviousPagesLastScreen) {
  PagerView v = ViewOf({66, 66});
  v.PageDown(23);
  v.PageDown(23);
  EXPECT_EQ(At(v), Place(0, 46));  // the rest of the page, blank below it
  v.PageDown(23);
  EXPECT_EQ(At(v), Place(1, 0));
  v.PageUp(23);
  EXPECT_EQ(At(v), Place(0, 46));  // not the previous page's top
  // Left a line further down: back to that line.
  v.Home();
  v.LineDown(23);
  for (int i = 0; i < 3; ++i) v.PageDown(23);
  EXPECT_EQ(At(v), Place(1, 0));
  v.PageUp(23);
  EXPECT_EQ(At(v), Place(0, 47));
  // Page 2 reached by End and the arrows: page 1's last screen.
  v.End(23);
  EXPECT_EQ(At(v), Place(1, 46));
  PagerView w = ViewOf({66, 66});
  w.End(23);
  for (int i = 0; i < 46; ++i) w.LineUp();
  w.PageUp(23);
  EXPECT_EQ(At(w), Place(0, 46));
  // Page Up from a line less than a screen down goes to the page's top.
  w.LineUp();
  w.LineUp();
  w.LineUp();
  w.PageUp(23);
  w.PageUp(23);
  EXPECT_EQ(At(w), Place(0, 0));
}

TEST(PagerView, ArrowsStayWithinThePageAndStopWithItsLastLineInView) {
  PagerView v = ViewOf({30, 66});
  for (int i = 0; i < 20; ++i) v.LineDown(23);
  EXPECT_EQ(At(v), Place(0, 7));  // line 30 at the bottom
  for (int i = 0; i < 20; ++i) v.LineUp();
  EXPECT_EQ(At(v), Place(0, 0));
  // Past the end after Page Down: Down does not pull the view back up.
  v.PageDown(23);
  EXPECT_EQ(At(v), Place(0, 23));
  v.LineDown(23);
  EXPECT_EQ(At(v), Place(0, 23));
  v.End(23);
  EXPECT_EQ(At(v), Place(1, 46));
  v.Home();
  EXPECT_EQ(At(v), Place(0, 0));
}

}  // namespace
}  // namespace kitprint
