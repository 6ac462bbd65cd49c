#include "app/CommandLine.h"

#include <cstdio>

namespace kestrel {

int RunProgram(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::fputs("not built yet\n", stderr);
    return 1;
}

} // namespace kestrel
