#pragma once

namespace sorvik {

// Outcome of a conversion or an extraction. The values are fixed: callers print a message per
// value and tests compare against them.
enum class ResultCode : int {
    Ok = 0,
    UnknownFormat = 1,  // a magic number or a size did not fit
    OutOfMemory = 2,    // a heap allocation failed
    ReadFailed = 3,     // an input failed to read, or ended before the bytes it was read for
    WriteFailed = 4,    // an output failed to be created, written or put in place
    OpenFailed = 5,     // an input is missing, is not a regular file, or refused to open
};

// What a batch of loose files or an archive does when one file or entry fails: stop there (the
// default), or report it and go on with the next one whose place is known (-k).
enum class FailurePolicy { StopAtFirst, KeepGoing };

}  // namespace sorvik
