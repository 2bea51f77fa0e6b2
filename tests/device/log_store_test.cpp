// The log's line store: characters counted as the pane shows them, the bound dropping the
// oldest whole lines as the old text control did, and lines found again across blocks.

#include "device/log_store.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using logstore::LogStore;

TEST(LogStore, CountsCharactersAsTheyAreShown) {
  struct Row {
    const char* what;
    std::string bytes;
    int characters;
  } rows[] = {
      {"ASCII", "AT+uart:ok#", 11},
      {"two GBK characters", "\xD6\xD0\xCE\xC4", 2},
      {"GBK between ASCII",
       "a\xD6\xD0"
       "b",
       3},
      {"a byte that is never GBK",
       "\x80"
       "A\xFF",
       3},
      {"a lead byte cut off at the end", "ab\xD6", 3},
      {"a lead byte before a byte no pair ends in", "\xD6\x7F", 2},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(LogStore::CountCharacters(row.bytes), row.characters) << row.what;
  }
}

TEST(LogStore, DropsTheOldestWholeLinesDownToNineTenthsOfTheBound) {
  struct Row {
    const char* what;
    std::int64_t limit;
    int lines;      // appended one by one, each "line NNNN" (9 characters + break)
    bool oneBatch;  // or all in one append
    std::uint64_t firstKept;
    std::int64_t characters;
  } rows[] = {
      {"below the bound", 100, 10, false, 0, 100},
      {"one line over", 100, 11, false, 2, 90},
      {"one batch over", 100, 11, true, 2, 90},
      {"trimmed twice", 100, 21, false, 12, 90},
      {"lines longer than the bound all go", 5, 2, false, 2, 0},
  };
  for (const Row& row : rows) {
    LogStore store(row.limit);
    std::string batch;
    for (int i = 0; i < row.lines; ++i) {
      char line[32];
      std::snprintf(line, sizeof line, "line %04d\r\n", i);
      if (row.oneBatch) {
        batch += line;
      } else {
        store.Append(line);
      }
    }
    if (row.oneBatch) store.Append(batch);
    EXPECT_EQ(store.FirstLine(), row.firstKept) << row.what;
    EXPECT_EQ(store.CharacterCount(), row.characters) << row.what;
    EXPECT_EQ(store.EndLine(), static_cast<std::uint64_t>(row.lines)) << row.what;
    if (store.LineCount() > 0) {
      char first[32];
      std::snprintf(first, sizeof first, "line %04d", static_cast<int>(row.firstKept));
      EXPECT_EQ(store.Line(store.FirstLine()), first) << row.what;
    }
  }
}

TEST(LogStore, KeepsBytesAndEndsEveryLine) {
  LogStore store;
  store.Append("\x80\xFF garbage\r\nplain\n");
  store.Append("unended");
  EXPECT_EQ(store.Text(), "\x80\xFF garbage\r\nplain\r\nunended\r\n");
  EXPECT_EQ(store.TextFrom(1), "plain\r\nunended\r\n");
  store.Clear();
  EXPECT_EQ(store.Text(), "");
  EXPECT_EQ(store.CharacterCount(), 0);
  store.Append("after\r\n", logstore::LineKind::kSent);
  EXPECT_EQ(store.FirstLine(), 3U);  // ids are never reused
  EXPECT_EQ(store.Kind(3), logstore::LineKind::kSent);
}

TEST(LogStore, FindsLinesAndOffsetsAcrossBlocksAndTrims) {
  LogStore store(2'000'000);
  std::string reference;
  std::vector<std::int64_t> starts;  // of every line ever appended, in the whole history
  std::int64_t total = 0;
  for (int i = 0; i < 120'000; ++i) {
    // Lines of varying length, some with GBK, spread over many blocks.
    std::string line = std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), 'x');
    if (i % 5 == 0) line += "\xD6\xD0";
    starts.push_back(total);
    total += LogStore::CountCharacters(line) + 1;
    store.Append(line + "\r\n");
  }
  ASSERT_GT(store.Trims(), 0U);
  const std::uint64_t first = store.FirstLine();
  EXPECT_EQ(store.CharacterCount(), total - starts[first]);
  for (std::uint64_t id = first; id < store.EndLine(); id += 997) {
    const std::int64_t start = starts[id] - starts[first];
    EXPECT_EQ(store.LineStart(id), start);
    EXPECT_EQ(store.LineAt(start), id);
    EXPECT_EQ(store.LineAt(start + store.LineCharacters(id)), id);  // its line break
    EXPECT_EQ(store.Line(id).substr(0, std::to_string(id).size()), std::to_string(id));
  }
  EXPECT_EQ(store.LineAt(store.CharacterCount() + 10), store.EndLine() - 1);
}

}  // namespace
