#include "host/FileReplacement.h"

void RaiseReplacementError(const std::string& shown, const std::string& reason) {
    throw EFCreateError("Cannot create file \"" + shown + "\". " + reason);
}

void RaiseNotRegularFile(const std::string& shown) {
    throw EFNotRegularFile("Cannot create file \"" + shown + "\". Not a regular file");
}
