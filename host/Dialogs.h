#pragma once
// The file-open dialog's settings and result. The dialog itself is run by the
// host services (THostServices::ExecuteOpenDialog); this object only carries
// what the caller set and what the user chose, and lives as long as its owner.

#include <cstdint>
#include <string>

// Options of the open dialog (the values of the platform's flags).
constexpr std::uint32_t ofHideReadOnly = 0x00000004;
constexpr std::uint32_t ofEnableSizing = 0x00800000;

class TOpenDialog {
public:
    std::string DefaultExt;
    // Pairs of description and pattern separated by "|": "soubor *.ini|*.ini".
    std::string Filter;
    int FilterIndex = 1;
    std::string InitialDir;
    std::string Title;
    std::uint32_t Options = ofHideReadOnly | ofEnableSizing;
    // Empty until a run returned a choice; a cancelled run keeps the old name.
    // Pre-fills the name field of the next run.
    std::string FileName;
};
