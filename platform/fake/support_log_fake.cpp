#include "platform/fake/support_log_fake.h"

namespace trv {

namespace {

class FakeFile : public ISupportLogSystem::File {
public:
    explicit FakeFile(FakeSupportLogSystem& system) : m_system(system) {}
    bool Size(std::uint64_t& size) override {
        size = m_system.file.size();
        return true;
    }
    bool Empty() override {
        m_system.file.clear();
        ++m_system.empties;
        return true;
    }
    bool Append(const std::string& bytes) override {
        m_system.file += bytes;
        return true;
    }

private:
    FakeSupportLogSystem& m_system;
};

}  // namespace

void FakeSupportLogSystem::Switch(std::uint32_t value) {
    registry.Put(kHKeyCurrentUser, kSupportLogKey, kSupportLogValue, kRegDword,
                 {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

std::unique_ptr<ISupportLogSystem::File> FakeSupportLogSystem::Open() {
    if (openFails) return nullptr;
    return std::unique_ptr<File>(new FakeFile(*this));
}

}  // namespace trv
