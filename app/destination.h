#pragma once

#include <string>
#include <vector>

#include "app/run_settings.h"

namespace sorvik {

// Creates the directory `path`, creating missing parent folders first, level by level at either
// separator where the system takes '/' as well. True when the directory exists afterwards (made
// now or already there).
bool CreateDirectoryTree(const std::string& path);

enum class Preparation {
    Ready,      // the input is a full path and the destination folder exists, if it can
    BadPath,    // the input path cannot be made full (too long for the system, or the current
                // folder cannot be read)
    Cancelled,  // no input named, and none chosen when asked
};

// The runs the command line asks for. When the second plain argument names an existing file
// rather than a folder (several files dropped on the program, or a list typed on purpose), every
// plain argument is an input of its own run, converted beside itself. Otherwise there is one run,
// and `ignored` is given the plain arguments after the second, which have no effect.
std::vector<RunSettings> SeparateInputs(const RunSettings& settings,
                                        std::vector<std::string>& ignored);

// Completes what the command line gave: asks for the input (and the destination) when no input
// was named, makes the input a full path, takes the destination from the input's folder unless
// one was named (a named one ends in a separator), and creates it with any missing parents
// unless its full path is too long for the system. Whether the destination can be used is found
// out when it is opened. A listing (-l) only gets its input.
Preparation PrepareRun(RunSettings& settings);

}  // namespace sorvik
