#include "app/CommandLine.h"

// Every task runs on the command line, which links no window library; without parameters, or
// with only an archive path, the window program beside this one is started in its place.
int main(int argc, char** argv) {
    return kestrel::RunProgram(argc, argv);
}
