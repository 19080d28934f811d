// What the process gets from whoever started it: its arguments and its
// standard streams.
#pragma once

#include <string>
#include <vector>

namespace sa::platform {

// The arguments after the program's name, in UTF-8. On Windows they come
// from the wide command line, so every letter arrives whatever the code
// page; elsewhere they are `argv` as given.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes standard output and standard error reach whoever started the
// program. A Windows window program gets no console of its own: when started
// from one, with no stream redirected, it writes to that console (a
// redirected stream, a file or a pipe, stays as it is). Elsewhere nothing to do.
void ReachStartingConsole();

}  // namespace sa::platform
