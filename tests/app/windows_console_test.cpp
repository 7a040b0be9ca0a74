// pklfix-cli on a Windows console: every name arrives whole, whatever the
// console's code page. The tests write into screen buffers of their own
// console and read the cells back. Under Wine a process gets a working
// console only on a terminal, so ctest runs this program through `script`.

#include <gtest/gtest.h>

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "engine/files/file_system.h"
#include "app/process.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;
using testing::writeSamplePair;

// A screen buffer of this process's console, never shown; child processes
// may inherit it as their standard output.
class ScreenBuffer {
 public:
  ScreenBuffer() {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    handle_ = ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                          CONSOLE_TEXTMODE_BUFFER, nullptr);
    // Room for the longest text written here, so that nothing scrolls away.
    ::SetConsoleScreenBufferSize(handle_, COORD{200, 100});
  }
  ~ScreenBuffer() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  ScreenBuffer(const ScreenBuffer&) = delete;
  ScreenBuffer& operator=(const ScreenBuffer&) = delete;

  HANDLE handle() const { return handle_; }

  // `count` cells from the start of row `row`, on into the rows below.
  std::wstring cells(int row, std::size_t count) const {
    std::wstring text(count, L'\0');
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(handle_, text.data(), static_cast<DWORD>(count),
                                  COORD{0, static_cast<SHORT>(row)}, &read);
    text.resize(read);
    return text;
  }

 private:
  HANDLE handle_;
};

// Ü, 測 and 𝄞: two, three and four bytes in UTF-8; the last is two UTF-16 units.
constexpr const char* kCharacters[] = {"\xC3\x9C", "\xE6\xB8\xAC", "\xF0\x9D\x84\x9E"};
constexpr const wchar_t* kWideCharacters = L"\u00DC\u6E2C\U0001D11E";

fs::path programFolder() {
  wchar_t path[MAX_PATH];
  DWORD size = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, size)).parent_path();
}

// Runs pklfix-cli with stdout and stderr on `screen` and returns its exit
// status.
DWORD runCli(const std::wstring& arguments, const ScreenBuffer& screen) {
  std::wstring program = (programFolder() / "pklfix-cli.exe").wstring();
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = screen.handle();
  startup.hStdError = screen.handle();
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "cannot start pklfix-cli: error " << ::GetLastError();
    return ~DWORD{0};
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = ~DWORD{0};
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return status;
}

TEST(ConsoleTest, PklfixCliShowsNamesWholeInAnyCodePage) {
  TempDir dir;
  fs::path folder = dir / "Messung \xC3\x9C \xE6\xB8\xAC\xE5\xAE\x9A";
  fs::create_directory(folder);
  const std::wstring line =
      folder.wstring() +
      L"\\S001.pkl: Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date : 03-05-2009 "
      L"14:30:07";
  UINT original = ::GetConsoleOutputCP();
  for (UINT codePage : {437u, 850u, 1252u, 932u}) {
    SCOPED_TRACE(codePage);
    writeSamplePair(folder, "S001");
    ASSERT_TRUE(::SetConsoleOutputCP(codePage));
    ScreenBuffer screen;
    ASSERT_NE(screen.handle(), INVALID_HANDLE_VALUE) << "no console: run this on a terminal";
    EXPECT_EQ(runCli(L"\"" + folder.wstring() + L"\"", screen), 0u);
    EXPECT_EQ(screen.cells(0, line.size()), line);

    // Bytes sent to this console are read in its code page: a program that
    // wrote its UTF-8 as bytes would fail the check above.
    ScreenBuffer bytes;
    DWORD written = 0;
    ::WriteFile(bytes.handle(), kCharacters[1], 3, &written, nullptr);
    EXPECT_NE(bytes.cells(0, 1), std::wstring(1, L'\u6E2C'));
  }
  ::SetConsoleOutputCP(original);
}

TEST(ConsoleTest, CharacterCutBetweenWritesArrivesWhole) {
  ASSERT_TRUE(::SetConsoleOutputCP(437));
  ScreenBuffer screen;
  ASSERT_NE(screen.handle(), INVALID_HANDLE_VALUE) << "no console: run this on a terminal";
  HANDLE own = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), screen.handle(), ::GetCurrentProcess(), &own,
                                0, FALSE, DUPLICATE_SAME_ACCESS));
  // standardOutput() looks once, at its first use, at what the C runtime's
  // stdout is: here, for the length of the writes, the screen buffer.
  std::fflush(stdout);
  int saved = ::_dup(1);
  int console = ::_open_osfhandle(reinterpret_cast<intptr_t>(own), _O_TEXT);
  ::_dup2(console, 1);
  ::_close(console);
  std::ostream& out = standardOutput();
  for (const char* character : kCharacters) {
    for (const char* byte = character; *byte != '\0'; ++byte) out << *byte << std::flush;
  }
  out << '\n';
  // Several times what the stream hands the console at once: characters are
  // cut wherever a piece ends.
  std::string longLine;
  for (int i = 0; i < 3000; ++i) longLine += "\xC3\x9C\xE6\xB8\xAC";
  out << longLine << '\n';
  ::_dup2(saved, 1);
  ::_close(saved);

  EXPECT_EQ(screen.cells(0, 4), kWideCharacters);
  EXPECT_EQ(screen.cells(0, 5).back(), L' ') << "the line ends after the 4 units";
  std::wstring expected;
  for (int i = 0; i < 3000; ++i) expected += L"\u00DC\u6E2C";
  EXPECT_EQ(screen.cells(1, expected.size() + 1), expected + L' ');
}

}  // namespace
}  // namespace pklfix

#endif  // _WIN32
