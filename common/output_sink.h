#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/output_names.h"
#include "common/result_code.h"
#include "platform/platform.h"

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

// What a sink does with a file that already stands at an output's name.
enum class ExistingFiles {
    Replace,         // replaces it: decoded sounds replace what an earlier run wrote
    Keep,            // keeps it, and the output fails (encoding, a rebuilt archive)
    ReplaceAndTell,  // replaces it and tells (-y)
};

// What a sink tells about the files that stand in its outputs' way.
class SinkNotes {
  public:
    virtual ~SinkNotes() = default;
    // `name` holds a file this run reads: the output that would have replaced it failed.
    virtual void InputKept(const std::string& name) = 0;
    // `name` exists and ExistingFiles::Keep holds: the output failed.
    virtual void ExistingKept(const std::string& name) = 0;
    // `name` existed and was replaced (ExistingFiles::ReplaceAndTell).
    virtual void ExistingReplaced(const std::string& name) = 0;
    // `stored` differs from the output's name only in letter case, so an earlier run did not
    // write it: the output was named `given` instead.
    virtual void NamedApart(const std::string& stored, const std::string& given) = 0;
};

class OutputSink {
  public:
    virtual ~OutputSink() = default;

    // The name an output asked for as `name` gets in this run: `name` itself, or a numbered
    // variant when an earlier output took it (see OutputNameRegistry), or when a file of the
    // destination differs from it only in letter case and files are replaced without -y.
    std::string Claim(const std::string& name);
    // Starts the output that will be called `name` (a bare file name); nullptr when it cannot
    // be created (or, under ExistingFiles::Keep, when a file has its name).
    virtual std::unique_ptr<OutputFile> Create(const std::string& name) = 0;

    // Sets what happens to files that stand at output names, and who is told.
    void HandleExistingFiles(ExistingFiles policy, SinkNotes* notes) {
        existing_ = policy;
        notes_ = notes;
    }
    // Records a file this run reads (nothing when it is none): no output ever takes its place,
    // under any name, letter case or link.
    void ProtectInput(const std::optional<platform::FileIdentity>& input);

  protected:
    // What stands at `name` in the destination; nullopt when nothing does, or the sink keeps
    // no files.
    virtual std::optional<platform::StoredFile> Find(const std::string&) const {
        return std::nullopt;
    }
    // Names are compared as a file system that does (or does not) fold letter case.
    void FoldCase(bool folds) { names_.FoldCase(folds); }
    // False when an output must not even be started as `name` (ExistingFiles::Keep).
    bool MayCreate(const std::string& name);
    // Gives a finished output the name `name` by `rename(replaceExisting)`, unless what stands
    // there is an input of the run or must be kept; true when the output has its name.
    bool TakeName(const std::string& name, const std::function<bool(bool)>& rename);

  private:
    OutputNameRegistry names_;
    ExistingFiles existing_ = ExistingFiles::Replace;
    SinkNotes* notes_ = nullptr;
    std::vector<platform::FileIdentity> inputs_;
};

// How much one sound encoded ahead on a second thread may hold in memory: a larger one is encoded
// in its turn instead.
constexpr std::size_t kEncodedAheadBytes = 4 << 20;

// Keeps the one output it is given in memory, up to `limit` bytes (a write past them fails), for
// work done ahead on a second thread and written out in its turn.
class BoundedMemorySink final : public OutputSink {
  public:
    explicit BoundedMemorySink(std::size_t limit) : limit_(limit) {}
    std::unique_ptr<OutputFile> Create(const std::string& name) override;
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    bool Committed() const { return committed_; }

  private:
    class File;
    std::size_t limit_;
    std::vector<std::uint8_t> bytes_;
    bool committed_ = false;
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

// Writes `bytes` as the whole output `name` of `sink`, as WriteOutput does.
inline ResultCode WriteBytesAs(OutputSink& sink, const std::string& name,
                               const std::vector<std::uint8_t>& bytes) {
    return WriteOutput(sink, name, [&](OutputFile& file) {
        return file.Write(bytes.data(), bytes.size()) ? ResultCode::Ok : ResultCode::WriteFailed;
    });
}

}  // namespace sorvik
