// Another program holding a file for a while, as a virus scanner, an indexer
// or a sync client does:
//   hold_file <path> <sharing> <milliseconds>
// opens <path> for reading, letting others do what <sharing> says (any of
// the letters r, w, d: read, write, delete), waiting for it to exist, writes
// "held" and a line end to its standard output once it holds it, and closes
// it after <milliseconds>. Exits 1 when it cannot open the file within 10 s.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fwprintf(stderr, L"usage: hold_file <path> <sharing> <milliseconds>\n");
    return 2;
  }
  DWORD share = 0;
  for (const wchar_t* c = argv[2]; *c; ++c) {
    if (*c == L'r') share |= FILE_SHARE_READ;
    if (*c == L'w') share |= FILE_SHARE_WRITE;
    if (*c == L'd') share |= FILE_SHARE_DELETE;
  }
  HANDLE file = INVALID_HANDLE_VALUE;
  // A copy that is still to be created is waited for, as a scanner does.
  for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < 10000; ++tries) {
    file = ::CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) ::Sleep(1);
  }
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  ::CloseHandle(file);
  return 0;
}
