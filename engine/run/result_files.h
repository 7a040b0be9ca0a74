#ifndef ENGINE_RUN_RESULT_FILES_H_
#define ENGINE_RUN_RESULT_FILES_H_

#include <filesystem>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"

namespace pklfix {

// The result files (".pkl", in nameLess order) of `pklFolder`, without the
// copies interrupted runs left of them (leftovers.h), their spectra being in
// `chnFolder`: what the window's File2 and `pklfix-cli DIR` offer.
Result<std::vector<std::string>> listResultFiles(FileSystem& fileSystem,
                                                 const std::filesystem::path& pklFolder,
                                                 const std::filesystem::path& chnFolder);

}  // namespace pklfix

#endif  // ENGINE_RUN_RESULT_FILES_H_
