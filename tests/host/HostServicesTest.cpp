#include "host/HostServices.h"

#include "net/IdExceptionCore.h"

#include "tests/support/BoxRecordingHost.h"

#include <gtest/gtest.h>

namespace {

using BoxRecorder = vyktest::BoxRecordingHost;

template <typename E> std::exception_ptr Thrown(E e) {
    return std::make_exception_ptr(e);
}

} // namespace

TEST(ShowException, ShowsMessagesWithTheTitleAndStopIconAndIgnoresAbort) {
    BoxRecorder host;
    host.ShowException(Thrown(EAbort("quiet")));
    VYK_DECLARE_EXCEPTION(EDerivedAbort, EAbort);
    host.ShowException(Thrown(EDerivedAbort("quiet too")));
    EXPECT_TRUE(host.boxes.empty());

    host.ShowException(Thrown(EIdHTTPProtocolException(404, "HTTP/1.1 404 Not Found", "body")));
    host.ShowException(
        Thrown(EFCreateError("Cannot create file \"C:\\x\\Kalmin.exe\". Permission denied")));
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
