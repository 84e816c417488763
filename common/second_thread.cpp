#include "common/second_thread.h"

#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace sorvik {

bool MaySecondThread(SecondThread choice) {
    return choice == SecondThread::Always ||
           (choice == SecondThread::Automatic && platform::ProcessorCount() > 1);
}

void RunBoth(const std::function<void()>& first, const std::function<void()>& second,
             bool sideBySide) {
    std::thread helper;
    if (sideBySide) {
        // The standard library reports a refused thread by throwing: then both run here.
        try {
            helper = std::thread(second);
        } catch (const std::system_error&) {
        }
    }
    first();
    if (helper.joinable()) {
        helper.join();
    } else {
        second();
    }
}

}  // namespace sorvik
