#ifndef ENGINE_RUN_LEFTOVERS_H_
#define ENGINE_RUN_LEFTOVERS_H_

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"
#include "engine/run/run_report.h"
#include "engine/spectrum/spectrum_finder.h"

namespace pklfix {

// Copies left by interrupted runs. A run writes the corrected form of a
// result file N under one of N's temporary names (temporaryName in
// file_names.h) and renames
// it over N; a run killed in between leaves it behind. A regular file under
// one of those names, in N's folder, whose bytes are a beginning of N's
// corrected form or all of it, is such a leftover: removing it loses
// nothing, since its bytes can be made again from N and N's spectrum.
// Anything else under those names (other bytes, a link, a folder, a result
// file "newS001.pkl" with a spectrum of its own) is not one.

// The files of a folder that may be leftovers of a result file, so that a
// run need not look for each of a file's temporary names. Each folder is
// listed once, when first asked about, and only the regular files whose
// names start with kTemporaryPrefix are kept.
class LeftoverCandidates {
 public:
  explicit LeftoverCandidates(FileSystem& fileSystem) : fileSystem_(fileSystem) {}

  // The files under the temporary names of `name` in `folder`, but for a
  // result file with a spectrum of its own in `chnFolder`.
  Result<std::vector<std::filesystem::path>> of(const std::filesystem::path& folder,
                                                const std::string& name,
                                                const std::filesystem::path& chnFolder,
                                                SpectrumFinder& finder);
  // Removes `copies`, leftovers of `report`'s file that handling it made
  // redundant, into report.leftoversRemoved. One that cannot be removed
  // costs nothing but space, since its file is handled: it goes into
  // report.leftoversKept with a warning. One already gone (the same folder
  // named two ways) needs no word.
  void remove(std::vector<std::filesystem::path> copies, FileReport& report);
  // The name of the result file that `path` copied, if remove() removed it.
  const std::string* removedCopyOf(const std::filesystem::path& path) const;

 private:
  // `path` is gone, or has become something the listing did not see.
  void forget(const std::filesystem::path& path);

  FileSystem& fileSystem_;
  std::map<std::filesystem::path, std::set<std::string>> newNames_;
  std::map<std::filesystem::path, std::string> removed_;
};

// The result file of `folder` that `name` is a leftover of, if it is one:
// `name` is "new" + N for a result file N of that folder, has no spectrum of
// its own in `chnFolder`, and its bytes begin N's corrected form. Anything
// that keeps this from being known (N's spectrum missing, a read failing)
// makes it no leftover, so it is handled as any result file.
std::optional<std::string> leftoverOf(FileSystem& fileSystem, SpectrumFinder& finder,
                                      const std::filesystem::path& folder, const std::string& name,
                                      const std::filesystem::path& chnFolder);

}  // namespace pklfix

#endif  // ENGINE_RUN_LEFTOVERS_H_
