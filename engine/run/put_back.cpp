#include "engine/run/put_back.h"

#include <memory>
#include <set>

#include "engine/files/atomic_replace.h"
#include "engine/files/paths.h"
#include "engine/record/change_record.h"
#include "engine/record/original_store.h"
#include "engine/record/record_reader.h"
#include "engine/record/sha256.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// How a put back row names the run it put back, at its message's start.
constexpr std::string_view kPutBackOf = "put back run ";
constexpr std::string_view kPutBackOutcome = "put back";

bool changedFile(const RecordRow& row) {
  return row.outcome == "corrected" || row.outcome == "no acquisition line";
}

std::string putBackOf(const RecordRow& row) {
  if (row.outcome != kPutBackOutcome || row.message.rfind(kPutBackOf, 0) != 0) return {};
  const std::string rest = row.message.substr(kPutBackOf.size());
  return rest.substr(0, rest.find_first_of(" ;"));
}

Result<std::string> chosenRun(const std::vector<RecordRow>& rows, const std::string& asked,
                              const fs::path& recordPath) {
  if (!asked.empty()) {
    bool found = false;
    for (const RecordRow& row : rows) {
      if (row.run != asked) continue;
      found = true;
      // Its own put-back is the run before it, put back again.
      if (row.outcome == kPutBackOutcome) {
        return Error{ErrorCode::InvalidArgument,
                     "run " + asked + " put back another run; it cannot be put back itself"};
      }
    }
    if (!found) {
      return Error{ErrorCode::NotFound, "no run " + asked + " in " + pathText(recordPath)};
    }
    return asked;
  }
  std::set<std::string> putBack;
  for (const RecordRow& row : rows) {
    if (std::string of = putBackOf(row); !of.empty()) putBack.insert(of);
  }
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    if (changedFile(*it) && !it->run.empty() && !putBack.count(it->run)) return it->run;
  }
  return Error{ErrorCode::NotFound,
               "no run in " + pathText(recordPath) + " changed files that were not put back"};
}

std::vector<std::string> cellLines(const std::string& cell) {
  return cell.empty() ? std::vector<std::string>() : std::vector<std::string>{cell};
}

// One run's put-back, file by file.
class PutBack {
 public:
  PutBack(FileSystem& fileSystem, ChangeRecord& record, std::string run)
      : fileSystem_(fileSystem),
        record_(record),
        originals_(fileSystem, record.path().parent_path() / utf8Path(kOriginalsFolder)),
        run_(std::move(run)),
        ownRun_(newRunId()) {}

  // False when the put-back must stop: its rows cannot be written.
  bool file(const RecordRow& row, PutBackSummary& summary) {
    PutBackFile done;
    done.path = utf8Path(row.resultFile);
    done.outcome = check(row, done.message);
    if (done.outcome == PutBackFile::Outcome::PutBack) {
      ChangeRow putBack = rowOf(row, done.path);
      putBack.outcome = FileOutcome::PutBack;
      putBack.message = std::string(kPutBackOf) + run_;
      if (Status s = write(std::move(putBack)); !s.ok()) {
        summary.error = s.error();
        return false;
      }
      if (Status s = replace(done.path, row.sha256Before); !s.ok()) {
        done.outcome = PutBackFile::Outcome::Failed;
        done.message = s.error().message;
        ChangeRow failed = rowOf(row, done.path);
        failed.outcome = FileOutcome::Failed;
        failed.message = "not put back (run " + run_ + "): " + done.message;
        if (Status w = write(std::move(failed)); !w.ok()) summary.error = w.error();
      } else {
        folders_.insert(done.path.parent_path());
      }
    }
    summary.files.push_back(std::move(done));
    return !summary.error;
  }

  // The renames made durable together, as a run does.
  void finish() {
    for (const fs::path& folder : folders_) (void)fileSystem_.syncFolder(folder);
  }

 private:
  // What is to be done with the file of `row`; the reason when nothing.
  PutBackFile::Outcome check(const RecordRow& row, std::string& why) {
    using Outcome = PutBackFile::Outcome;
    const fs::path path = utf8Path(row.resultFile);
    Result<std::string> now = fileDigest(fileSystem_, path);
    if (!now.ok()) {
      why = now.error().message;
      return now.error().code == ErrorCode::NotFound ? Outcome::ChangedSince : Outcome::Failed;
    }
    if (now.value() == row.sha256Before) return Outcome::AlreadyBack;
    if (now.value() != row.sha256After) {
      why = pathText(path) + " changed since the run";
      return Outcome::ChangedSince;
    }
    if (!isDigest(row.sha256Before)) {
      why = "the record gives no digest of the original of " + pathText(path);
      return Outcome::NoOriginal;
    }
    const fs::path entry = originals_.entryPath(row.sha256Before);
    Result<std::string> kept = fileDigest(fileSystem_, entry);
    if (!kept.ok()) {
      why = "the original of " + pathText(path) +
            " is missing from the store: " + kept.error().message;
      return Outcome::NoOriginal;
    }
    if (kept.value() != row.sha256Before) {
      why = "the original of " + pathText(path) + ", " + pathText(entry) +
            ", does not match its name";
      return Outcome::NoOriginal;
    }
    return Outcome::PutBack;
  }

  // The row of a file put back: the run's change, the other way round.
  static ChangeRow rowOf(const RecordRow& row, const fs::path& path) {
    ChangeRow back;
    back.resultFile = path;
    back.linesBefore = cellLines(row.linesAfter);
    back.linesAfter = cellLines(row.linesBefore);
    back.sha256Before = row.sha256After;
    back.sha256After = row.sha256Before;
    return back;
  }

  Status write(ChangeRow row) {
    row.run = ownRun_;
    record_.add(std::move(row));
    return record_.flush();
  }

  // The original copied over the file, checked against its digest as it
  // goes; the store keeps its entry.
  Status replace(const fs::path& path, const std::string& digest) {
    Result<FileInfo> info = fileSystem_.stat(path);
    if (!info.ok()) return info.error();
    AtomicReplace copy(fileSystem_);
    if (Status s = copy.create(path.parent_path(), pathText(path.filename()), info.value());
        !s.ok())
      return s;
    const fs::path entry = originals_.entryPath(digest);
    Result<std::unique_ptr<ReadableFile>> in =
        fileSystem_.openForReading(entry, Sharing::NoWriters);
    if (!in.ok()) return in.error();
    Sha256 read;
    std::unique_ptr<char[]> buffer(new char[64 * 1024]);
    for (;;) {
      Result<std::size_t> n = in.value()->read(buffer.get(), 64 * 1024);
      if (!n.ok()) return n.error();
      if (n.value() == 0) break;
      const std::string_view bytes(buffer.get(), n.value());
      read.update(bytes);
      if (Status s = copy.write(bytes); !s.ok()) return s;
    }
    if (read.finish() != digest) {
      return Error{ErrorCode::Io, pathText(entry) + " changed while it was read"};
    }
    return copy.commit(path);
  }

  FileSystem& fileSystem_;
  ChangeRecord& record_;
  OriginalStore originals_;
  std::string run_;
  std::string ownRun_;
  std::set<fs::path> folders_;
};

}  // namespace

Result<PutBackSummary> putBackRun(FileSystem& fileSystem, const fs::path& recordPath,
                                  const std::string& run) {
  Result<std::vector<RecordRow>> rows = readRecord(fileSystem, recordPath);
  if (!rows.ok()) return rows.error();
  Result<std::string> chosen = chosenRun(rows.value(), run, recordPath);
  if (!chosen.ok()) return chosen.error();
  Result<std::unique_ptr<ChangeRecord>> record = ChangeRecord::open(fileSystem, recordPath);
  if (!record.ok()) return record.error();
  PutBackSummary summary;
  summary.run = chosen.value();
  PutBack putBack(fileSystem, *record.value(), chosen.value());
  for (const RecordRow& row : rows.value()) {
    if (row.run != chosen.value() || !changedFile(row)) continue;
    if (!putBack.file(row, summary)) break;
  }
  putBack.finish();
  return summary;
}

}  // namespace pklfix
