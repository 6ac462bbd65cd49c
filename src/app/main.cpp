#include "app/CommandLine.h"

int main(int argc, char** argv) {
    return kestrel::RunProgram(argc, argv);
}
