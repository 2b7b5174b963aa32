#include "app/win32/TaskbarProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what the button is shown, as "state" or "state done/total".
class RecordingTaskbar final : public ITaskbarList3 {
public:
    explicit RecordingTaskbar(std::vector<std::string>& shown) : shown_(shown) {}

    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
        value_ = " " + std::to_string(done) + "/" + std::to_string(total);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
        const char* names[] = {"none", "indeterminate", "normal", "", "error"};
        shown_.push_back(names[state] + (state == TBPF_INDETERMINATE ? "" : value_));
        value_.clear();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    // Nothing else is asked of it.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return E_NOTIMPL; }

private:
    std::vector<std::string>& shown_;
    std::string value_;
    ULONG references_ = 1;
};

} // namespace

// The bar follows the download, and a taskbar that comes back after the
// shell restarted is shown what it missed.
TEST(TaskbarProgress, FollowsTheDownloadAndComesBackWithTheShell) {
    std::vector<std::string> first, second, third;
    TTaskbarProgress progress(nullptr, new RecordingTaskbar(first));
    progress.Show(0, -1);
    progress.Show(50, 200);
    progress.Show(300, 200); // more than announced: full, not past it
    progress.Failed();
    progress.Clear();
    progress.Clear();
    progress.Show(7, -1);
    progress.Failed();
    EXPECT_EQ(first,
              (std::vector<std::string>{"indeterminate", "normal 50/200", "normal 200/200",
                                        "error 200/200", "none", "indeterminate", "error 1/1"}));
    progress.Reset(new RecordingTaskbar(second));
    EXPECT_EQ(second, std::vector<std::string>{"error 1/1"});
    progress.Clear();
    progress.Reset(new RecordingTaskbar(third));
    EXPECT_TRUE(third.empty());
}
