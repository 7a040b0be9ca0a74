// How the engine behaves on Windows: drive and network roots, letter case,
// the read-only attribute, files held open by others, and line ends. Built
// everywhere, compiled only for Windows; CI runs it under Wine.

#include <gtest/gtest.h>

#ifdef _WIN32

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/correct_pkl_files.h"
#include "engine/file_names.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileSystem;
using testing::folderNames;
using testing::Op;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;

constexpr std::string_view kPkl = "Header\r\nAcquisition Date : wrong\r\n";
constexpr std::string_view kCorrected = "Header\r\nAcquisition Date : 03-05-2009 14:30:07\r\n";

// Files held in memory under their full path text, so that paths on drives
// and shares that do not exist here can be followed through a run. Every
// call is logged as "<call> <path>".
class PathLog final : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> log;

  Result<FileInfo> stat(const fs::path& path) override {
    log.push_back("stat " + pathText(path));
    FileInfo info;
    if (files.count(pathText(path))) {
      info.type = FileType::Regular;
      info.permissions = fs::perms::owner_read | fs::perms::owner_write;
    }
    return info;
  }
  Result<std::unique_ptr<ReadableFile>> openForReading(const fs::path& path, Sharing) override {
    log.push_back("open " + pathText(path));
    auto it = files.find(pathText(path));
    if (it == files.end()) return Error{ErrorCode::NotFound, "no " + pathText(path)};
    return std::unique_ptr<ReadableFile>(new Reader(it->second));
  }
  Result<std::unique_ptr<WritableFile>> createExclusive(const fs::path& path) override {
    log.push_back("create " + pathText(path));
    return std::unique_ptr<WritableFile>(new Writer(files[pathText(path)]));
  }
  Status rename(const fs::path& from, const fs::path& to) override {
    log.push_back("rename " + pathText(from) + " -> " + pathText(to));
    files[pathText(to)] = files[pathText(from)];
    files.erase(pathText(from));
    return {};
  }
  Status remove(const fs::path& path) override {
    log.push_back("remove " + pathText(path));
    files.erase(pathText(path));
    return {};
  }
  Result<std::vector<FolderEntry>> listFolder(const fs::path& folder) override {
    log.push_back("list " + pathText(folder));
    return std::vector<FolderEntry>{};
  }
  std::vector<Drive> listDrives() override { return {{"C:\\", "c:"}}; }
  Status syncFolder(const fs::path& folder) override {
    log.push_back("sync " + pathText(folder));
    return {};
  }

 private:
  struct Reader final : ReadableFile {
    explicit Reader(std::string bytes) : bytes_(std::move(bytes)) {}
    Result<std::size_t> read(char* buffer, std::size_t size) override {
      std::size_t n = std::min(size, bytes_.size() - offset_);
      std::copy_n(bytes_.data() + offset_, n, buffer);
      offset_ += n;
      return n;
    }
    std::string bytes_;
    std::size_t offset_ = 0;
  };
  struct Writer final : WritableFile {
    explicit Writer(std::string& bytes) : bytes_(bytes) {}
    Status write(const char* data, std::size_t size) override {
      bytes_.append(data, size);
      return {};
    }
    Status sync() override { return {}; }
    Status keepAttributesOf(const FileInfo&) override { return {}; }
    Status close() override { return {}; }
    std::string& bytes_;
  };
};

TEST(WindowsPathTest, JoinsDriveAndNetworkRootsWithOneBackslash) {
  struct Case {
    const char* pklFolder;
    const char* chnFolder;
    const char* pkl;   // the result file read and replaced
    const char* temp;  // the corrected copy beside it
    const char* chn;   // the spectrum read
  };
  const Case cases[] = {
      {"C:\\", "C:\\", "C:\\S001.pkl", "C:\\newS001.pkl", "C:\\S001.chn"},
      {"C:\\data", "D:\\", "C:\\data\\S001.pkl", "C:\\data\\newS001.pkl", "D:\\S001.chn"},
      {"C:\\data\\", "D:\\spectra\\", "C:\\data\\S001.pkl", "C:\\data\\newS001.pkl",
       "D:\\spectra\\S001.chn"},
      {"\\\\server\\share\\", "\\\\server\\share", "\\\\server\\share\\S001.pkl",
       "\\\\server\\share\\newS001.pkl", "\\\\server\\share\\S001.chn"},
      {"\\\\server\\share\\lab 1", "\\\\other\\chn\\", "\\\\server\\share\\lab 1\\S001.pkl",
       "\\\\server\\share\\lab 1\\newS001.pkl", "\\\\other\\chn\\S001.chn"},
      {"C:/data/", "C:/data", "C:/data/S001.pkl", "C:/data/newS001.pkl", "C:/data\\S001.chn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pklFolder);
    PathLog files;
    files.files[c.pkl] = std::string(kPkl);
    files.files[c.chn] = sampleChn();
    RunSummary summary =
        CorrectPklFiles(files, utf8Path(c.pklFolder), utf8Path(c.chnFolder), {{"S001.pkl", true}});
    ASSERT_EQ(summary.corrected, 1u);
    // The result folder is listed once, for copies left by interrupted runs.
    std::vector<std::string> expected = {
        std::string("stat ") + c.pkl,
        std::string("list ") + c.pklFolder,
        std::string("open ") + c.pkl,
        std::string("stat ") + c.chn,
        std::string("open ") + c.chn,
        std::string("create ") + c.temp,
        std::string("rename ") + c.temp + " -> " + c.pkl,
        std::string("sync ") + c.pklFolder,
    };
    EXPECT_EQ(files.log, expected);
    EXPECT_EQ(files.files[c.pkl], kCorrected);
  }
}

class WindowsFileTest : public ::testing::Test {
 protected:
  RunSummary correct(const std::vector<std::string>& names) {
    std::vector<PklEntry> entries;
    for (const std::string& name : names) entries.push_back({name, true});
    return CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), entries);
  }
  static bool readOnly(const fs::path& path) {
    return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
  }
  static void setReadOnly(const fs::path& path, bool readOnly) {
    fs::permissions(path, fs::perms::owner_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
  }

  TempDir dir_;
};

TEST_F(WindowsFileTest, NamesThatDifferOnlyInCaseAreOneFile) {
  writeFile(dir_ / "S001.PKL", kPkl);
  writeFile(dir_ / "s001.CHN", sampleChn());
  // A file whose name is the temporary name in other letters is still that
  // name here, and must be left alone.
  writeFile(dir_ / "NEWS001.PKL", "not ours");

  FaultyFileSystem counting(realFileSystem());
  RunSummary summary = CorrectPklFiles(counting, dir_.path(), dir_.path(), {{"S001.PKL", true}});
  ASSERT_EQ(summary.failed, 0u) << summary.failures.front().error->message;
  EXPECT_EQ(readFile(dir_ / "S001.PKL"), kCorrected);
  EXPECT_EQ(readFile(dir_ / "NEWS001.PKL"), "not ours");
  EXPECT_EQ(folderNames(dir_.path()),
            (std::vector<std::string>{"NEWS001.PKL", "S001.PKL", "s001.CHN"}))
      << "the corrected file keeps its name, letter case included, and no copy is left";
  EXPECT_EQ(std::count_if(counting.log().begin(), counting.log().end(),
                          [](const auto& call) { return call.first == Op::ListFolder; }),
            1)
      << "S001.chn is found by the file system; the folder is listed only once, for copies "
         "left by interrupted runs";
}

TEST_F(WindowsFileTest, ReadOnlyAttributeRefusesTheFileAndIsKept) {
  writeFile(dir_ / "S001.pkl", kPkl);
  writeFile(dir_ / "S001.chn", sampleChn());
  writeFile(dir_ / "S002.pkl", kPkl);
  writeFile(dir_ / "S002.chn", sampleChn());
  setReadOnly(dir_ / "S001.pkl", true);
  // Spectra are often archived read-only; that must not matter.
  setReadOnly(dir_ / "S002.chn", true);
  ASSERT_TRUE(readOnly(dir_ / "S001.pkl"));

  RunOptions keepGoing;
  keepGoing.keepGoing = true;
  RunSummary summary = runJobs(realFileSystem(),
                               testing::jobList({{dir_.path(), "S001.pkl", dir_.path()},
                                                 {dir_.path(), "S002.pkl", dir_.path()}}),
                               keepGoing);
  ASSERT_EQ(summary.failed, 1u);
  EXPECT_NE(summary.failures.front().error->message.find("read-only"), std::string::npos)
      << summary.failures.front().error->message;
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kPkl);
  EXPECT_TRUE(readOnly(dir_ / "S001.pkl"));

  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S002.pkl"), kCorrected);
  EXPECT_FALSE(readOnly(dir_ / "S002.pkl")) << "a writable file stays writable";
  EXPECT_EQ(folderNames(dir_.path()).size(), 4u) << "no temporary file may remain";

  // TempDir removes the folder afterwards; Windows will not delete a
  // read-only file.
  setReadOnly(dir_ / "S001.pkl", false);
  setReadOnly(dir_ / "S002.chn", false);
}

TEST_F(WindowsFileTest, FileHeldOpenByAnotherProgramIsLeftAsItWas) {
  writeFile(dir_ / "S001.pkl", kPkl);
  writeFile(dir_ / "S001.chn", sampleChn());
  RunSummary summary;
  {
    // The C runtime opens files without delete sharing, as most Windows
    // programs do; nothing may then take the file's place.
    std::ifstream holder(dir_ / "S001.pkl", std::ios::binary);
    ASSERT_TRUE(holder.is_open());
    summary = correct({"S001.pkl"});
  }
  ASSERT_EQ(summary.failed, 1u);
  const std::string& message = summary.failures.front().error->message;
  EXPECT_NE(message.find("cannot rename"), std::string::npos) << message;
  EXPECT_NE(message.find("S001.pkl"), std::string::npos) << message;
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kPkl);
  EXPECT_EQ(folderNames(dir_.path()), (std::vector<std::string>{"S001.chn", "S001.pkl"}));

  // Once the other program lets go, the same file corrects.
  RunSummary again = correct({"S001.pkl"});
  EXPECT_EQ(again.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kCorrected);
}

TEST_F(WindowsFileTest, WritesExactlyCrLfWhateverTheInputLineEnds) {
  struct Case {
    const char* name;
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"crlf.pkl", kPkl, kCorrected},
      {"lf.pkl", "Header\nAcquisition Date : wrong\n", kCorrected},
      {"cr.pkl", "Header\rAcquisition Date : wrong", kCorrected},
      {"mixed.pkl", "a\r\n\nb\rAcquisition Date : x\r\n",
       "a\r\n\r\nb\r\nAcquisition Date : 03-05-2009 14:30:07\r\n"},
  };
  std::vector<std::string> names;
  for (const Case& c : cases) {
    writeFile(dir_ / c.name, c.in);
    writeFile(dir_ / spectrumName(c.name), sampleChn());
    names.push_back(c.name);
  }
  RunSummary summary = correct(names);
  ASSERT_EQ(summary.failed, 0u) << summary.failures.front().error->message;
  for (const Case& c : cases) EXPECT_EQ(readFile(dir_ / c.name), c.out) << c.name;
}

TEST(WindowsTest, DrivesAreEveryLetterInUseNamedAsWindowsNamesThem) {
  // "C:\" named "c:" or "c: [...]", in letter order, whether or not the
  // drive holds a medium.
  const std::vector<Drive> drives = realFileSystem().listDrives();
  ASSERT_FALSE(drives.empty());
  std::string letters;
  for (const Drive& drive : drives) {
    const std::string root = pathText(drive.root);
    ASSERT_EQ(root.size(), 3u) << root;
    EXPECT_EQ(root.substr(1), ":\\") << root;
    const std::string name = {static_cast<char>(root[0] - 'A' + 'a'), ':'};
    EXPECT_EQ(drive.label.substr(0, 2), name) << drive.label;
    letters += root[0];
  }
  EXPECT_NE(letters.find('C'), std::string::npos) << letters;
  EXPECT_TRUE(std::is_sorted(letters.begin(), letters.end())) << letters;
}

}  // namespace
}  // namespace pklfix

#endif  // _WIN32
