#include "platform/gbk.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace gbk {
namespace {

// One conversion: iconv keeps shift state per descriptor, so each call opens its own; the
// cost is small next to a widget update and keeps the functions thread-safe.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  [[nodiscard]] bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `in`; on an invalid or unconvertible input byte appends `replacement` and skips
  // `skipBytes(in)` bytes.
  template <typename SkipFn>
  std::string Run(std::string_view in, std::string_view replacement, SkipFn skipBytes) {
    std::string out;
    out.reserve(in.size() * 2 + 8);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[1024];
    while (srcLeft > 0) {
      char* dst = buf;
      size_t dstLeft = sizeof buf;
      const size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buf, static_cast<size_t>(dst - buf));
      if (rc != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence at the end): mark it and move on.
      out.append(replacement);
      const size_t skip = std::min(srcLeft, skipBytes(std::string_view(src, srcLeft)));
      src += skip;
      srcLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t cd_;
};

size_t Utf8SequenceLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  size_t n = 1;
  if (lead >= 0xF0) {
    n = 4;
  } else if (lead >= 0xE0) {
    n = 3;
  } else if (lead >= 0xC0) {
    n = 2;
  }
  // Never skip past a byte that starts the next character.
  for (size_t i = 1; i < n && i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return i;
  }
  return n;
}

}  // namespace

std::string FromUtf8(std::string_view utf8) {
  Converter c("GBK", "UTF-8");
  if (!c.Valid()) return std::string(utf8);
  return c.Run(utf8, "?", Utf8SequenceLength);
}

std::string ToUtf8(std::string_view gbkBytes) {
  Converter c("UTF-8", "GBK");
  if (!c.Valid()) return std::string(gbkBytes);
  return c.Run(gbkBytes, "\xEF\xBF\xBD", [](std::string_view) { return size_t{1}; });
}

}  // namespace gbk
