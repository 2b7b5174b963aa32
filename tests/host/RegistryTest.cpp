#include "host/Registry.h"
#include "tests/support/Raised.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct Value {
    std::uint32_t type;
    std::string data;
    bool readFails = false;
};

class FakeKey : public TRegistryKey {
public:
    explicit FakeKey(std::map<std::string, Value> values) : values_(std::move(values)) {}
    std::optional<TRegValueInfo> QueryValueInfo(const std::string& name) override {
        const auto it = values_.find(name);
        if (it == values_.end()) return std::nullopt;
        return TRegValueInfo{it->second.type, static_cast<std::int64_t>(it->second.data.size())};
    }
    std::optional<std::vector<std::uint8_t>> QueryValueData(const std::string& name,
                                                            std::int64_t) override {
        const auto& v = values_.at(name);
        if (v.readFails) return std::nullopt;
        return std::vector<std::uint8_t>(v.data.begin(), v.data.end());
    }

private:
    std::map<std::string, Value> values_;
};

class FakeHive : public TRegistryHive {
public:
    std::unique_ptr<TRegistryKey> OpenKey(TRegRootKey root, const std::string& path,
                                          std::uint32_t access) override {
        opened.push_back(path);
        lastAccess = access;
        if (root != TRegRootKey::rkLocalMachine || !keys.count(path)) return nullptr;
        return std::make_unique<FakeKey>(keys[path]);
    }
    std::map<std::string, std::map<std::string, Value>> keys;
    std::vector<std::string> opened;
    std::uint32_t lastAccess = 0;
};

} // namespace

TEST(TRegistry, OpensAbsoluteAndRelativePathsWithFullAccess) {
    FakeHive hive;
    hive.keys["SOFTWARE\\Tavrolin"] = {};
    hive.keys["SOFTWARE\\Tavrolin\\VYK"] = {};
    TRegistry registry(hive);
    EXPECT_EQ(registry.RootKey(), TRegRootKey::rkCurrentUser);
    EXPECT_FALSE(registry.OpenKey("\\SOFTWARE\\Tavrolin\\VYK", false)); // wrong root
    registry.SetRootKey(TRegRootKey::rkLocalMachine);
    ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Tavrolin", false));
    EXPECT_EQ(hive.lastAccess, 0xF003Fu);
    ASSERT_TRUE(registry.OpenKey("VYK", false));
    EXPECT_EQ(registry.CurrentPath(), "SOFTWARE\\Tavrolin\\VYK");
    // A failed open keeps the current key.
    EXPECT_FALSE(registry.OpenKey("Missing", false));
    EXPECT_EQ(registry.CurrentPath(), "SOFTWARE\\Tavrolin\\VYK");
    registry.SetRootKey(TRegRootKey::rkLocalMachine);
    EXPECT_EQ(registry.CurrentPath(), "");
    EXPECT_EQ(hive.opened.back(), "SOFTWARE\\Tavrolin\\VYK\\Missing");
}

TEST(TRegistry, ReadStringFollowsTypeSizeAndNulRules) {
    FakeHive hive;
    hive.keys["K"] = {
        {"Sz", {rdString, std::string("C:\\VYK\0", 7)}},
        {"Mid", {rdString, std::string("abc\0def\0", 8)}},
        {"NoNul", {rdString, "xyz"}},
        {"Exp", {rdExpandString, std::string("%ProgramFiles%\\VYK\0", 19)}},
        {"Empty", {rdString, ""}},
        {"Dword", {rdInteger, std::string("\x2a\0\0\0", 4)}},
        {"EmptyDword", {rdInteger, ""}},
        {"Broken", {rdString, "abc", true}},
    };
    TRegistry registry(hive);
    registry.SetRootKey(TRegRootKey::rkLocalMachine);
    ASSERT_TRUE(registry.OpenKey("\\K", false));
    EXPECT_EQ(registry.ReadString("Sz"), "C:\\VYK");
    EXPECT_EQ(registry.ReadString("Mid"), "abc");
    EXPECT_EQ(registry.ReadString("NoNul"), "xyz");
    EXPECT_EQ(registry.ReadString("Exp"), "%ProgramFiles%\\VYK");
    EXPECT_EQ(registry.ReadString("Empty"), "");
    EXPECT_EQ(registry.ReadString("Missing"), "");
    EXPECT_EQ(registry.ReadString("EmptyDword"), ""); // no data: no type check
    EXPECT_STREQ(vyktest::Raised<ERegistryException>([&] { registry.ReadString("Dword"); }).what(),
                 "Invalid data type for 'Dword'");
    EXPECT_STREQ(vyktest::Raised<ERegistryException>([&] { registry.ReadString("Broken"); }).what(),
                 "Failed to get data for 'Broken'");
}
