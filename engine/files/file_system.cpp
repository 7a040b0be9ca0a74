#include "engine/files/file_system.h"

#include "engine/files/forwarding_file_system.h"

namespace pklfix {

std::unique_ptr<FileSystem> FileSystem::stoppedBy(const std::atomic<bool>&) {
  return std::make_unique<ForwardingFileSystem>(*this);
}

Result<std::string> readWholeFile(FileSystem& fileSystem, const std::filesystem::path& path) {
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(path, Sharing::Writers);
  if (!in.ok()) return in.error();
  std::string bytes;
  std::unique_ptr<char[]> buffer(new char[64 * 1024]);
  for (;;) {
    Result<std::size_t> n = in.value()->read(buffer.get(), 64 * 1024);
    if (!n.ok()) return n.error();
    if (n.value() == 0) return bytes;
    bytes.append(buffer.get(), n.value());
  }
}

Status FileSystem::syncFiles(std::span<WritableFile* const> files) {
  Status first;
  for (WritableFile* file : files) {
    if (Status s = file->sync(); first.ok()) first = s;
  }
  return first;
}

}  // namespace pklfix
