#pragma once
// Host services for tests of the error display and the window: message boxes
// are recorded, the title is fixed, and every other service is inert.

#include "host/HostServices.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vyktest {

struct Box {
    std::string text, caption;
    std::uint32_t flags;
};

class BoxRecordingHost : public THostServices {
public:
    TRegistryHive& Registry() override { throw Exception("unused"); }
    bool FileExists(const std::string&) override { return false; }
    std::unique_ptr<TReplacement> BeginReplacement(const std::string&) override { return nullptr; }
    std::unique_ptr<TStream> OpenToRead(const std::string&) override {
        throw EFOpenError("unused");
    }
    bool ExecuteOpenDialog(TOpenDialog&) override { return false; }
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       std::uint32_t flags) override {
        boxes.push_back({text, caption, flags});
        return 1;
    }
    std::string ApplicationTitle() override { return "Vykpatch"; }
    void CancelMode() override { ++cancels; }

    std::vector<Box> boxes;
    int cancels = 0;
};

} // namespace vyktest
