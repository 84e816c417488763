#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

// Names of output files.
namespace sorvik {

// Outputs are written under a temporary name that starts with this, then renamed; no output
// is ever given a name that starts with it.
constexpr char kTemporaryNamePrefix[] = "sorvik-unfinished-";

// Makes a name taken from archive data (UTF-8) safe to create in the destination: separators,
// ':' and control bytes (and on Windows < > " | ? * and bytes outside UTF-8) become '_', a name
// made only of dots becomes "_", and a device name such as CON.WAV on Windows, or a name that looks
// like one of sorvik's temporary files, gets a leading '_', so every output is a file in the
// destination folder.
std::string MakeSafeFileName(const std::string& name);

// Remembers the names written during one run, so no sound overwrites another: a name already
// used gets "_2", "_3", ... before its last dot (at the end when it has no dot). Names are
// compared as the destination's file system compares them: with or without regard to letter
// case (the system's usual way until the destination tells, see FoldCase), and on Windows also
// without the dots and blanks it drops from the end of a name.
class OutputNameRegistry {
  public:
    OutputNameRegistry();
    // Returns `name`, or the first free numbered variant of it, and records it as used.
    std::string Claim(const std::string& name);
    // Compares names from now on as a file system that does (or does not) fold letter case.
    void FoldCase(bool folds) { foldsCase_ = folds; }

  private:
    // Names as the file system compares them.
    std::string Key(const std::string& name) const;

    bool foldsCase_;
    std::unordered_set<std::string> used_;
    // Per name asked for, the first number not yet tried for it.
    std::unordered_map<std::string, unsigned> nextNumber_;
};

}  // namespace sorvik
