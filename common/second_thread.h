#pragma once

#include <functional>

// Whether a piece of work may run on a second thread. Each kind of work that can has a setting:
// by default the program decides (more than one processor, and the work large enough to gain);
// the other two force either way, so that both are tested on any machine. The output never
// depends on it.
namespace sorvik {

enum class SecondThread {
    Automatic,  // when the machine has more than one processor and the work gains by it
    Never,
    Always,  // wherever a thread can be started
};

// Whether `choice` lets this machine use a second thread: Always, or Automatic with more than one
// processor. (The work's own size is for its owner to weigh.)
bool MaySecondThread(SecondThread choice);

// Runs `first` here and `second` on a second thread side by side when `sideBySide` is true and
// a thread can be started, else one after the other; returns when both are done.
void RunBoth(const std::function<void()>& first, const std::function<void()>& second,
             bool sideBySide);

}  // namespace sorvik
