#include "engine/run/leftovers.h"

#include "engine/files/file_names.h"
#include "engine/files/paths.h"
#include "engine/files/temporary_names.h"
#include "engine/rewrite/corrected_copy.h"
#include "engine/spectrum/spectrum_finder.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// A result file of its own, if its spectrum is there; what cannot be
// examined counts as one, so it is left alone.
bool hasOwnSpectrum(FileSystem& fileSystem, SpectrumFinder& finder, const fs::path& chnFolder,
                    const std::string& name) {
  if (!hasExtension(name, ".pkl")) return false;
  Result<fs::path> spectrum = finder.find(chnFolder, spectrumName(name));
  if (!spectrum.ok()) return true;
  Result<FileInfo> info = fileSystem.stat(spectrum.value());
  return !info.ok() || info.value().type != FileType::Missing;
}

}  // namespace

Result<std::vector<fs::path>> LeftoverCandidates::of(const fs::path& folder,
                                                     const std::string& name,
                                                     const fs::path& chnFolder,
                                                     SpectrumFinder& finder) {
  auto it = newNames_.find(folder);
  if (it == newNames_.end()) {
    Result<std::vector<FolderEntry>> entries = fileSystem_.listFolder(folder);
    if (!entries.ok()) return entries.error();
    std::set<std::string> names;
    for (FolderEntry& entry : entries.value()) {
      if (entry.type == FileType::Regular && hasTemporaryPrefix(entry.name)) {
        names.insert(std::move(entry.name));
      }
    }
    it = newNames_.emplace(folder, std::move(names)).first;
  }
  std::vector<fs::path> found;
  if (it->second.empty()) return found;
  for (int attempt = 0; attempt <= kTemporaryAlternatives; ++attempt) {
    std::string candidate = temporaryName(name, attempt);
    if (it->second.count(candidate) && !hasOwnSpectrum(fileSystem_, finder, chnFolder, candidate)) {
      found.push_back(folder / utf8Path(candidate));
    }
  }
  return found;
}

void LeftoverCandidates::forget(const fs::path& path) {
  if (auto it = newNames_.find(path.parent_path()); it != newNames_.end()) {
    it->second.erase(pathText(path.filename()));
  }
}

void LeftoverCandidates::remove(std::vector<fs::path> copies, FileReport& report) {
  for (fs::path& copy : copies) {
    forget(copy);
    if (Status s = fileSystem_.remove(copy); !s.ok()) {
      if (s.error().code != ErrorCode::NotFound) {
        report.warnings.push_back("cannot remove the copy an interrupted run left: " +
                                  s.error().message);
        report.leftoversKept.emplace_back(std::move(copy), s.error());
      }
      continue;
    }
    removed_.emplace(copy, pathText(report.pklPath.filename()));
    report.leftoversRemoved.push_back(std::move(copy));
  }
}

const std::string* LeftoverCandidates::removedCopyOf(const fs::path& path) const {
  auto it = removed_.find(path);
  return it == removed_.end() ? nullptr : &it->second;
}

std::optional<std::string> leftoverOf(FileSystem& fileSystem, SpectrumFinder& finder,
                                      const fs::path& folder, const std::string& name,
                                      const fs::path& chnFolder) {
  if (!hasTemporaryPrefix(name)) return std::nullopt;
  const fs::path path = folder / utf8Path(name);
  Result<FileInfo> info = fileSystem.stat(path);
  if (!info.ok() || info.value().type != FileType::Regular) return std::nullopt;
  if (hasOwnSpectrum(fileSystem, finder, chnFolder, name)) return std::nullopt;

  std::string of = name.substr(kTemporaryPrefix.size());
  if (!correctedFormBegins(fileSystem, finder, folder, of, chnFolder, path)) return std::nullopt;
  return of;
}

}  // namespace pklfix
