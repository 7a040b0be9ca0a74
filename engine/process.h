#ifndef ENGINE_PROCESS_H_
#define ENGINE_PROCESS_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace pklfix {

// What a program's main() needs of its process beyond the file system.

// Before the first run: makes SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE
// first remove every temporary file realFileSystem() created and has not
// yet renamed or removed, then end the process as the signal would have.
// Result files are never touched, and nothing the process did not create is
// removed. Signals the caller ignores stay ignored. Does nothing on Windows.
void installInterruptCleanup();

// The program's arguments after its name, as UTF-8. On Windows `argv` holds
// them in the ANSI code page, which cannot hold every file name, so there
// they are read again from the command line the process was started with.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The streams for a program's results and errors: its standard output and
// standard error, written in UTF-8. On Windows a console shows text in its
// own code page, often an OEM one that has no letters for most names; when
// the handle behind a stream is a console, the stream hands the console
// UTF-16 instead (WriteConsoleW), a line at a time, so every name shows
// whole. Redirected to a file or a pipe, and on other systems, the bytes go
// out unchanged (std::cout, std::cerr).
std::ostream& standardOutput();
std::ostream& standardError();

}  // namespace pklfix

#endif  // ENGINE_PROCESS_H_
