#include "host/Registry.h"

#include <algorithm>

TRegistry::TRegistry(TRegistryHive& hive) : hive_(hive) {}

void TRegistry::SetRootKey(TRegRootKey root) {
    CloseKey();
    root_ = root;
}

void TRegistry::CloseKey() {
    current_.reset();
    currentPath_.clear();
}

bool TRegistry::OpenKey(const std::string& key, bool /*canCreate*/) {
    std::string path;
    if (!key.empty() && key[0] == '\\')
        path = key.substr(1);
    else if (current_ && !key.empty())
        path = currentPath_ + "\\" + key;
    else if (current_)
        path = currentPath_;
    else
        path = key;
    auto opened = hive_.OpenKey(root_, path, Access);
    if (!opened) return false;
    current_ = std::move(opened);
    currentPath_ = path;
    return true;
}

std::string TRegistry::ReadString(const std::string& name) {
    if (!current_) return {};
    const auto info = current_->QueryValueInfo(name);
    if (!info || info->Size <= 0) return {};
    const auto data = current_->QueryValueData(name, info->Size);
    if (!data) throw ERegistryException("Failed to get data for '" + name + "'");
    if (info->Type != rdString && info->Type != rdExpandString)
        throw ERegistryException("Invalid data type for '" + name + "'");
    const auto end = std::find(data->begin(), data->end(), std::uint8_t{0});
    return std::string(data->begin(), end);
}
