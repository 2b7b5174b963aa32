#pragma once
// The registry and file services of a Windows program living in a Wine prefix.
// The user-interface operations (dialog, message boxes) are left to a subclass.

#include "host/HostServices.h"
#include "host/linux/WinePrefix.h"
#include "host/linux/WineRegistryHive.h"

class TWineHostServices : public THostServices {
public:
    // moduleFileName is the program file's host path; its name gives the title.
    TWineHostServices(std::string prefixRoot, std::string moduleFileName);

    const TWinePrefix& Prefix() const { return prefix_; }

    TRegistryHive& Registry() override { return hive_; }
    bool FileExists(const std::string& path) override;
    std::unique_ptr<TReplacement> BeginReplacement(const std::string& path) override;
    std::unique_ptr<TStream> OpenToRead(const std::string& path) override;
    std::string ApplicationTitle() override;

private:
    TWinePrefix prefix_;
    TWineRegistryHive hive_;
    std::string moduleFileName_;
};
