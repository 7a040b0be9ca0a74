#include "engine/record/original_store.h"

#include <memory>

#include "engine/files/atomic_replace.h"
#include "engine/files/file_errors.h"
#include "engine/files/paths.h"
#include "engine/record/sha256.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kEntryExtension = ".pkl";

Error changedSince(const fs::path& file) {
  return Error{ErrorCode::Io, pathText(file) + " changed since it was read"};
}

// Feeds the whole of `in` to `digest`, and to `copy` when there is one.
Status stream(ReadableFile& in, Sha256& digest, AtomicReplace* copy) {
  std::unique_ptr<char[]> buffer(new char[64 * 1024]);
  for (;;) {
    Result<std::size_t> n = in.read(buffer.get(), 64 * 1024);
    if (!n.ok()) return n.error();
    if (n.value() == 0) return {};
    const std::string_view bytes(buffer.get(), n.value());
    digest.update(bytes);
    if (copy) {
      if (Status s = copy->write(bytes); !s.ok()) return s;
    }
  }
}

}  // namespace

bool isDigest(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

Result<std::string> fileDigest(FileSystem& fileSystem, const fs::path& path) {
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(path, Sharing::NoWriters);
  if (!in.ok()) return in.error();
  Sha256 digest;
  if (Status s = stream(*in.value(), digest, nullptr); !s.ok()) return s.error();
  return digest.finish();
}

fs::path OriginalStore::entryPath(std::string_view digest) const {
  return folder_ / utf8Path(std::string(digest) + std::string(kEntryExtension));
}

Status OriginalStore::ensureFolder() {
  if (folderReady_) return {};
  if (Status s = fileSystem_.createFolder(folder_); !s.ok()) return s;
  // Entries on the disk under a folder name a crash can take away would
  // not be kept at all.
  if (Status s = fileSystem_.syncFolder(folder_.parent_path()); !s.ok()) return s;
  folderReady_ = true;
  return {};
}

Result<OriginalStore::Kept> OriginalStore::keep(const fs::path& file, const std::string& digest,
                                                const FileInfo& read) {
  if (!isDigest(digest)) {
    return Error{ErrorCode::InvalidArgument, "the digest of " + pathText(file) + " is unknown"};
  }
  if (Status s = ensureFolder(); !s.ok()) return s.error();
  Kept kept;
  kept.entry = entryPath(digest);
  Result<FileInfo> there = fileSystem_.stat(kept.entry);
  if (!there.ok()) return there.error();
  // Named by its content: what is there is this original already.
  if (there.value().type == FileType::Regular) return kept;
  if (there.value().type != FileType::Missing) return notRegularFile(kept.entry);

  Result<FileInfo> info = fileSystem_.stat(file);
  if (!info.ok()) return info.error();
  if (info.value().type != FileType::Regular) return notRegularFile(file);
  if (info.value().linkCount == 1) {
    Status linked = fileSystem_.link(file, kept.entry);
    if (linked.ok()) {
      // The link is the live file: it must still be what was digested, of
      // the size and modification time it had when read, as a replacement
      // checks it (reading it again cost a third digest of every file).
      // Its bytes go on the disk with sync(), in case the file was written
      // moments before the run and is not yet there.
      Result<FileInfo> now = fileSystem_.stat(kept.entry);
      const bool same = now.ok() && now.value().size == read.size &&
                        now.value().modificationTime == read.modificationTime;
      Result<std::unique_ptr<WritableFile>> bytes =
          same ? fileSystem_.openForAppending(kept.entry)
               : Result<std::unique_ptr<WritableFile>>(changedSince(file));
      if (bytes.ok()) {
        unsyncedBytes_.push_back(std::move(bytes.value()));
        kept.linked = true;
        unsynced_ = true;
        return kept;
      }
      (void)fileSystem_.remove(kept.entry);
      if (!same) return bytes.error();
    } else if (linked.error().code == ErrorCode::AlreadyExists) {
      // Another run kept the same original meanwhile.
      Result<FileInfo> again = fileSystem_.stat(kept.entry);
      if (again.ok() && again.value().type == FileType::Regular) return kept;
    }
  }
  if (Status s = copyInto(file, info.value(), kept.entry, digest); !s.ok()) return s.error();
  return kept;
}

Status OriginalStore::copyInto(const fs::path& source, const FileInfo& info, const fs::path& entry,
                               const std::string& digest) {
  AtomicReplace copy(fileSystem_);
  if (Status s = copy.create(folder_, pathText(entry.filename()), info); !s.ok()) return s;
  Result<std::unique_ptr<ReadableFile>> in = fileSystem_.openForReading(source, Sharing::NoWriters);
  if (!in.ok()) return in.error();
  Sha256 read;
  if (Status s = stream(*in.value(), read, &copy); !s.ok()) return s;
  in.value().reset();
  if (read.finish() != digest) return changedSince(source);
  // A detached entry is its own source: the copy replaces it, as it was.
  if (Status s = source == entry ? copy.commit(entry) : copy.commitNew(entry); !s.ok()) {
    // Another run may have kept the same original meanwhile.
    Result<FileInfo> there = fileSystem_.stat(entry);
    if (!there.ok() || there.value().type != FileType::Regular) return s;
  } else {
    (void)seal(entry);
  }
  unsynced_ = true;
  return {};
}

Status OriginalStore::sync() {
  if (!unsynced_) return {};
  // The linked entries' bytes together: most are long on the disk, and a
  // flush each, one after another, waited behind the batch's copies.
  std::vector<WritableFile*> files;
  for (const std::unique_ptr<WritableFile>& file : unsyncedBytes_) files.push_back(file.get());
  Status bytes = fileSystem_.syncFiles(files);
  for (const std::unique_ptr<WritableFile>& file : unsyncedBytes_) {
    if (Status closed = file->close(); bytes.ok()) bytes = closed;
  }
  unsyncedBytes_.clear();
  if (!bytes.ok()) return bytes;
  if (Status s = fileSystem_.syncFolder(folder_); !s.ok()) return s;
  unsynced_ = false;
  return {};
}

// Best effort: the name, not the bit, is what proves an entry, and volumes
// without permission bits (FAT, some shares) refuse it; a run is not
// stopped for a guard against slips.
Status OriginalStore::seal(const fs::path& entry) { return fileSystem_.makeReadOnly(entry); }

Status OriginalStore::detach(const fs::path& entry) {
  Result<FileInfo> info = fileSystem_.stat(entry);
  Status copied = info.ok() ? copyInto(entry, info.value(), entry, pathText(entry.stem()))
                            : Status(info.error());
  if (copied.ok()) copied = sync();
  if (copied.ok()) return {};
  if (Status s = drop(entry); !s.ok()) return s;
  return copied;
}

Status OriginalStore::drop(const fs::path& entry) { return fileSystem_.remove(entry); }

}  // namespace pklfix
