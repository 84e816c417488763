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

class BoundedMemorySink::File final : public OutputFile {
  public:
    explicit File(BoundedMemorySink& sink) : sink_(sink) {}
    bool Write(const void* bytes, std::size_t byteCount) override {
        std::vector<std::uint8_t>& kept = sink_.bytes_;
        if (byteCount > sink_.limit_ - kept.size()) return false;
        if (kept.size() + byteCount > kept.capacity()) {  // never more than the limit, reserved
            kept.reserve(
                std::min(sink_.limit_, std::max(2 * kept.capacity(), kept.size() + byteCount)));
        }
        const auto* begin = static_cast<const std::uint8_t*>(bytes);
        kept.insert(kept.end(), begin, begin + byteCount);
        return true;
    }
    bool Rewrite(std::uint64_t offset, const void* bytes, std::size_t byteCount) override {
        if (offset > sink_.bytes_.size() || byteCount > sink_.bytes_.size() - offset) return false;
        std::copy_n(static_cast<const std::uint8_t*>(bytes), byteCount,
                    sink_.bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
        return true;
    }
    bool Commit() override { return sink_.committed_ = true; }

  private:
    BoundedMemorySink& sink_;
};

std::unique_ptr<OutputFile> BoundedMemorySink::Create(const std::string&) {
    bytes_.clear();
    committed_ = false;
    return std::make_unique<File>(*this);
}

}  // namespace sorvik
