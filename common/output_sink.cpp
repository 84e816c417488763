#include "common/output_sink.h"

#include <algorithm>

namespace sorvik {

std::string OutputSink::Claim(const std::string& name) {
    std::optional<std::string> apart;
    for (;;) {
        const std::string claimed = names_.Claim(name);
        const std::optional<platform::StoredFile> stored =
            existing_ == ExistingFiles::Replace ? Find(claimed) : std::nullopt;
        // Only a name that differs in letter case alone tells of a file that no run wrote here.
        if (!stored || stored->name == claimed ||
            platform::CompareNoCase(stored->name.c_str(), claimed.c_str()) != 0) {
            if (apart && notes_ != nullptr) notes_->NamedApart(*apart, claimed);
            return claimed;
        }
        if (!apart) apart = stored->name;
    }
}

void OutputSink::ProtectInput(const std::optional<platform::FileIdentity>& input) {
    if (input) inputs_.push_back(*input);
}

bool OutputSink::MayCreate(const std::string& name) {
    if (existing_ != ExistingFiles::Keep || !Find(name)) return true;
    if (notes_ != nullptr) notes_->ExistingKept(name);
    return false;
}

bool OutputSink::TakeName(const std::string& name, const std::function<bool(bool)>& rename) {
    const std::optional<platform::StoredFile> stored = Find(name);
    if (stored && std::find(inputs_.begin(), inputs_.end(), stored->identity) != inputs_.end()) {
        if (notes_ != nullptr) notes_->InputKept(stored->name);
        return false;
    }
    if (stored && existing_ == ExistingFiles::Keep) {
        if (notes_ != nullptr) notes_->ExistingKept(stored->name);
        return false;
    }
    if (!rename(existing_ != ExistingFiles::Keep)) return false;
    if (stored && existing_ == ExistingFiles::ReplaceAndTell && notes_ != nullptr) {
        notes_->ExistingReplaced(stored->name);
    }
    return true;
}

}  // namespace sorvik
