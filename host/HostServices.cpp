#include "host/HostServices.h"

#include "host/SysUtils.h"

#include <typeinfo>

void THostServices::RunInBackground(const TBackgroundTask& task) {
    if (runner_) return runner_->RunInBackground(task);
    TBackgroundWork here;
    task(here);
}

void THostServices::LastResortBox(const std::string& className) {
    // The message fields stay empty and no address is known for a thrown C++ object.
    ShowMessageBox(Format("Exception %s in module %s at %08X.\r\n%s%s\r\n", className.c_str(),
                          ApplicationTitle().c_str(), 0u, "", ""),
                   "Application Error", mbOk | mbIconStop);
}

void THostServices::ShowException(std::exception_ptr error) {
    if (!error) return;
    try {
        CancelMode();
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
        } catch (const Exception& e) {
            ShowMessageBox(ErrorDisplayText(e.Message()), ApplicationTitle(), mbOk | mbIconStop);
        } catch (const std::exception& e) {
            LastResortBox(typeid(e).name());
        } catch (...) {
            LastResortBox("unknown");
        }
    } catch (...) {
        // The display itself failed; nothing is left to show it with.
    }
}
