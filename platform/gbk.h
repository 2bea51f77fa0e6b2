#pragma once
// GBK is the console's 8-bit text: the device speaks it, members hold it, the log file is
// written in it. Conversion to and from Unicode happens only at the window's edge.

#include <string>
#include <string_view>

namespace gbk {

// UTF-8 to GBK. A character GBK cannot hold becomes '?', so nothing is silently dropped.
std::string FromUtf8(std::string_view utf8);

// GBK to UTF-8. A byte sequence that is not valid GBK becomes U+FFFD per offending byte, so
// device garbage shows as such instead of vanishing or truncating the text.
std::string ToUtf8(std::string_view gbkBytes);

}  // namespace gbk
