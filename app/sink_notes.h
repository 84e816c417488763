#pragma once

#include <string>

#include "app/console.h"
#include "common/display_name.h"
#include "common/output_sink.h"

namespace sorvik {

// Tells on standard error about the files that stand at output names: one line each.
class ConsoleSinkNotes final : public SinkNotes {
  public:
    void InputKept(const std::string& name) override {
        console::PrintError("%s is read by this run: it is not replaced",
                            DisplayName(name).c_str());
    }
    void ExistingKept(const std::string& name) override {
        console::PrintError("%s exists: give -y to replace it", DisplayName(name).c_str());
    }
    void ExistingReplaced(const std::string& name) override {
        console::PrintError("replaced %s", DisplayName(name).c_str());
    }
    void NamedApart(const std::string& stored, const std::string& given) override {
        console::PrintError("%s is kept (sorvik did not write it): the output is %s",
                            DisplayName(stored).c_str(), DisplayName(given).c_str());
    }
};

}  // namespace sorvik
