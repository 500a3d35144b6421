#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tolmar::render {

// The whole program after the framework is initialised: parses `args` (without the program name), renders
// or runs the demo, prints the summary on `out` and any error as one line on `err`.
// Returns 0 on success, 1 when a file or the audio cannot be handled, 2 for bad arguments.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Whether the progress bar may be drawn: stderr is a terminal.
bool stderrIsTerminal();

} // namespace tolmar::render
