#include "engine/files/file_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace pklfix {
namespace {

char foldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The digits of the run that starts at `at`, without its leading zeros;
// `at` moves past the run.
std::string_view digitRun(std::string_view text, std::size_t& at) {
  while (at < text.size() && text[at] == '0') ++at;
  const std::size_t first = at;
  while (at < text.size() && isDigit(text[at])) ++at;
  return text.substr(first, at - first);
}

// nameLess's order before the tie-break: negative, 0 or positive. A digit
// meeting any other byte compares as that byte does, so all runs of digits
// sit together where the digits sit among the bytes.
int compareNames(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::string_view x = digitRun(a, i);
      std::string_view y = digitRun(b, j);
      // Without leading zeros, the longer run is the larger number.
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (int order = x.compare(y); order != 0) return order;
      continue;
    }
    const auto x = static_cast<unsigned char>(foldChar(a[i++]));
    const auto y = static_cast<unsigned char>(foldChar(b[j++]));
    if (x != y) return x < y ? -1 : 1;
  }
  return (i < a.size()) - (j < b.size());
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
  const int order = compareNames(a, b);
  // string_view compares bytes as unsigned char.
  return order != 0 ? order < 0 : a < b;
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

}  // namespace pklfix
