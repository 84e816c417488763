#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/reporter.h"

// In-memory ends of the seam, for tests and fuzzing: a sink that keeps committed files in a map
// and can be told to fail, a source that fails past a point, and a reporter that records events.
namespace sorvik::testing {

using Bytes = std::vector<std::uint8_t>;

class MemorySink final : public OutputSink {
  public:
    std::map<std::string, Bytes> files;  // committed outputs by name
    int failAtWrite = 0;                 // the Nth Write or Rewrite of the run fails (0: none)
    bool failCommit = false;             // every Commit fails
    int started = 0;                     // outputs created, committed or not
    int createLimit = -1;                // Create fails once this many were created (-1: never)
    bool foldsCase = false;              // names that differ in case are one file, as on FAT
    std::map<std::string, platform::FileIdentity> identities;  // of files, by name ({} if none)

    void FoldsCase() { foldsCase = true, FoldCase(true); }
    std::unique_ptr<OutputFile> Create(const std::string& name) override {
        if ((createLimit >= 0 && started >= createLimit) || !MayCreate(name)) return nullptr;
        ++started;
        return std::make_unique<File>(*this, name);
    }
    std::optional<platform::StoredFile> Find(const std::string& name) const override {
        for (const auto& [stored, bytes] : files) {
            if (stored == name || (foldsCase && platform::CompareNoCase(stored.c_str(), name.c_str()) == 0)) {
                const auto identity = identities.find(stored);
                return platform::StoredFile{stored, identity == identities.end() ? platform::FileIdentity{} : identity->second};
            }
        }
        return std::nullopt;
    }

  private:
    class File final : public OutputFile {
      public:
        File(MemorySink& sink, std::string name) : sink_(sink), name_(std::move(name)) {}
        bool Write(const void* bytes, std::size_t count) override {
            if (Fails()) return false;
            const auto* begin = static_cast<const std::uint8_t*>(bytes);
            bytes_.insert(bytes_.end(), begin, begin + count);
            return true;
        }
        bool Rewrite(std::uint64_t offset, const void* bytes, std::size_t count) override {
            if (Fails() || offset + count > bytes_.size()) return false;
            std::memcpy(bytes_.data() + offset, bytes, count);
            return true;
        }
        bool ReadBack(std::uint64_t offset, void* bytes, std::size_t count) override {
            if (offset + count > bytes_.size()) return false;
            std::memcpy(bytes, bytes_.data() + offset, count);
            return true;
        }
        bool Commit() override {
            return !sink_.failCommit && sink_.TakeName(name_, [this](bool replace) {
                       const auto stored = sink_.Find(name_);
                       if (stored && !replace) return false;
                       if (stored) sink_.files.erase(stored->name);
                       sink_.files[name_] = std::move(bytes_);
                       return true;
                   });
        }

      private:
        bool Fails() { return ++sink_.writes_ == sink_.failAtWrite; }
        MemorySink& sink_;
        std::string name_;
        Bytes bytes_;
    };
    int writes_ = 0;
};

// Reads of `inner` that reach past `readable` bytes fail, as when a file shrinks or its disk
// fails while it is read; counts the bytes read and the reads.
class CutSource final : public ByteSource {
  public:
    CutSource(ByteSource& inner, std::uint64_t readable) : inner_(inner), readable_(readable) {}
    std::uint64_t Size() const override { return inner_.Size(); }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t count) override {
        bytesRead += count;
        ++reads;
        return offset + count <= readable_ && inner_.ReadAt(offset, bytes, count);
    }
    std::optional<platform::FileIdentity> Identity() const override { return identity; }
    std::uint64_t bytesRead = 0;
    std::uint64_t reads = 0;
    std::optional<platform::FileIdentity> identity;  // of the file the source stands for

  private:
    ByteSource& inner_;
    std::uint64_t readable_;
};

// What a sink tells, as lines of text.
class RecordingNotes final : public SinkNotes {
  public:
    std::vector<std::string> lines;
    void InputKept(const std::string& name) override { lines.push_back("input " + name); }
    void ExistingKept(const std::string& name) override { lines.push_back("kept " + name); }
    void ExistingReplaced(const std::string& name) override { lines.push_back("replaced " + name); }
    void NamedApart(const std::string& stored, const std::string& given) override {
        lines.push_back(stored + " apart " + given);
    }
};

// Every event as one line of text, for comparing with a table of expected lines.
class RecordingReporter final : public Reporter {
  public:
    std::vector<std::string> events;
    bool progress = false;  // Progress and FormatRefused recorded as well

    void NothingMatched(const std::string& pattern) override { Add("nothing " + pattern); }
    void LooseFilesStarted() override { Add("loose"); }
    void LooseFileStarted(unsigned number) override { Add("file " + std::to_string(number)); }
    void LooseFileFailed(const std::string& input, const std::string& output,
                         ResultCode reason) override {
        Add("failed " + input + " " + output + " " + std::to_string(static_cast<int>(reason)));
    }
    void SectionStarted(ArchiveSection section, const std::string& indexPath) override {
        Add("section " + std::to_string(static_cast<int>(section)) + " " + indexPath);
    }
    void ItemStarted(unsigned number, unsigned count) override {
        Add(std::to_string(number) + "/" + std::to_string(count));
    }
    void SectionEnded() override { Add("end"); }
    void IndexMissing(const std::string& indexPath) override { Add("missing " + indexPath); }
    void FileWritten(const std::string& name) override { Add("wrote " + name); }
    void FormatRefused(const std::string& input, const std::string& format) override {
        if (progress) Add("refused " + input + " " + format);
    }
    void Progress(std::uint64_t done, std::uint64_t total) override {
        if (progress) Add(std::to_string(done) + " of " + std::to_string(total));
    }

  private:
    void Add(std::string event) { events.push_back(std::move(event)); }
};

}  // namespace sorvik::testing
