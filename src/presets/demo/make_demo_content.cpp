// The build's demo-content step: writes the demo tree into the folder named
// on the command line (the build puts it beside the executable).
#include <cstdio>
#include <string>

#include "presets/demo/demo_generator.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <DemoContent folder>\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!korvel::GenerateDemoContent(argv[1], error)) {
        std::fprintf(stderr, "[Demo] %s\n", error.c_str());
        return 1;
    }
    return 0;
}
