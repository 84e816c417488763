#pragma once

// What the program says about itself.
namespace sorvik::help {

// The short usage text of -h and -?, and of a command line that cannot be used.
extern const char kUsageText[];
// The full help of --help: every option, where the index files lie, the exit statuses.
extern const char kFullHelp[];
// Shown on standard error after the usage text (after "sorvik: "): where the rest is told.
extern const char kFullHelpPointer[];
// The answer to --version: "sorvik" and the project's version.
extern const char kVersionLine[];

}  // namespace sorvik::help
