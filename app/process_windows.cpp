// The process on Windows: arguments read again as UTF-16, and UTF-16 for a
// console.

#include <windows.h>
// After windows.h, which it needs.
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <streambuf>
#include <string>

#include "engine/base/text.h"
#include "app/process.h"

namespace pklfix {

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(utf8Text(wide[i]));
  ::LocalFree(wide);
  return args;
}

// The standard streams: the C++ library's own unless the handle is a
// console; std::cout in text mode already ends lines in CR LF.

namespace {

// How many of the `size` bytes at `text` end on a character boundary: the
// first bytes of a UTF-8 character cut off at the end are left out, to go
// out with the rest of it. Invalid bytes count as whole characters (they
// become U+FFFD).
std::size_t wholeUtf8(const char* text, std::size_t size) {
  auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  std::size_t lead = size;
  while (lead > 0 && size - lead < 3 && (byte(lead - 1) & 0xC0) == 0x80) --lead;
  if (lead == 0) return size;
  --lead;
  std::size_t length = byte(lead) >= 0xF0 ? 4 : byte(lead) >= 0xE0 ? 3 : byte(lead) >= 0xC0 ? 2 : 1;
  return size - lead < length ? lead : size;
}

// Writes UTF-8 to a console as UTF-16, each line as it ends, and what is
// left when flushed.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ~ConsoleBuffer() override { writeOut(true); }

 protected:
  // There is no put area: every character comes through here or xsputn,
  // where a line end is seen as it is written.
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    char character = traits_type::to_char_type(c);
    return xsputn(&character, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    pending_.append(text, static_cast<std::size_t>(size));
    bool lineEnded = std::memchr(text, '\n', static_cast<std::size_t>(size)) != nullptr;
    if ((lineEnded || pending_.size() >= kChunk) && !writeOut(false)) return 0;
    return size;
  }
  int sync() override { return writeOut(false) ? 0 : -1; }

 private:
  // The most bytes handed to the console in one call.
  static constexpr std::size_t kChunk = 4096;

  // Writes what is pending; with `all` everything, else all but a character
  // cut off at the end, which waits for its other bytes.
  bool writeOut(bool all) {
    std::size_t end = all ? pending_.size() : wholeUtf8(pending_.data(), pending_.size());
    bool ok = true;
    for (std::size_t start = 0; ok && start < end;) {
      std::size_t size = std::min(end - start, kChunk);
      if (start + size < end) size = wholeUtf8(pending_.data() + start, size);
      ok = writeWide(pending_.data() + start, size);
      start += size;
    }
    pending_.erase(0, end);
    return ok;
  }

  bool writeWide(const char* text, std::size_t size) {
    int length = ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), wide.data(), length);
    // Lines end in CR LF, as the C runtime writes them to a console.
    std::wstring lines;
    lines.reserve(wide.size() + wide.size() / 16);
    for (wchar_t c : wide) {
      if (c == L'\n') lines += L'\r';
      lines += c;
    }
    DWORD written = 0;
    return ::WriteConsoleW(console_, lines.data(), static_cast<DWORD>(lines.size()), &written,
                           nullptr) != 0;
  }

  HANDLE console_;
  std::string pending_;
};

struct ConsoleStream {
  explicit ConsoleStream(HANDLE console) : buffer(console), stream(&buffer) {}
  ConsoleBuffer buffer;
  std::ostream stream;
};

// The stream for what the C runtime writes to `file`: a console stream when
// its handle is a console, else `bytes`, which writes to `file`.
std::ostream& consoleOr(std::FILE* file, std::ostream& bytes,
                        std::optional<ConsoleStream>& console) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return bytes;
  console.emplace(handle);
  return console->stream;
}

}  // namespace

std::ostream& standardOutput() {
  static std::optional<ConsoleStream> console;
  static std::ostream& stream = consoleOr(stdout, std::cout, console);
  return stream;
}

std::ostream& standardError() {
  static std::optional<ConsoleStream> console;
  static std::ostream& stream = consoleOr(stderr, std::cerr, console);
  return stream;
}

}  // namespace pklfix
