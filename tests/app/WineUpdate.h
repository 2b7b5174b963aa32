#pragma once
// Host services over the real files of a Wine prefix, with message boxes
// recorded instead of shown and the open dialog cancelled.

#include "host/linux/WineHostServices.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vyktest {

class WineUpdate : public TWineHostServices {
public:
    using TWineHostServices::TWineHostServices;
    bool ExecuteOpenDialog(TOpenDialog&) override { return false; }
    int ShowMessageBox(const std::string& text, const std::string&, std::uint32_t) override {
        boxes.push_back(text);
        return 1;
    }
    std::vector<std::string> boxes;
};

} // namespace vyktest
