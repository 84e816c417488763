#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

// Names of output files that come from archive data.
namespace sorvik::sfs {

// Makes a name taken from archive data safe to create in the destination: separators, ':' and
// control bytes (and on Windows < > " | ? *) become '_', a name made only of dots becomes "_",
// and a device name such as CON.WAV on Windows gets a leading '_', so every output is a file in
// the destination folder.
std::string MakeSafeFileName(const std::string& name);

// Remembers the names written during one extraction, so no sound overwrites another: a name
// already used gets "_2", "_3", ... before its last dot (at the end when it has no dot).
class OutputNameRegistry {
  public:
    // Returns `name`, or the first free numbered variant of it, and records it as used.
    std::string Claim(const std::string& name);

  private:
    // Names as the file system compares them.
    static std::string Key(const std::string& name);

    std::unordered_set<std::string> used_;
    // Per name asked for, the first number not yet tried for it.
    std::unordered_map<std::string, unsigned> nextNumber_;
};

}  // namespace sorvik::sfs
