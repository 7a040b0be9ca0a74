#ifndef ENGINE_SPECTRUM_SPECTRUM_FINDER_H_
#define ENGINE_SPECTRUM_SPECTRUM_FINDER_H_

#include <filesystem>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/base/status.h"

namespace pklfix {

// Finds a spectrum by the name derived from its result file. The exact name
// comes first; on a file system that tells letter case apart, the one entry
// of the folder whose name matches regardless of case comes next. Each
// folder is listed at most once per finder, so a run of many files costs one
// listing, not one per file.
class SpectrumFinder {
 public:
  explicit SpectrumFinder(FileSystem& fileSystem) : fileSystem_(fileSystem) {}

  // The path to open. When nothing matches, the exact path, whose opening
  // then fails with the system's own reason; several matches are an error.
  Result<std::filesystem::path> find(const std::filesystem::path& folder, const std::string& name);

 private:
  using FoldedNames = std::unordered_map<std::string, std::vector<std::string>>;

  Result<const FoldedNames*> folderNames(const std::filesystem::path& folder);

  FileSystem& fileSystem_;
  std::map<std::filesystem::path, FoldedNames> listed_;
};

// The spectrum's name for a result file's name: everything before the last
// three characters, then "chn". So S001.pkl and S001.PKL both give S001.chn.
std::string spectrumName(std::string_view pklName);

}  // namespace pklfix

#endif  // ENGINE_SPECTRUM_SPECTRUM_FINDER_H_
