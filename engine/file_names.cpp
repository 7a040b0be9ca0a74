#include "engine/file_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace pklfix {
namespace {

char foldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

std::string foldCase(std::string_view text) {
  std::string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), foldChar);
  return folded;
}

bool hasExtension(std::string_view name, std::string_view extension) {
  return name.size() >= extension.size() &&
         foldCase(name.substr(name.size() - extension.size())) == foldCase(extension);
}

bool nameLess(std::string_view a, std::string_view b) {
  auto folded = [](char x, char y) { return foldChar(x) < foldChar(y); };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded)) return false;
  return a < b;
}

Result<std::vector<std::string>> listFilesWithExtension(FileSystem& fileSystem,
                                                        const std::filesystem::path& folder,
                                                        std::string_view extension) {
  Result<std::vector<FolderEntry>> entries = fileSystem.listFolder(folder);
  if (!entries.ok()) return entries.error();
  std::vector<std::string> names;
  for (FolderEntry& entry : entries.value()) {
    if (entry.type != FileType::Directory && hasExtension(entry.name, extension)) {
      names.push_back(std::move(entry.name));
    }
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return nameLess(a, b); });
  return names;
}

std::string temporaryName(std::string_view name, int attempt) {
  const std::string prefix(kTemporaryPrefix);
  std::string suffix = attempt == 0 ? "" : "." + std::to_string(attempt);
  std::string full = prefix + std::string(name) + (attempt == 0 ? "" : suffix + ".tmp");
  if (full.size() <= kMaxNameBytes) return full;
  // The hash tells apart two long names that share their beginning.
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(name)));
  std::string tail = std::string("~") + hash + suffix + ".tmp";
  return prefix + std::string(utf8Prefix(name, kMaxNameBytes - prefix.size() - tail.size())) + tail;
}

bool hasTemporaryPrefix(std::string_view name) {
  return name.size() > kTemporaryPrefix.size() &&
         name.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix;
}

std::string spectrumName(std::string_view pklName) {
  return std::string(pklName.substr(0, pklName.size() < 3 ? 0 : pklName.size() - 3)) + "chn";
}

}  // namespace pklfix
