#pragma once

namespace kestrel {

// The program body: the window without parameters, one command-line task with them. Returns the
// process exit code.
int RunProgram(int argc, char** argv);

} // namespace kestrel
