// How the engine behaves on Windows: drive and network roots, letter case,
// the read-only attribute, files held open by others, folders past 260
// characters, attributes kept, and line ends. Built
// everywhere, compiled only for Windows; CI runs it under Wine.

#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/forwarding_file_system.h"
#include "engine/files/paths.h"
#include "engine/run/correct_pkl_files.h"
#include "engine/spectrum/spectrum_finder.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileSystem;
using testing::folderNames;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::MemoryFileSystem;
using testing::Op;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;
using testing::writeSamplePair;

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
    MemoryFileSystem files;
    files.files[c.pkl] = std::string(kSamplePkl);
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
        // Still the file that was read, before the copy takes its place.
        std::string("stat ") + c.pkl,
        std::string("rename ") + c.temp + " -> " + c.pkl,
        std::string("sync ") + c.pklFolder,
    };
    EXPECT_EQ(files.log, expected);
    EXPECT_EQ(files.files[c.pkl], kSampleCorrected);
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
  writeFile(dir_ / "S001.PKL", kSamplePkl);
  writeFile(dir_ / "s001.CHN", sampleChn());
  // A file whose name is the temporary name in other letters is still that
  // name here, and must be left alone.
  writeFile(dir_ / "NEWS001.PKL", "not ours");

  FaultyFileSystem counting(realFileSystem());
  RunSummary summary = CorrectPklFiles(counting, dir_.path(), dir_.path(), {{"S001.PKL", true}});
  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  EXPECT_EQ(readFile(dir_ / "S001.PKL"), kSampleCorrected);
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
  writeSamplePair(dir_.path(), "S001");
  writeSamplePair(dir_.path(), "S002");
  setReadOnly(dir_ / "S001.pkl", true);
  // Spectra are often archived read-only; that must not matter.
  setReadOnly(dir_ / "S002.chn", true);
  ASSERT_TRUE(readOnly(dir_ / "S001.pkl"));

  RunOptions keepGoing;
  keepGoing.keepGoing = true;
  RunSummary summary = CorrectPklFiles(realFileSystem(),
                                       testing::jobList({{dir_.path(), "S001.pkl", dir_.path()},
                                                         {dir_.path(), "S002.pkl", dir_.path()}}),
                                       keepGoing);
  ASSERT_EQ(summary.failed(), 1u);
  EXPECT_NE(summary.failures.front().error->message.find("read-only"), std::string::npos)
      << summary.failures.front().error->message;
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kSamplePkl);
  EXPECT_TRUE(readOnly(dir_ / "S001.pkl"));

  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S002.pkl"), kSampleCorrected);
  EXPECT_FALSE(readOnly(dir_ / "S002.pkl")) << "a writable file stays writable";
  EXPECT_EQ(folderNames(dir_.path()).size(), 4u) << "no temporary file may remain";

  // TempDir removes the folder afterwards; Windows will not delete a
  // read-only file.
  setReadOnly(dir_ / "S001.pkl", false);
  setReadOnly(dir_ / "S002.chn", false);
}

TEST_F(WindowsFileTest, FileHeldOpenByAnotherProgramIsLeftAsItWas) {
  writeSamplePair(dir_.path(), "S001");
  RunSummary summary;
  {
    // The C runtime opens files without delete sharing, as most Windows
    // programs do; nothing may then take the file's place.
    std::ifstream holder(dir_ / "S001.pkl", std::ios::binary);
    ASSERT_TRUE(holder.is_open());
    summary = correct({"S001.pkl"});
  }
  ASSERT_EQ(summary.failed(), 1u);
  const std::string& message = summary.failures.front().error->message;
  EXPECT_NE(message.find("cannot rename"), std::string::npos) << message;
  EXPECT_NE(message.find("S001.pkl"), std::string::npos) << message;
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kSamplePkl);
  EXPECT_EQ(folderNames(dir_.path()), (std::vector<std::string>{"S001.chn", "S001.pkl"}));

  // Once the other program lets go, the same file corrects.
  RunSummary again = correct({"S001.pkl"});
  EXPECT_EQ(again.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kSampleCorrected);
}

TEST_F(WindowsFileTest, WritesExactlyCrLfWhateverTheInputLineEnds) {
  struct Case {
    const char* name;
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"crlf.pkl", kSamplePkl, kSampleCorrected},
      {"lf.pkl", "Spectrum analysis\nAcquisition Date : x\nPeak 1\n", kSampleCorrected},
      {"cr.pkl", "Spectrum analysis\rAcquisition Date : x\rPeak 1", kSampleCorrected},
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
  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  for (const Case& c : cases) EXPECT_EQ(readFile(dir_ / c.name), c.out) << c.name;
}

// Another program holding a file (tests/support/hold_file.cpp): started, and
// returns once it holds the file; ended, if it still runs, when destroyed.
class Holder {
 public:
  Holder(const fs::path& path, const wchar_t* sharing, int milliseconds) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path helper = fs::path(self).parent_path() / L"hold_file.exe";
    std::wstring command = L"\"" + helper.native() + L"\" \"" + path.native() + L"\" \"" + sharing +
                           L"\" " + std::to_wstring(milliseconds);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    ::CreatePipe(&out_, &write, &inherit, 0);
    ::SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &process)) {
      ::CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
    ::CloseHandle(write);
    char line[5] = {};
    DWORD got = 0;
    held_ = process_ && ::ReadFile(out_, line, 4, &got, nullptr) && got == 4 &&
            std::string(line) == "held";
  }
  ~Holder() {
    if (process_) {
      ::TerminateProcess(process_, 0);
      ::WaitForSingleObject(process_, 10000);
      ::CloseHandle(process_);
    }
    ::CloseHandle(out_);
  }
  bool held() const { return held_; }

 private:
  HANDLE process_ = nullptr;
  HANDLE out_ = nullptr;
  bool held_ = false;
};

long long msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

TEST_F(WindowsFileTest, FileHeldForAMomentIsWaitedForAndOneHeldLongerIsNamedInUse) {
  struct Case {
    const char* what;
    const char* held;        // the file another program holds
    const wchar_t* sharing;  // what it lets others do
    int milliseconds;
    bool stopped;      // the run was stopped before it came to the file
    const char* says;  // in the error; nullptr when the file is corrected
  };
  const Case cases[] = {
      {"a result file read for 400 ms", "S001.pkl", L"r", 400, false, nullptr},
      {"a result file read through the run", "S001.pkl", L"r", 20000, false,
       "S001.pkl is in use by another program"},
      {"a spectrum held through the run", "S001.chn", L"", 20000, false,
       "S001.chn: it is in use by another program"},
      {"a stopped run waits for nothing", "S001.pkl", L"r", 20000, true,
       "S001.pkl is in use by another program"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const char* name : {"S001.pkl", "S002.pkl"}) {
      writeFile(dir / name, kSamplePkl);
      writeFile(dir / spectrumName(name), sampleChn());
    }
    std::atomic<bool> stop{c.stopped};
    std::unique_ptr<FileSystem> stoppable = realFileSystem().stoppedBy(stop);
    Holder holder(dir / c.held, c.sharing, c.milliseconds);
    ASSERT_TRUE(holder.held());
    RunOptions keepGoing;
    keepGoing.keepGoing = true;
    const auto start = std::chrono::steady_clock::now();
    RunSummary summary = CorrectPklFiles(*stoppable,
                                         testing::jobList({{dir.path(), "S001.pkl", dir.path()},
                                                           {dir.path(), "S002.pkl", dir.path()}}),
                                         keepGoing);
    const long long took = msSince(start);
    std::cout << "[ timing   ] " << c.what << ": " << took << " ms\n";
    EXPECT_EQ(readFile(dir / "S002.pkl"), kSampleCorrected) << "the other file is corrected";
    EXPECT_EQ(folderNames(dir.path()),
              (std::vector<std::string>{"S001.chn", "S001.pkl", "S002.chn", "S002.pkl"}))
        << "no copy is left";
    if (!c.says) {
      EXPECT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
      EXPECT_EQ(readFile(dir / "S001.pkl"), kSampleCorrected);
      continue;
    }
    ASSERT_EQ(summary.failed(), 1u);
    const std::string& message = summary.failures.front().error->message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_EQ(message.find("ermission denied"), std::string::npos) << message;
    EXPECT_EQ(readFile(dir / "S001.pkl"), kSamplePkl);
    // Ten waits of 25 ms more each come to 1375 ms.
    if (c.stopped) {
      EXPECT_LT(took, 1000);
    } else {
      EXPECT_GE(took, 1300);
    }
  }
}

// The real file system, with a hook run before each rename: there a scanner
// opens the new copy, as it would as soon as the copy exists.
class BeforeRename final : public ForwardingFileSystem {
 public:
  explicit BeforeRename(std::function<void(const fs::path&)> hook)
      : ForwardingFileSystem(realFileSystem()), hook_(std::move(hook)) {}
  Status rename(const fs::path& from, const fs::path& to) override {
    hook_(from);
    return base().rename(from, to);
  }

 private:
  std::function<void(const fs::path&)> hook_;
};

TEST_F(WindowsFileTest, CopyHeldByAScannerIsRenamedOnceFreeOrLeftForTheNextRun) {
  for (int milliseconds : {300, 20000}) {
    SCOPED_TRACE(milliseconds);
    TempDir dir;
    writeFile(dir / "S001.pkl", kSamplePkl);
    writeFile(dir / "S001.chn", sampleChn());
    // Without delete sharing: the copy can be neither renamed nor removed
    // while held.
    std::unique_ptr<Holder> scanner;
    BeforeRename files([&](const fs::path& copy) {
      scanner = std::make_unique<Holder>(copy, L"rw", milliseconds);
      EXPECT_TRUE(scanner->held());
    });
    RunSummary summary = CorrectPklFiles(files, dir.path(), dir.path(), {{"S001.pkl", true}});
    if (milliseconds < 1000) {
      EXPECT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
      EXPECT_EQ(readFile(dir / "S001.pkl"), kSampleCorrected);
      EXPECT_EQ(folderNames(dir.path()), (std::vector<std::string>{"S001.chn", "S001.pkl"}));
      continue;
    }
    ASSERT_EQ(summary.failed(), 1u);
    const std::string& message = summary.failures.front().error->message;
    EXPECT_NE(message.find("newS001.pkl is in use by another program"), std::string::npos)
        << message;
    EXPECT_NE(message.find("is left, to be removed by the next run"), std::string::npos) << message;
    EXPECT_EQ(readFile(dir / "S001.pkl"), kSamplePkl);
    scanner.reset();
    RunSummary next =
        CorrectPklFiles(realFileSystem(), dir.path(), dir.path(), {{"S001.pkl", true}});
    EXPECT_EQ(next.corrected, 1u);
    EXPECT_EQ(folderNames(dir.path()), (std::vector<std::string>{"S001.chn", "S001.pkl"}))
        << "the next run removes the copy left behind";
  }
}

// Win32 calls with extended-length paths, for setting up what the C runtime
// cannot reach.
std::wstring extended(const fs::path& path) { return LR"(\\?\)" + path.native(); }

void writeLong(const fs::path& path, std::string_view bytes) {
  HANDLE file = ::CreateFileW(extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << pathText(path);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

std::string readLong(const fs::path& path) {
  HANDLE file = ::CreateFileW(extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(cannot open)";
  std::string bytes(1 << 16, '\0');
  DWORD got = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  ::CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

TEST_F(WindowsFileTest, FolderPastTwoHundredSixtyCharactersIsListedAndCorrected) {
  fs::path folder = dir_.path();
  while (folder.native().size() <= 300) {
    folder /= std::wstring(60, L'd');
    ASSERT_TRUE(::CreateDirectoryW(extended(folder).c_str(), nullptr)) << pathText(folder);
  }
  ASSERT_TRUE(::CreateDirectoryW(extended(folder / L"sub").c_str(), nullptr));
  writeLong(folder / "S001.pkl", kSamplePkl);
  writeLong(folder / "S001.chn", sampleChn());

  for (const fs::path& given : {folder, fs::path(extended(folder))}) {
    SCOPED_TRACE(pathText(given));
    Result<std::vector<FolderEntry>> listed = realFileSystem().listFolder(given);
    ASSERT_TRUE(listed.ok()) << listed.error().message;
    std::map<std::string, FileType> types;
    for (const FolderEntry& entry : listed.value()) types[entry.name] = entry.type;
    EXPECT_EQ(types, (std::map<std::string, FileType>{{"S001.chn", FileType::Regular},
                                                      {"S001.pkl", FileType::Regular},
                                                      {"sub", FileType::Directory}}))
        << "each entry's type comes from the listing";

    writeLong(folder / "S001.pkl", kSamplePkl);
    RunSummary summary = CorrectPklFiles(realFileSystem(), given, given, {{"S001.pkl", true}});
    ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
    EXPECT_EQ(readLong(folder / "S001.pkl"), kSampleCorrected);
  }
  // A name near 255 characters, whose "new" + name would not fit in one.
  const std::string longName = std::string(246, 'n') + ".pkl";
  writeLong(folder / longName, kSamplePkl);
  writeLong(folder / spectrumName(longName), sampleChn());
  RunSummary summary = CorrectPklFiles(realFileSystem(), folder, folder, {{longName, true}});
  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  EXPECT_EQ(readLong(folder / longName), kSampleCorrected);
  EXPECT_OK(realFileSystem().remove(folder / longName));
  EXPECT_OK(realFileSystem().remove(folder / spectrumName(longName)));

  Result<std::vector<FolderEntry>> missing = realFileSystem().listFolder(folder / "gone");
  EXPECT_FALSE(missing.ok()) << "a folder that cannot be listed is no empty folder";

  // TempDir's removal goes through the C runtime, which stops at 260.
  for (fs::path path : {folder / "S001.pkl", folder / "S001.chn", folder / "sub"}) {
    EXPECT_OK(realFileSystem().remove(path));
  }
  for (; folder != dir_.path(); folder = folder.parent_path()) {
    EXPECT_OK(realFileSystem().remove(folder));
  }
}

TEST_F(WindowsFileTest, CorrectedFileKeepsItsAttributesAndCreationTime) {
  writeFile(dir_ / "S001.pkl", kSamplePkl);
  writeFile(dir_ / "S001.chn", sampleChn());
  const std::wstring pkl = (dir_ / "S001.pkl").native();
  // 2001-01-01, long before the correction.
  FILETIME created = {0x8E5B0000, 0x01C07385};
  HANDLE file =
      ::CreateFileW(pkl.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(::SetFileTime(file, &created, nullptr, nullptr));
  ::CloseHandle(file);
  ASSERT_TRUE(::SetFileAttributesW(pkl.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  // Wine on Linux keeps no settable creation time: there it cannot be
  // checked.
  WIN32_FILE_ATTRIBUTE_DATA before;
  ASSERT_TRUE(::GetFileAttributesExW(pkl.c_str(), GetFileExInfoStandard, &before));
  const bool timeKept = ::CompareFileTime(&before.ftCreationTime, &created) == 0;
  if (!timeKept) std::cout << "[ note     ] creation times cannot be set here; not checked\n";

  RunSummary summary = correct({"S001.pkl"});
  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kSampleCorrected);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(::GetFileAttributesExW(pkl.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(
      data.dwFileAttributes &
          (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE),
      static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE))
      << "hidden and system kept; archive set, since the content changed";
  if (timeKept) {
    EXPECT_EQ(::CompareFileTime(&data.ftCreationTime, &created), 0);
  }
  ::SetFileAttributesW(pkl.c_str(), FILE_ATTRIBUTE_NORMAL);
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
