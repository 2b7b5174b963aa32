#pragma once
// Host services of the Linux program: registry and files from the Wine prefix,
// the dialog and message boxes from Qt Widgets.

#include "host/linux/WineHostServices.h"

#include <QStringList>

class TQtHostServices : public TWineHostServices {
public:
    using TWineHostServices::TWineHostServices;

    bool ExecuteOpenDialog(TOpenDialog& dialog) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       std::uint32_t flags) override;
    void CancelMode() override;
};

// "desc|pattern|desc|pattern" as Qt name filters "desc (pattern)".
QStringList QtNameFilters(const std::string& filter);
