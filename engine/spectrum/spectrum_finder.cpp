#include "engine/spectrum/spectrum_finder.h"

#include <algorithm>

#include "engine/files/file_names.h"
#include "engine/files/paths.h"

namespace pklfix {

Result<const SpectrumFinder::FoldedNames*> SpectrumFinder::folderNames(
    const std::filesystem::path& folder) {
  if (auto it = listed_.find(folder); it != listed_.end()) return &it->second;
  Result<std::vector<FolderEntry>> entries = fileSystem_.listFolder(folder);
  if (!entries.ok()) return entries.error();
  FoldedNames names;
  for (FolderEntry& entry : entries.value()) {
    if (entry.type == FileType::Directory) continue;
    names[foldCase(entry.name)].push_back(std::move(entry.name));
  }
  return &listed_.emplace(folder, std::move(names)).first->second;
}

Result<std::filesystem::path> SpectrumFinder::find(const std::filesystem::path& folder,
                                                   const std::string& name) {
  std::filesystem::path exact = folder / utf8Path(name);
  Result<FileInfo> info = fileSystem_.stat(exact);
  if (!info.ok()) return info.error();
  if (info.value().type != FileType::Missing) return exact;

  Result<const FoldedNames*> names = folderNames(folder);
  if (!names.ok()) return names.error();
  auto it = names.value()->find(foldCase(name));
  if (it == names.value()->end()) return exact;
  const std::vector<std::string>& matches = it->second;
  if (matches.size() == 1) return folder / utf8Path(matches.front());

  std::vector<std::string> sorted = matches;
  std::sort(sorted.begin(), sorted.end());
  std::string list;
  for (const std::string& match : sorted) list += (list.empty() ? "" : ", ") + match;
  return Error{ErrorCode::InvalidArgument, "cannot choose the spectrum for " + pathText(exact) +
                                               ": several names match it (" + list + ")"};
}

std::string spectrumName(std::string_view pklName) {
  return std::string(pklName.substr(0, pklName.size() < 3 ? 0 : pklName.size() - 3)) + "chn";
}

}  // namespace pklfix
