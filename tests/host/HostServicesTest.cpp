#include "host/HostServices.h"

#include "net/IdExceptionCore.h"

#include <gtest/gtest.h>

namespace {

struct Box {
    std::string text, caption;
    std::uint32_t flags;
};

// Only the message box and the title are real; the error display needs no more.
class BoxRecorder : public THostServices {
public:
    TRegistryHive& Registry() override { throw Exception("unused"); }
    bool FileExists(const std::string&) override { return false; }
    std::unique_ptr<TStream> CreateFileStream(const std::string&) override { return nullptr; }
    std::unique_ptr<TStream> LockForReplace(const std::string&) override { return nullptr; }
    void CommitReplacement(const std::string&, const std::string&) override {}
    void RemoveFile(const std::string&) override {}
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

template <typename E> std::exception_ptr Thrown(E e) { return std::make_exception_ptr(e); }

} // namespace

TEST(ShowException, ShowsMessagesWithTheTitleAndStopIconAndIgnoresAbort) {
    BoxRecorder host;
    host.ShowException(Thrown(EAbort("quiet")));
    VYK_DECLARE_EXCEPTION(EDerivedAbort, EAbort);
    host.ShowException(Thrown(EDerivedAbort("quiet too")));
    EXPECT_TRUE(host.boxes.empty());

    host.ShowException(Thrown(EIdHTTPProtocolException(404, "HTTP/1.1 404 Not Found", "body")));
    host.ShowException(Thrown(EFCreateError("Cannot create file \"C:\\x\\Kalmin.exe\". Permission denied")));
    host.ShowException(Thrown(Exception("")));
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(host.boxes[0].text, "HTTP/1.1 404 Not Found.");
    EXPECT_EQ(host.boxes[0].caption, "Vykpatch");
    EXPECT_EQ(host.boxes[0].flags, 16u);
    EXPECT_EQ(host.boxes[1].text, "Cannot create file \"C:\\x\\Kalmin.exe\". Permission denied.");
    EXPECT_EQ(host.boxes[2].text, "");
    EXPECT_EQ(host.cancels, 5);
}

TEST(ShowException, AnythingElseGetsTheLastResortBox) {
    BoxRecorder host;
    host.ShowException(Thrown(std::runtime_error("odd")));
    host.ShowException(std::make_exception_ptr(42));
    ASSERT_EQ(host.boxes.size(), 2u);
    for (const auto& box : host.boxes) {
        EXPECT_EQ(box.caption, "Application Error");
        EXPECT_EQ(box.text.rfind("Exception ", 0), 0u);
        EXPECT_NE(box.text.find(" in module Vykpatch at "), std::string::npos);
    }
}
