#pragma once

#include "tests/support/archive_generator.h"

namespace sorvik::bench {

// An archive of realistic size for the benchmark: 38 music tracks of 3 to 5 MB, 22 effects,
// 300 named effects and 600 voices; the file ends a little above 300 MB. The sounds are music
// and effects from the synthesis, encoded once in stretches that are repeated, so making it
// takes a few seconds.
testing::ArchiveContents MakeRealisticArchive();

}  // namespace sorvik::bench
