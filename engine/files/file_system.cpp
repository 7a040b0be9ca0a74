#include "engine/files/file_system.h"

#include "engine/files/forwarding_file_system.h"

namespace pklfix {

std::unique_ptr<FileSystem> FileSystem::stoppedBy(const std::atomic<bool>&) {
  return std::make_unique<ForwardingFileSystem>(*this);
}

}  // namespace pklfix
