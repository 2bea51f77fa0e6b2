#include "device/log_store.h"

#include <algorithm>

namespace logstore {

int LogStore::CountCharacters(std::string_view gbk) {
  int count = 0;
  for (std::size_t i = 0; i < gbk.size(); ++count) {
    const auto lead = static_cast<unsigned char>(gbk[i]);
    if (lead >= 0x81 && lead <= 0xFE && i + 1 < gbk.size()) {
      const auto trail = static_cast<unsigned char>(gbk[i + 1]);
      if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
        i += 2;
        continue;
      }
    }
    ++i;  // ASCII, or a byte that is not GBK (shown as one replacement character)
  }
  return count;
}

namespace {

bool IsAsciiLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The byte length of the character at the start of `text`.
std::size_t CharacterBytes(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead >= 0x81 && lead <= 0xFE && text.size() > 1) {
    const auto trail = static_cast<unsigned char>(text[1]);
    if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) return 2;
  }
  return 1;
}

// Whether `term` matches at the start of `text`, folding case on the term's one-byte letters.
bool MatchesAt(std::string_view text, std::string_view term) {
  if (text.size() < term.size()) return false;
  for (std::size_t i = 0; i < term.size();) {
    const std::size_t width = CharacterBytes(term.substr(i));
    const auto t = static_cast<unsigned char>(term[i]);
    const auto b = static_cast<unsigned char>(text[i]);
    const bool same = width == 1 && IsAsciiLetter(t)
                          ? (t | 0x20) == (b | 0x20) && IsAsciiLetter(b)
                          : text.substr(i, width) == term.substr(i, width);
    if (!same) return false;
    i += width;
  }
  return true;
}

// Whether a received line's text, after its number and time, begins with "$".
bool IsNmeaLine(std::string_view line) {
  const std::size_t first = line.find('\t');
  const std::size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
  return second != std::string_view::npos && second + 1 < line.size() && line[second + 1] == '$';
}

}  // namespace

int LogStore::FindInLine(std::string_view line, std::string_view term, int fromColumn,
                         bool forward) {
  if (term.empty()) return -1;
  int found = -1;
  int column = 0;
  for (std::size_t i = 0; i < line.size(); i += CharacterBytes(line.substr(i)), ++column) {
    if (forward && column < fromColumn) continue;
    if (!forward && column >= fromColumn) break;
    if (!MatchesAt(line.substr(i), term)) continue;
    found = column;
    if (forward) break;
  }
  return found;
}

void LogStore::SetCharacterLimit(std::int64_t limit) {
  m_limit = limit;
  if (CharacterCount() > m_limit) DropOldestLines();
}

std::size_t LogStore::Append(std::string_view gbkText, LineKind kind) {
  std::size_t lines = 0;
  while (!gbkText.empty()) {
    const std::size_t end = gbkText.find('\n');
    std::string_view line = gbkText.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    AppendLine(line, kind);
    ++lines;
    if (end == std::string_view::npos) break;
    gbkText.remove_prefix(end + 1);
  }
  if (CharacterCount() > m_limit) DropOldestLines();
  return lines;
}

LogStore::Block& LogStore::BlockWithRoom(std::size_t bytes) {
  if (!m_blocks.empty()) {
    Block& last = m_blocks.back();
    if (last.bytes.capacity() - last.bytes.size() >= bytes) return last;
    // Sealed: its line tables will not grow again.
    last.byteEnd.shrink_to_fit();
    last.charEnd.shrink_to_fit();
    last.kind.shrink_to_fit();
  }
  Block& block = m_blocks.emplace_back();
  block.firstLine = m_endLine;
  block.firstChar = m_endChar;
  block.bytes.reserve(std::max(kBlockBytes, bytes));
  return block;
}

void LogStore::AppendLine(std::string_view bytes, LineKind kind) {
  if (kind == LineKind::kReceived && IsNmeaLine(bytes)) kind = LineKind::kNmea;
  Block& block = BlockWithRoom(bytes.size());
  const int characters = CountCharacters(bytes);
  block.bytes.append(bytes);
  block.byteEnd.push_back(static_cast<std::uint32_t>(block.bytes.size()));
  m_endChar += characters + 1;
  block.charEnd.push_back(static_cast<std::uint32_t>(m_endChar - block.firstChar));
  block.kind.push_back(kind);
  ++m_endLine;
  m_longestLine = std::max(m_longestLine, characters);
}

void LogStore::Clear() {
  m_blocks.clear();
  m_firstLine = m_endLine;
  m_firstChar = m_endChar;
  m_longestLine = 0;
}

void LogStore::DropOldestLines() {
  const std::int64_t target = m_limit - m_limit / 10;
  const LineId first = FirstLineStartingAtOrAfter(m_endChar - target);
  if (first == m_firstLine) return;
  m_firstChar = first == m_endLine ? m_endChar : AbsoluteStart(first);
  m_firstLine = first;
  while (!m_blocks.empty() && m_blocks.front().EndLine() <= m_firstLine) m_blocks.pop_front();
  ++m_trims;
}

LogStore::Where LogStore::Find(LineId id) const {
  // The last block that starts at or before `id`.
  auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), id,
                             [](LineId line, const Block& b) { return line < b.firstLine; });
  const Block& block = *std::prev(it);
  return {&block, static_cast<std::size_t>(id - block.firstLine)};
}

std::int64_t LogStore::AbsoluteStart(LineId id) const {
  const auto [block, index] = Find(id);
  return block->firstChar + (index == 0 ? 0 : block->charEnd[index - 1]);
}

LineId LogStore::FirstLineStartingAtOrAfter(std::int64_t absoluteChar) const {
  if (absoluteChar <= m_firstChar) return m_firstLine;
  if (absoluteChar >= m_endChar) return m_endLine;
  // The block holding that position; a line starts at or after it when the line before it
  // ends at or before it.
  auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), absoluteChar,
                             [](std::int64_t c, const Block& b) { return c < b.firstChar; });
  const Block& block = *std::prev(it);
  const auto relative = static_cast<std::uint32_t>(absoluteChar - block.firstChar);
  if (relative == 0) return std::max(m_firstLine, block.firstLine);
  const auto ending = std::lower_bound(block.charEnd.begin(), block.charEnd.end(), relative);
  return std::max(m_firstLine,
                  block.firstLine + static_cast<LineId>(ending - block.charEnd.begin()) + 1);
}

std::string_view LogStore::Line(LineId id) const {
  if (!Holds(id)) return {};
  const auto [block, index] = Find(id);
  const std::uint32_t begin = index == 0 ? 0 : block->byteEnd[index - 1];
  return std::string_view(block->bytes).substr(begin, block->byteEnd[index] - begin);
}

LineKind LogStore::Kind(LineId id) const {
  if (!Holds(id)) return LineKind::kReceived;
  const auto [block, index] = Find(id);
  return block->kind[index];
}

int LogStore::LineCharacters(LineId id) const {
  if (!Holds(id)) return 0;
  const auto [block, index] = Find(id);
  const std::uint32_t begin = index == 0 ? 0 : block->charEnd[index - 1];
  return static_cast<int>(block->charEnd[index] - begin) - 1;
}

std::int64_t LogStore::LineStart(LineId id) const {
  if (id >= m_endLine) return CharacterCount();
  if (id <= m_firstLine) return 0;
  return AbsoluteStart(id) - m_firstChar;
}

LineId LogStore::LineAt(std::int64_t offset) const {
  if (m_firstLine == m_endLine) return m_endLine;
  if (offset >= CharacterCount()) return m_endLine - 1;
  // The line holding the character is the last line that starts at or before it.
  const LineId after = FirstLineStartingAtOrAfter(m_firstChar + offset + 1);
  return std::max(m_firstLine, after - 1);
}

std::string LogStore::TextFrom(LineId first) const {
  first = std::max(first, m_firstLine);
  std::string text;
  if (first >= m_endLine) return text;
  std::size_t size = 0;  // at most one block more than needed
  for (const Block& block : m_blocks) size += block.bytes.size() + 2 * block.byteEnd.size();
  text.reserve(size);
  for (LineId id = first; id < m_endLine; ++id) {
    text.append(Line(id));
    text.append("\r\n");
  }
  return text;
}

}  // namespace logstore
