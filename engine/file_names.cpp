#include "engine/file_names.h"

#include <algorithm>

namespace pklfix {
namespace {

char foldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

std::string spectrumName(std::string_view pklName) {
  return std::string(pklName.substr(0, pklName.size() < 3 ? 0 : pklName.size() - 3)) + "chn";
}

}  // namespace pklfix
