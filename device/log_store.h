#pragma once
// The traffic log's lines as received: GBK bytes without their line ends, kept in large blocks
// with two small offsets per line, bounded in characters by dropping the oldest whole lines.
// Lines are known by an id that only grows (clearing and trimming never reuse one), so a
// view's scroll position and the operator's selection stay on their lines while older ones go.
//
// Characters are counted as the pane shows them: one per character of the decoded text (GBK
// holds no character outside the 16-bit range), one for every byte that is not valid GBK, and
// one for each line break.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace logstore {

// What a line is: received from the device, a frame the console sent, or an NMEA sentence.
enum class LineKind : std::uint8_t { kReceived, kSent, kNmea };

using LineId = std::uint64_t;

class LogStore {
 public:
  static constexpr std::int64_t kDefaultCharacterLimit = 52428800;

  explicit LogStore(std::int64_t characterLimit = kDefaultCharacterLimit)
      : m_limit(characterLimit) {}

  // The most characters kept. Once exceeded, the oldest lines go until a tenth of the bound is
  // free again, so a full store is not trimmed on every append.
  void SetCharacterLimit(std::int64_t limit);
  [[nodiscard]] std::int64_t CharacterLimit() const { return m_limit; }

  // Appends the lines of `gbkText`; a line ends at LF, and a CR before the LF is dropped. A
  // last line without its end is ended. A received line whose text (after the number and the
  // time) begins with "$" is kept as an NMEA sentence. Returns the number of lines appended.
  std::size_t Append(std::string_view gbkText, LineKind kind = LineKind::kReceived);
  void Clear();

  [[nodiscard]] std::int64_t CharacterCount() const { return m_endChar - m_firstChar; }
  [[nodiscard]] LineId FirstLine() const { return m_firstLine; }
  [[nodiscard]] LineId EndLine() const { return m_endLine; }  // one past the newest line
  [[nodiscard]] std::size_t LineCount() const { return m_endLine - m_firstLine; }
  [[nodiscard]] bool Holds(LineId id) const { return id >= m_firstLine && id < m_endLine; }
  // How many times the oldest lines were dropped.
  [[nodiscard]] std::uint64_t Trims() const { return m_trims; }
  // The most characters in one line appended since the last Clear (a view's width estimate).
  [[nodiscard]] int LongestLine() const { return m_longestLine; }

  // A held line: its bytes (no line end), its kind, its characters (no line break), and its
  // first character's offset in the whole text.
  [[nodiscard]] std::string_view Line(LineId id) const;
  [[nodiscard]] LineKind Kind(LineId id) const;
  [[nodiscard]] int LineCharacters(LineId id) const;
  [[nodiscard]] std::int64_t LineStart(LineId id) const;
  // The line holding the character at `offset` (a line break belongs to its line); offsets at
  // or past the end give the last line. EndLine() when the store is empty.
  [[nodiscard]] LineId LineAt(std::int64_t offset) const;

  // The held text with CR LF line ends, byte for byte as received; from `first` (clamped to
  // the oldest held line) to the end.
  [[nodiscard]] std::string Text() const { return TextFrom(m_firstLine); }
  [[nodiscard]] std::string TextFrom(LineId first) const;

  // Characters in GBK text as the pane counts them (no line ends in `gbk`).
  [[nodiscard]] static int CountCharacters(std::string_view gbk);

  // Where `term` (GBK) occurs in the GBK `line`, as a character column: the first occurrence
  // at or after `fromColumn`, or with `forward` false the last one before it; -1 if none.
  // Matches start on a character, never inside a two-byte one; ASCII letters match in either
  // case.
  [[nodiscard]] static int FindInLine(std::string_view line, std::string_view term, int fromColumn,
                                      bool forward);

 private:
  struct Block {
    LineId firstLine = 0;
    std::int64_t firstChar = 0;  // absolute character position of the block's first line
    std::string bytes;
    std::vector<std::uint32_t> byteEnd;  // per line, within `bytes`
    std::vector<std::uint32_t> charEnd;  // per line, characters with line breaks, within block
    std::vector<LineKind> kind;
    [[nodiscard]] LineId EndLine() const { return firstLine + byteEnd.size(); }
  };
  struct Where {
    const Block* block;
    std::size_t index;
  };

  void AppendLine(std::string_view bytes, LineKind kind);
  Block& BlockWithRoom(std::size_t bytes);
  void DropOldestLines();
  [[nodiscard]] Where Find(LineId id) const;
  [[nodiscard]] std::int64_t AbsoluteStart(LineId id) const;
  [[nodiscard]] LineId FirstLineStartingAtOrAfter(std::int64_t absoluteChar) const;

  static constexpr std::size_t kBlockBytes = 256 * 1024;

  std::int64_t m_limit;
  std::deque<Block> m_blocks;
  LineId m_firstLine = 0;
  LineId m_endLine = 0;
  std::int64_t m_firstChar = 0;  // absolute position of the oldest held line
  std::int64_t m_endChar = 0;    // absolute position after the newest line
  std::uint64_t m_trims = 0;
  int m_longestLine = 0;
};

}  // namespace logstore
