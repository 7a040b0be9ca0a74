#include "engine/run/result_files.h"

#include <algorithm>
#include <unordered_set>

#include "engine/files/file_names.h"
#include "engine/files/temporary_names.h"
#include "engine/run/leftovers.h"
#include "engine/spectrum/spectrum_finder.h"

namespace pklfix {
namespace fs = std::filesystem;

Result<std::vector<std::string>> listResultFiles(FileSystem& fileSystem, const fs::path& pklFolder,
                                                 const fs::path& chnFolder) {
  Result<std::vector<std::string>> names = listFilesWithExtension(fileSystem, pklFolder, ".pkl");
  if (!names.ok()) return names;
  std::unordered_set<std::string> listed(names.value().begin(), names.value().end());
  SpectrumFinder finder(fileSystem);
  std::vector<std::string>& kept = names.value();
  // Only a file under the first temporary name of a listed file can be a
  // copy of it that a list would show; its bytes are read only then.
  kept.erase(std::remove_if(kept.begin(), kept.end(),
                            [&](const std::string& name) {
                              return hasTemporaryPrefix(name) &&
                                     listed.count(name.substr(kTemporaryPrefix.size())) &&
                                     leftoverOf(fileSystem, finder, pklFolder, name, chnFolder);
                            }),
             kept.end());
  return names;
}

}  // namespace pklfix
