#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/output_names.h"
#include "common/result_code.h"

// Where outputs go. Converters and extractors hand every file they make to an OutputSink: the
// destination folder on disk (FolderSink), or memory in tests and fuzzing. An output appears
// whole or not at all: it only takes its name when it is committed, complete.
namespace sorvik {

// One output being written. Destroyed without a successful Commit, it leaves nothing behind.
class OutputFile {
  public:
    virtual ~OutputFile() = default;

    // Appends `byteCount` bytes; false when they could not all be written.
    virtual bool Write(const void* bytes, std::size_t byteCount) = 0;
    // Writes over bytes already written, from `offset` (a header completed at the end).
    virtual bool Rewrite(std::uint64_t offset, const void* bytes, std::size_t byteCount) = 0;
    // Reads `byteCount` bytes written so far, from `offset`, to check them before Commit; false
    // when they are not all there or the output cannot be read back.
    virtual bool ReadBack(std::uint64_t /*offset*/, void* /*bytes*/, std::size_t /*byteCount*/) {
        return false;
    }
    // Completes the output and gives it its name, in place of whatever had that name before;
    // false when that fails, and then nothing of the output is left.
    virtual bool Commit() = 0;
};

class OutputSink {
  public:
    virtual ~OutputSink() = default;

    // The name an output asked for as `name` gets in this run: `name` itself, or a numbered
    // variant when an earlier output took it (see OutputNameRegistry).
    std::string Claim(const std::string& name) { return names_.Claim(name); }
    // Starts the output that will be called `name` (a bare file name); nullptr when it cannot
    // be created.
    virtual std::unique_ptr<OutputFile> Create(const std::string& name) = 0;

  private:
    OutputNameRegistry names_;
};

// Creates the output `name`, lets `fill` write it (returning Ok, or why it failed) and commits
// it. Any failure leaves nothing behind; a failure to create or commit is WriteFailed.
template <typename Fill>
ResultCode WriteOutput(OutputSink& sink, const std::string& name, Fill fill) {
    const std::unique_ptr<OutputFile> file = sink.Create(name);
    if (!file) return ResultCode::WriteFailed;
    const ResultCode filled = fill(*file);
    if (filled != ResultCode::Ok) return filled;
    return file->Commit() ? ResultCode::Ok : ResultCode::WriteFailed;
}

}  // namespace sorvik
