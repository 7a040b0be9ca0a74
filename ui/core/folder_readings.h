#ifndef UI_CORE_FOLDER_READINGS_H_
#define UI_CORE_FOLDER_READINGS_H_

#include <filesystem>
#include <map>
#include <vector>

#include "engine/files/forwarding_file_system.h"

namespace pklfix {

// Keeps each folder's listing until forget(), so that one change of folder
// reads that folder once, though its subfolders, its result files, its
// spectra and the spectra of leftover copies are all taken from it. On a
// network share every listing is a round trip per batch of entries. The
// model forgets at the start of each change it is asked for, so what a face
// shows is never older than the user's last action.
class FolderReadings final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) override {
    auto it = listings_.find(folder);
    if (it == listings_.end()) it = listings_.emplace(folder, base().listFolder(folder)).first;
    return it->second;
  }
  void forget() { listings_.clear(); }

 private:
  std::map<std::filesystem::path, Result<std::vector<FolderEntry>>> listings_;
};

}  // namespace pklfix

#endif  // UI_CORE_FOLDER_READINGS_H_
