#ifndef TESTS_SUPPORT_REFERENCE_REWRITE_H_
#define TESTS_SUPPORT_REFERENCE_REWRITE_H_

#include <string>
#include <string_view>

namespace pklfix::testing {

// The correction of a whole result file written the plain way, to hold the
// streaming rewriter to: split into lines at CR LF, a lone LF or a lone CR;
// a line that starts with the prefix becomes the prefix and the next stamp;
// every line ends in CR LF. `nextStamp` is called once per such line.
template <typename NextStamp>
std::string referenceRewrite(std::string_view text, NextStamp nextStamp) {
  constexpr std::string_view kPrefix = "Acquisition Date : ";
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (line.substr(0, kPrefix.size()) == kPrefix) {
      out += kPrefix;
      out += nextStamp();
    } else {
      out += line;
    }
    out += "\r\n";
    if (end == std::string_view::npos) break;
    bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    start = end + (crLf ? 2 : 1);
  }
  return out;
}

}  // namespace pklfix::testing

#endif  // TESTS_SUPPORT_REFERENCE_REWRITE_H_
