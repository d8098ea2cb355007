// The packing step of `zarn model pack`, as a program of its own: the build packs the model
// it ships with this before `zarn` exists, since `zarn` carries that model's digest.
#include <cstdio>
#include <string>

#include "SphinxModel.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODEL-FOLDER OUT.gguf\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!transcribe::sphinx::pack(argv[1], argv[2], "", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
