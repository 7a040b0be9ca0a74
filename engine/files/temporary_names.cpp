#include "engine/files/temporary_names.h"

#include <cstdint>
#include <cstdio>

namespace pklfix {
namespace {

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// The longest beginning of `text` of at most `bytes` bytes that does not cut
// a UTF-8 sequence, so the name still converts on Windows.
std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

}  // namespace

std::string temporaryName(std::string_view name, int attempt) {
  // Built by appending: g++ 12 takes "text" + string for an overlapping
  // copy (-Wrestrict).
  std::string suffix;
  if (attempt != 0) suffix.append(".").append(std::to_string(attempt));
  std::string full(kTemporaryPrefix);
  full.append(name);
  if (attempt != 0) full.append(suffix).append(".tmp");
  if (full.size() <= kMaxNameBytes) return full;
  // The hash tells apart two long names that share their beginning.
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(name)));
  std::string tail("~");
  tail.append(hash).append(suffix).append(".tmp");
  std::string shortened(kTemporaryPrefix);
  shortened.append(utf8Prefix(name, kMaxNameBytes - kTemporaryPrefix.size() - tail.size()));
  return shortened.append(tail);
}

bool hasTemporaryPrefix(std::string_view name) {
  return name.size() > kTemporaryPrefix.size() &&
         name.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix;
}

}  // namespace pklfix
