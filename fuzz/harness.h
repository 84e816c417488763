#pragma once

// Shared by the fuzz targets, which run everything in memory through the tests' in-memory
// sources and sinks: a broken expectation stops the run, and libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/byte_order.h"
#include "tests/support/memory_io.h"

namespace sorvik::fuzz {

inline void Expect(bool holds, const std::string& what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

}  // namespace sorvik::fuzz
