#include "engine/run/put_back.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <span>

#include "engine/base/escaped_text.h"
#include "engine/files/atomic_replace.h"
#include "engine/files/paths.h"
#include "engine/files/temporary_names.h"
#include "engine/record/change_record.h"
#include "engine/record/original_store.h"
#include "engine/record/record_reader.h"
#include "engine/record/sha256.h"
#include "engine/rewrite/corrected_copy.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

using Outcome = PutBackFile::Outcome;

// How a put-back's rows name the run they put back, at their message's
// start: "put back run ID" for a file put back, "put back run ID: why"
// for one left.
constexpr std::string_view kPutBackOf = "put back run ";
constexpr std::string_view kPutBackOutcome = "put back";
// Files checked and copied before their rows go on the disk together, as
// a correction batches its copies.
constexpr std::size_t kBatchFiles = 32;

bool changedFile(const RecordRow& row) {
  return row.outcome == "corrected" || row.outcome == "no acquisition line";
}

// The run a put-back's row names; empty for any other row.
std::string putBackOf(const RecordRow& row) {
  if (row.message.rfind(kPutBackOf, 0) != 0) return {};
  const std::string rest = row.message.substr(kPutBackOf.size());
  return rest.substr(0, rest.find(':'));
}

std::string putBackMessage(const std::string& run, const std::string& why = {}) {
  return std::string(kPutBackOf) + run + (why.empty() ? "" : ": " + why);
}

// The file a row names, as the record escaped it.
std::optional<fs::path> rowPath(const RecordRow& row) {
  std::optional<std::string> text = unescapedText(row.resultFile, kPathBackslashes);
  if (!text || text->empty()) return std::nullopt;
  return utf8Path(*text);
}

// The runs of a record, read once.
class RecordRuns {
 public:
  explicit RecordRuns(const std::vector<RecordRow>& rows) : rows_(rows) {
    for (const RecordRow& row : rows_) {
      if (row.run.empty()) continue;
      if (std::string of = putBackOf(row); !of.empty()) {
        putBacks_.insert(row.run);
        settled_[of].push_back(&row);
      }
    }
  }

  bool has(const std::string& run) const {
    return std::any_of(rows_.begin(), rows_.end(),
                       [&](const RecordRow& row) { return row.run == run; });
  }
  bool isPutBack(const std::string& run) const { return putBacks_.count(run) > 0; }

  // The rows of the files `run` changed, each file once, in the record's
  // order.
  std::vector<const RecordRow*> changed(const std::string& run) const {
    std::vector<const RecordRow*> rows;
    std::set<std::string> seen;
    for (const RecordRow& row : rows_) {
      if (row.run == run && changedFile(row) && seen.insert(row.resultFile).second) {
        rows.push_back(&row);
      }
    }
    return rows;
  }

  // What lastRunToPutBack() says, reading files only for a run a put-back
  // may have left part way.
  std::optional<RecordedRun> lastToPutBack(FileSystem& fileSystem) const {
    std::set<std::string> looked;
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it) {
      const std::string& run = it->run;
      if (run.empty() || !changedFile(*it) || isPutBack(run) || !looked.insert(run).second) {
        continue;
      }
      if (!finished(fileSystem, run)) return recorded(run);
    }
    return std::nullopt;
  }

  RecordedRun recorded(const std::string& run) const {
    RecordedRun recorded;
    recorded.id = run;
    recorded.files = changed(run).size();
    for (const RecordRow& row : rows_) {
      if (row.run == run) {
        recorded.time = row.time;
        break;
      }
    }
    return recorded;
  }

 private:
  // Whether a put-back of `run` saw every file it changed: each has a row
  // of one, and none whose row said "put back" is still what the run made
  // of it (a put-back killed between its rows and its renames).
  bool finished(FileSystem& fileSystem, const std::string& run) const {
    auto found = settled_.find(run);
    if (found == settled_.end()) return false;
    std::map<std::string, const RecordRow*> last;
    for (const RecordRow* row : found->second) last[row->resultFile] = row;
    for (const RecordRow* change : changed(run)) {
      auto it = last.find(change->resultFile);
      if (it == last.end()) return false;
      if (it->second->outcome != kPutBackOutcome) continue;
      std::optional<fs::path> path = rowPath(*change);
      if (!path) continue;
      Result<std::string> now = fileDigest(fileSystem, *path);
      if (now.ok() && now.value() == change->sha256After) return false;
    }
    return true;
  }

  const std::vector<RecordRow>& rows_;
  std::set<std::string> putBacks_;
  std::map<std::string, std::vector<const RecordRow*>> settled_;
};

// One file of a batch, from its check to its rename.
struct Step {
  const RecordRow* row = nullptr;
  PutBackFile file;
  std::unique_ptr<AtomicReplace> copy;  // for a file to be put back
  std::vector<CopyPrefix> leftovers;    // an interrupted put-back's copies
};

// One run's put-back, batch by batch.
class PutBack {
 public:
  // `record` is null for a dry run, which writes nothing.
  PutBack(FileSystem& fileSystem, ChangeRecord* record, const fs::path& store,
          const std::string& run, const PutBackOptions& options, PutBackObserver* observer,
          PutBackSummary& summary)
      : fileSystem_(fileSystem),
        record_(record),
        originals_(fileSystem, store),
        run_(run),
        ownRun_(newRunId()),
        options_(options),
        observer_(observer),
        summary_(summary) {}

  // False once the put-back must stop: its rows cannot be written.
  bool batch(std::span<const RecordRow* const> rows) {
    std::vector<Step> steps(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      steps[i].row = rows[i];
      prepare(steps[i]);
    }
    if (!options_.dryRun) {
      for (Step& step : steps) addRows(step);
      if (!flush()) return false;
      for (Step& step : steps) {
        for (const CopyPrefix& copy : step.leftovers) (void)fileSystem_.remove(copy.path);
        replace(step);
      }
      if (!flush()) return false;
    }
    for (Step& step : steps) {
      if (observer_) observer_->fileDone(step.file);
      summary_.files.push_back(std::move(step.file));
    }
    return true;
  }

  // The renames made durable together, as a run does.
  void finish() {
    for (const fs::path& folder : folders_) {
      if (Status s = fileSystem_.syncFolder(folder); !s.ok())
        summary_.syncErrors.push_back(s.error());
    }
  }

 private:
  // What is to be done with the file of step.row: its copy written when it
  // is to be put back, the reason it is left otherwise.
  void prepare(Step& step) {
    const RecordRow& row = *step.row;
    PutBackFile& file = step.file;
    file.linesNow = row.linesAfter;
    file.linesOriginal = row.linesBefore;
    std::optional<fs::path> path = rowPath(row);
    file.path = path.value_or(utf8Path(row.resultFile));
    if (!path) {
      leave(file, Outcome::Failed, "the record's name " + row.resultFile + " cannot be read");
      return;
    }
    Result<FileInfo> info = fileSystem_.stat(file.path);
    if (info.ok() && info.value().type == FileType::Missing) {
      leave(file, Outcome::ChangedSince, "changed since the run: it is gone");
      return;
    }
    Result<std::string> now =
        info.ok() ? fileDigest(fileSystem_, file.path) : Result<std::string>(info.error());
    if (!now.ok()) {
      leave(file, Outcome::Failed, now.error().message);
      return;
    }
    if (!isDigest(row.sha256Before)) {
      leave(file, Outcome::NoOriginal, "the record gives no digest of its original");
      return;
    }
    const fs::path entry = originals_.entryPath(row.sha256Before);
    if (!options_.dryRun) step.leftovers = leftoversOf(file.path, entry);
    if (now.value() == row.sha256Before) {
      file.outcome = Outcome::AlreadyBack;
      return;
    }
    if (now.value() != row.sha256After) {
      leave(file, Outcome::ChangedSince, "changed since the run");
      return;
    }
    file.outcome = Outcome::PutBack;
    if (options_.dryRun) {
      (void)readEntry(entry, row.sha256Before, nullptr, file);
    } else {
      copyEntry(step, info.value(), entry, row.sha256Before);
    }
  }

  // Leaves the file as it is, saying why.
  static bool leave(PutBackFile& file, Outcome outcome, std::string why) {
    file.outcome = outcome;
    file.message = std::move(why);
    return false;
  }

  // Reads the entry through, checking it against its name, into the copy
  // when there is one. False, with the file left and why, when it cannot.
  bool readEntry(const fs::path& entry, const std::string& digest, AtomicReplace* copy,
                 PutBackFile& file) {
    Result<std::unique_ptr<ReadableFile>> in =
        fileSystem_.openForReading(entry, Sharing::NoWriters);
    if (!in.ok()) {
      return leave(
          file, Outcome::NoOriginal,
          in.error().code == ErrorCode::NotFound
              ? "its original is missing from the store: " + pathText(entry) + " is not there"
              : "its original cannot be read: " + in.error().message);
    }
    Sha256 read;
    std::unique_ptr<char[]> buffer(new char[64 * 1024]);
    for (;;) {
      Result<std::size_t> n = in.value()->read(buffer.get(), 64 * 1024);
      if (!n.ok()) {
        return leave(file, Outcome::NoOriginal,
                     "its original cannot be read: " + n.error().message);
      }
      if (n.value() == 0) break;
      const std::string_view bytes(buffer.get(), n.value());
      read.update(bytes);
      if (copy) {
        if (Status s = copy->write(bytes); !s.ok()) {
          return leave(file, Outcome::Failed, s.error().message);
        }
      }
    }
    if (read.finish() != digest) {
      return leave(file, Outcome::NoOriginal,
                   "its original is damaged: " + pathText(entry) + " does not match its name");
    }
    return true;
  }

  // The original's bytes, copied (the store keeps its entry) to a
  // temporary beside the file whose name never ends in ".pkl": a put-back
  // killed before its rename leaves nothing a run would take for a result
  // file.
  void copyEntry(Step& step, const FileInfo& info, const fs::path& entry,
                 const std::string& digest) {
    step.copy = std::make_unique<AtomicReplace>(fileSystem_);
    const fs::path& path = step.file.path;
    Status created = step.copy->create(path.parent_path(), pathText(path.filename()), info, 1);
    if (!created.ok()) {
      leave(step.file, Outcome::Failed, created.error().message);
    } else if (readEntry(entry, digest, step.copy.get(), step.file)) {
      step.copy->startSync();
      return;
    }
    step.copy.reset();
  }

  // The temporaries beside `path` that an interrupted put-back left: under
  // its put-back names, holding a beginning of the original `entry`.
  std::vector<CopyPrefix> leftoversOf(const fs::path& path, const fs::path& entry) {
    const fs::path folder = path.parent_path();
    auto listed = listed_.find(folder);
    if (listed == listed_.end()) {
      std::set<std::string> names;
      if (Result<std::vector<FolderEntry>> entries = fileSystem_.listFolder(folder); entries.ok()) {
        for (const FolderEntry& e : entries.value()) {
          if (e.type == FileType::Regular && hasTemporaryPrefix(e.name)) names.insert(e.name);
        }
      }
      listed = listed_.emplace(folder, std::move(names)).first;
    }
    std::vector<CopyPrefix> found;
    const std::string name = pathText(path.filename());
    std::optional<Result<std::string>> original;  // read once, when a name is there
    for (int attempt = 1; attempt <= kTemporaryAlternatives; ++attempt) {
      const std::string temporary = temporaryName(name, attempt);
      if (!listed->second.count(temporary)) continue;
      if (!original) original = readWholeFile(fileSystem_, entry);
      if (!original->ok()) return found;
      const std::string& bytes = original->value();
      const fs::path copy = folder / utf8Path(temporary);
      Result<std::string> left = readWholeFile(fileSystem_, copy);
      if (left.ok() && left.value().size() <= bytes.size() &&
          bytes.compare(0, left.value().size(), left.value()) == 0) {
        Sha256 digest;
        digest.update(left.value());
        found.push_back({copy, digest.finish()});
      }
    }
    return found;
  }

  // The step's rows, ahead of its change: what is to happen, or why not.
  void addRows(const Step& step) {
    const PutBackFile& file = step.file;
    for (const CopyPrefix& copy : step.leftovers) {
      ChangeRow row;
      row.resultFile = copy.path;
      row.sha256Before = copy.sha256;
      row.outcome = FileOutcome::CopyRemoved;
      row.message = putBackMessage(
          run_, "an interrupted put-back's copy of " + pathText(file.path.filename()));
      add(std::move(row));
    }
    if (file.outcome == Outcome::AlreadyBack) return;
    ChangeRow row = rowOf(*step.row, file.path);
    if (file.outcome == Outcome::PutBack) {
      row.outcome = FileOutcome::PutBack;
      row.message = putBackMessage(run_);
    } else {
      row.outcome = FileOutcome::Failed;
      row.sha256After.clear();
      row.message = putBackMessage(run_, "not put back: " + file.message);
    }
    add(std::move(row));
  }

  void replace(Step& step) {
    if (!step.copy) return;
    PutBackFile& file = step.file;
    if (Status s = step.copy->commit(file.path); !s.ok()) {
      file.outcome = Outcome::Failed;
      file.message = s.error().message;
      ChangeRow row = rowOf(*step.row, file.path);
      row.outcome = FileOutcome::Failed;
      row.sha256After.clear();
      row.message = putBackMessage(run_, "not put back: " + file.message);
      add(std::move(row));
    } else {
      folders_.insert(file.path.parent_path());
    }
    step.copy.reset();
  }

  // The row of a file put back: the run's change, the other way round.
  static ChangeRow rowOf(const RecordRow& row, const fs::path& path) {
    ChangeRow back;
    back.resultFile = path;
    back.spectrumFile = utf8Path(unescapedText(row.spectrumFile, kPathBackslashes).value_or(""));
    if (!row.linesAfter.empty()) back.linesBefore = {row.linesAfter};
    if (!row.linesBefore.empty()) back.linesAfter = {row.linesBefore};
    back.sha256Before = row.sha256After;
    back.sha256After = row.sha256Before;
    return back;
  }

  void add(ChangeRow row) {
    row.run = ownRun_;
    record_->add(std::move(row));
  }

  bool flush() {
    if (Status s = record_->flush(); !s.ok()) {
      summary_.error = s.error();
      return false;
    }
    return true;
  }

  FileSystem& fileSystem_;
  ChangeRecord* record_;
  OriginalStore originals_;
  const std::string& run_;
  std::string ownRun_;
  const PutBackOptions& options_;
  PutBackObserver* observer_;
  PutBackSummary& summary_;
  std::set<fs::path> folders_;
  std::map<fs::path, std::set<std::string>> listed_;
};

}  // namespace

std::size_t PutBackSummary::left() const {
  return static_cast<std::size_t>(
      std::count_if(files.begin(), files.end(), [](const PutBackFile& f) {
        return f.outcome != Outcome::PutBack && f.outcome != Outcome::AlreadyBack;
      }));
}

Result<std::optional<RecordedRun>> lastRunToPutBack(FileSystem& fileSystem,
                                                    const fs::path& recordPath) {
  Result<std::vector<RecordRow>> rows = readRecord(fileSystem, recordPath);
  if (!rows.ok()) return rows.error();
  return RecordRuns(rows.value()).lastToPutBack(fileSystem);
}

Result<PutBackSummary> putBackRun(FileSystem& fileSystem, const fs::path& recordPath,
                                  const PutBackOptions& options, PutBackObserver* observer) {
  Result<std::vector<RecordRow>> rows = readRecord(fileSystem, recordPath);
  if (!rows.ok()) return rows.error();
  const RecordRuns runs(rows.value());
  PutBackSummary summary;
  if (!options.run.empty()) {
    if (!runs.has(options.run)) {
      return Error{ErrorCode::NotFound, "no run " + options.run + " in " + pathText(recordPath)};
    }
    if (runs.isPutBack(options.run)) {
      return Error{ErrorCode::InvalidArgument,
                   "run " + options.run + " put back another run; to redo that, correct again"};
    }
    summary.run = options.run;
  } else if (std::optional<RecordedRun> last = runs.lastToPutBack(fileSystem)) {
    summary.run = last->id;
  } else {
    return summary;
  }
  const std::vector<const RecordRow*> changed = runs.changed(summary.run);
  summary.runFiles = changed.size();

  std::unique_ptr<ChangeRecord> record;
  if (!options.dryRun) {
    Result<std::unique_ptr<ChangeRecord>> opened = ChangeRecord::open(fileSystem, recordPath);
    if (!opened.ok()) return opened.error();
    record = std::move(opened.value());
  }
  // Beside the record, as the run that kept them found it.
  const fs::path store = openedPath(recordPath).parent_path() / utf8Path(kOriginalsFolder);
  PutBack putBack(fileSystem, record.get(), store, summary.run, options, observer, summary);
  for (std::size_t at = 0; at < changed.size(); at += kBatchFiles) {
    if (options.stop && options.stop->load()) {
      summary.stopped = true;
      break;
    }
    const std::size_t count = std::min(kBatchFiles, changed.size() - at);
    if (!putBack.batch(std::span(changed).subspan(at, count))) break;
  }
  putBack.finish();
  return summary;
}

}  // namespace pklfix
