#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>

namespace vykfuzz {

void Broken(const std::string& what) {
    std::fprintf(stderr, "property broken: %s\n", what.c_str());
    std::abort();
}

} // namespace vykfuzz
