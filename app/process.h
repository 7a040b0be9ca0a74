#ifndef APP_PROCESS_H_
#define APP_PROCESS_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace pklfix {

// What a program's main() needs of its process: its arguments and its
// standard streams.

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

#endif  // APP_PROCESS_H_
