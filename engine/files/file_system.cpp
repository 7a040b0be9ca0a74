#include "engine/files/file_system.h"

#include "engine/files/forwarding_file_system.h"

namespace pklfix {

std::unique_ptr<FileSystem> FileSystem::stoppedBy(const std::atomic<bool>&) {
  return std::make_unique<ForwardingFileSystem>(*this);
}

Status FileSystem::syncFiles(std::span<WritableFile* const> files) {
  Status first;
  for (WritableFile* file : files) {
    if (Status s = file->sync(); first.ok()) first = s;
  }
  return first;
}

}  // namespace pklfix
