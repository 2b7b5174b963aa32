#include "app/qt/MainWindow.h"

#include "app/qt/QtHostServices.h"

#include "tests/app/WineUpdate.h"
#include "tests/host/TempPrefix.h"
#include "tests/support/BoxRecordingHost.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SignedPrograms.h"
#include "tests/support/TLSServers.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>

namespace {

using NoHost = vyktest::BoxRecordingHost;

struct MainWindowTest : ::testing::Test {
    static void SetUpTestSuite() { StartApplication(); }
    static void StartApplication() {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    }
    void SetUp() override {
        form.Button1.OnClick = [this](void*) { ++clicks; };
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    NoHost host;
    TForm1 form{host, [](const std::string&, TStream&, TBackgroundWork&) {}};
    TMainWindow window{form, host};
    int clicks = 0;
};

} // namespace

TEST_F(MainWindowTest, FixedDialogFrameFromTheStoredDesign) {
    EXPECT_EQ(window.windowTitle(), "Aktualizace VYK");
    EXPECT_EQ(window.size(), QSize(238, 42));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.Button1()->geometry(), QRect(8, 8, 225, 25));
    EXPECT_EQ(window.Button1()->text(), "Spustit aktualizaci");
    EXPECT_TRUE(window.Button1()->hasFocus());
}

TEST_F(MainWindowTest, PlainEnterAndSpacePressTheButtonEscDoesNothing) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_EQ(focused, window.Button1());
    QTest::keyClick(focused, Qt::Key_Return);
    QTest::keyClick(focused, Qt::Key_Enter);
    QTest::keyClick(focused, Qt::Key_Space);
    EXPECT_EQ(clicks, 3);
    QTest::keyClick(focused, Qt::Key_Escape);
    QTest::keyClick(focused, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClick(focused, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks, 3);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, AnErrorFromTheClickGoesToTheErrorDisplayAndTheWindowStays) {
    form.Button1.OnClick = [](void*) { throw Exception("HTTP/1.1 404 Not Found"); };
    QTest::mouseClick(window.Button1(), Qt::LeftButton);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "HTTP/1.1 404 Not Found.");
    EXPECT_TRUE(window.isVisible());
}

TEST(QtNameFilters, TurnsDescriptionPatternPairsIntoQtFilters) {
    EXPECT_EQ(QtNameFilters("soubor *.ini|*.ini"), QStringList{"soubor *.ini (*.ini)"});
    EXPECT_EQ(QtNameFilters("a|*.a;*.b|b|*.c"), (QStringList{"a (*.a *.b)", "b (*.c)"}));
}

// The download runs in the background: while the body comes over about
// three seconds the event loop runs, the cursor is the busy one, and a
// click, Enter or a close request change nothing, then or after (a press
// does not even push the button); the box that ends it is today's. Offscreen, no desktop pings the
// window: that its event loop runs is what answers one.
TEST(MainWindowWhileDownloading, StaysAliveAndDropsInput) {
    MainWindowTest::StartApplication();
    const std::string body = "MZ" + std::string(298, 'n');
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 300\r\n\r\n";
    const struct {
        const char* what;
        std::string sent, box, after;
    } rows[] = {
        {"complete", body, "Aktualizace dokončena.", body},
        {"cut short", body.substr(0, 150), "Connection Closed Gracefully.", "MZ old"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        vyktest::TempPrefix prefix;
        prefix.Write("system.reg",
                     "[Software\\\\Tavrolin\\\\VYK]\n\"InstallPath\"=\"C:\\\\VYK\"\n");
        prefix.Write("drive_c/VYK/Kalmin.exe", "MZ old");
        vyktest::ScriptedServer server(
            vyktest::Script().ReceiveHead().Send(head).Send(row.sent, 50, 500).Close());
        vyktest::WineUpdate host(prefix.root, "VYKPatch");
        const std::string url = server.Url("/instal/Kalmin.exe");
        TForm1 form(host, [&url](const std::string&, TStream& stream, TBackgroundWork& work) {
            DownloadToStream(url, stream, work);
        });
        TMainWindow window(form, host);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        int probes = 0;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            ++probes;
            EXPECT_EQ(window.cursor().shape(), Qt::BusyCursor);
            QTest::mousePress(window.Button1(), Qt::LeftButton);
            EXPECT_FALSE(window.Button1()->isDown());
            QTest::mouseRelease(window.Button1(), Qt::LeftButton);
            QTest::mouseClick(window.Button1(), Qt::LeftButton);
            QTest::keyClick(window.Button1(), Qt::Key_Return);
            window.Button1()->click();
            window.close();
            EXPECT_TRUE(window.isVisible());
            EXPECT_TRUE(host.boxes.empty());
        });
        probe.start(250);
        QTest::keyClick(window.Button1(), Qt::Key_Space);
        probe.stop();
        EXPECT_GE(probes, 3);
        EXPECT_EQ(host.boxes, std::vector<std::string>{row.box});
        EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
        QCoreApplication::processEvents();
        EXPECT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(server.Connections(), 1);
        EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), row.after);
    }
}

// The whole update from the window over https, the test CA trusted through
// SSL_CERT_FILE as by any OpenSSL program, and through the proxy that
// http_proxy or https_proxy names, with its credentials; what reached the
// proxy is in its log.
TEST(MainWindowDownloads, OverHttpsVerifiedAndThroughTheEnvironmentsProxy) {
    VYK_REQUIRE_TLS_SERVERS();
    MainWindowTest::StartApplication();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    ::setenv("SSL_CERT_FILE", s.CA().c_str(), 1);
    const std::string old = "MZ old Kalmin.exe";
    const std::string fetched = "MZ" + std::string(70000, 'k') + "end";
    const std::string http = s.Url("plain", "/instal/Kalmin.exe", "127.0.0.1", "http");
    const struct {
        std::string url;
        const char* variable; // set to proxy's address, with user information
        const char* proxy;
        const char* userInfo;
        std::string logged; // in the proxy's new log lines
        std::string box;
        std::string after;
    } rows[] = {
        {s.Url("good"), "", "", "", "", "Aktualizace dokončena.", fetched},
        {s.Url("unknown"), "", "", "", "",
         "The certificate of 127.0.0.1 was not accepted: unknown issuer.", old},
        {http, "http_proxy", "proxy", "", "): GET " + http + " HTTP/1.1", "Aktualizace dokončena.",
         fetched},
        {s.Url("good"), "https_proxy", "proxy-auth", "us%65r:secret@",
         "): CONNECT " + s.Address("good") + " HTTP/1.1", "Aktualizace dokončena.", fetched},
        {http, "http_proxy", "proxy-auth", "", "): GET " + http + " HTTP/1.1",
         "HTTP/1.0 407 Proxy Authentication Required.", old},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url + " " + row.variable + " " + row.proxy);
        vyktest::TempPrefix prefix;
        prefix.Write("system.reg",
                     "[Software\\\\Tavrolin\\\\VYK]\n\"InstallPath\"=\"C:\\\\VYK\"\n");
        prefix.Write("drive_c/VYK/Kalmin.exe", old);
        vyktest::WineUpdate host(prefix.root, "VYKPatch");
        const std::size_t logged = *row.proxy ? s.Log(row.proxy).size() : 0;
        if (*row.variable)
            ::setenv(row.variable,
                     ("http://" + std::string(row.userInfo) + s.Address(row.proxy)).c_str(), 1);
        TForm1 form(host, [&row](const std::string&, TStream& stream, TBackgroundWork& work) {
            DownloadToStream(row.url, stream, work);
        });
        TMainWindow window(form, host);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(window.Button1(), Qt::Key_Return);
        if (*row.variable) ::unsetenv(row.variable);
        EXPECT_EQ(host.boxes, std::vector<std::string>{row.box});
        EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"), row.after);
        if (*row.proxy) {
            EXPECT_NE(s.Log(row.proxy).substr(logged).find(row.logged), std::string::npos);
        }
    }
    ::unsetenv("SSL_CERT_FILE");
}

// Only the publisher's program replaces Kalmin.exe: each row of the signature
// table through the window, the code-signing CA trusted through SSL_CERT_FILE.
TEST(MainWindowSignatures, OnlyThePublishersProgramReplacesKalmin) {
    VYK_REQUIRE_TLS_SERVERS();
    MainWindowTest::StartApplication();
    ::setenv("SSL_CERT_FILE", vyktest::TLSServers::Get().Signed("codesign-ca.pem").c_str(), 1);
    for (const vyktest::SignatureRow& row : vyktest::SignatureRows()) {
        SCOPED_TRACE(vyktest::RowName(row));
        vyktest::TempPrefix prefix;
        prefix.Write("system.reg",
                     "[Software\\\\Tavrolin\\\\VYK]\n\"InstallPath\"=\"C:\\\\VYK\"\n");
        prefix.Write("drive_c/VYK/Kalmin.exe", vyktest::SignedProgram(row.installed));
        vyktest::WineUpdate host(prefix.root, "VYKPatch");
        const std::string url = vyktest::SignedProgramUrl(row);
        TForm1 form(host, [&url](const std::string&, TStream& stream, TBackgroundWork& work) {
            DownloadToStream(url, stream, work);
        });
        if (row.pin) form.PublisherRule = TPublisherRule({vyktest::PinOf(row.pin)});
        TMainWindow window(form, host);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(window.Button1(), Qt::Key_Return);
        EXPECT_EQ(host.boxes, std::vector<std::string>{row.refusal ? vyktest::kNotThePublishers
                                                                   : "Aktualizace dokončena."});
        EXPECT_EQ(prefix.Read("drive_c/VYK/Kalmin.exe"),
                  vyktest::SignedProgram(row.refusal ? row.installed : row.download));
        EXPECT_FALSE(std::filesystem::exists(prefix.root + "/drive_c/VYK/Kalmin.exe.part"));
    }
    ::unsetenv("SSL_CERT_FILE");
}
