// Drives VYKPatch.exe as a user would: finds its window, presses the button,
// reads and dismisses each box, and checks what happened to the files. The
// program is built from its own sources with the download URL taken from the
// environment, pointing at a scripted server on 127.0.0.1; registry values and
// directories are made in the Wine prefix the test runs in.

#include "host/windows/WideText.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SignedPrograms.h"
#include "tests/support/TLSServers.h"
#include "tests/support/windows/EmbeddedManifest.h"
#include "tests/support/windows/InternetOptions.h"
#include "tests/support/windows/TrustedRoot.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

namespace fs = std::filesystem;
using vyktest::Script;
using vyktest::ScriptedServer;

namespace {

const std::string kDefaultDir = "c:\\program files\\tavrolin\\vyk";
const std::string kOldProgram = "MZ old program";
const std::string kNewProgram = "MZ new program, some bytes longer";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string WindowText(HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return WideToUtf8(text);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    return name;
}

// Top-level windows of a process with the given class, by default the visible ones.
std::vector<HWND> WindowsOf(DWORD process, const std::wstring& className, bool visibleOnly = true) {
    struct Search {
        DWORD process;
        std::wstring className;
        bool visibleOnly;
        std::vector<HWND> found;
    } search{process, className, visibleOnly, {}};
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == s->process && (!s->visibleOnly || ::IsWindowVisible(window)) &&
                ClassOf(window) == s->className)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <typename Probe> auto WaitFor(Probe probe, int timeoutMs = 20000) -> decltype(probe()) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto result = probe()) return result;
        if (std::chrono::steady_clock::now() > until) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

struct ShownBox {
    HWND handle = nullptr;
    std::string title;
    std::string text;
};

// The message text is the box's static control that carries text (the other holds the icon).
std::string BoxText(HWND box) {
    std::string text;
    ::EnumChildWindows(
        box,
        [](HWND child, LPARAM data) -> BOOL {
            auto* out = reinterpret_cast<std::string*>(data);
            if (ClassOf(child) == L"Static" && out->empty()) *out = WindowText(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

void Press(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

// The registry value the installer leaves, or none: the key is removed from both
// views. VYK's installer is a 32-bit program and writes the 32-bit view.
void SetInstallPath(const std::optional<std::string>& directory, REGSAM view = KEY_WOW64_32KEY) {
    for (const REGSAM each : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY software = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | each, &software) ==
            ERROR_SUCCESS) {
            ::RegDeleteTreeW(software, L"Tavrolin");
            ::RegCloseKey(software);
        }
    }
    if (!directory) return;
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tavrolin\\VYK", 0, nullptr, 0,
                                KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring value = Utf8ToWide(*directory);
    ::RegSetValueExW(key, L"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

// A running VYKPatch.exe whose download goes to the scripted server.
class Updater {
public:
    Updater(const fs::path& directory, int port, int showCommand = -1)
        : Updater(directory, "http://127.0.0.1:" + std::to_string(port) + "/instal/Kalmin.exe",
                  showCommand) {}

    Updater(const fs::path& directory, const std::string& url, int showCommand = -1) {
        const fs::path program = fs::path(Utf8ToWide(VYK_PATCH_EXE));
        fs::create_directories(directory);
        ::SetEnvironmentVariableW(L"VYK_TEST_DOWNLOAD_URL", Utf8ToWide(url).c_str());

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (showCommand >= 0) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = static_cast<WORD>(showCommand);
        }
        std::wstring command = L"\"" + program.wstring() + L"\"";
        if (!::CreateProcessW(program.wstring().c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, directory.wstring().c_str(), &startup, &process_))
            throw std::runtime_error("VYKPatch.exe cannot be started");
        ::WaitForInputIdle(process_.hProcess, 20000);
        // A minimised start hides the main window with the application.
        const bool visibleOnly = showCommand != SW_SHOWMINNOACTIVE;
        Main = WaitFor([&]() -> HWND {
            const auto found = WindowsOf(process_.dwProcessId, L"TForm1", visibleOnly);
            return found.empty() ? nullptr : found.front();
        });
        if (!Main) throw std::runtime_error("the main window did not appear");
        Button = ::FindWindowExW(Main, nullptr, L"Button", nullptr);
    }

    ~Updater() {
        if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.hProcess, 99);
            ::WaitForSingleObject(process_.hProcess, 5000);
        }
        ::CloseHandle(process_.hThread);
        ::CloseHandle(process_.hProcess);
    }

    DWORD ProcessId() const { return process_.dwProcessId; }
    DWORD ThreadId() const { return process_.dwThreadId; }

    // The next box or dialog the program shows.
    ShownBox NextBox() {
        const HWND handle = WaitFor([&]() -> HWND {
            const auto found = WindowsOf(process_.dwProcessId, L"#32770");
            return found.empty() ? nullptr : found.front();
        });
        if (!handle) return {};
        // Let the box finish laying itself out before it is read.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return ShownBox{handle, WindowText(handle), BoxText(handle)};
    }

    // Presses the button as a click does; the box or dialog that follows.
    ShownBox Click() {
        ::PostMessageW(Button, BM_CLICK, 0, 0);
        return NextBox();
    }

    // Dismisses a box and waits until it has gone.
    void Dismiss(const ShownBox& box, int id = IDOK) {
        Press(box.handle, id);
        WaitFor([&] { return !::IsWindow(box.handle) || !::IsWindowVisible(box.handle); });
    }

    // Closes the window as its close button does; the process's exit code.
    std::optional<DWORD> Close() {
        ::PostMessageW(Main, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(process_.hProcess, 20000) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        ::GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    HWND Main = nullptr;
    HWND Button = nullptr;

private:
    PROCESS_INFORMATION process_{};
};

std::string OkReply(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class UpdaterUITest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
            GTEST_SKIP() << "no display to show windows on";
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        work = fs::path(temp) / ("vykui-" + std::to_string(::GetCurrentProcessId()));
        fs::remove_all(work);
        fs::remove_all(fs::path(Utf8ToWide(kDefaultDir)));
    }
    void TearDown() override {
        SetInstallPath(std::nullopt);
        std::error_code ignored;
        fs::remove_all(work, ignored);
        fs::remove_all(fs::path(Utf8ToWide(kDefaultDir)), ignored);
    }

    fs::path work;
};

} // namespace

TEST_F(UpdaterUITest, WindowShowsTheDesignAndClosesWithExitCodeZero) {
    ScriptedServer server(Script().Stall());
    Updater updater(work / "app", server.Port());
    EXPECT_EQ(WindowText(updater.Main), "Aktualizace VYK");
    const LONG style = ::GetWindowLongW(updater.Main, GWL_STYLE);
    const LONG exStyle = ::GetWindowLongW(updater.Main, GWL_EXSTYLE);
    EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU));
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME); // no caption icon
    RECT client{};
    ::GetClientRect(updater.Main, &client);
    const HDC screen = ::GetDC(nullptr);
    const int pixelsPerInch = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    if (pixelsPerInch == 96) {
        EXPECT_EQ(client.right, 238);
        EXPECT_EQ(client.bottom, 42);
    }

    // The hidden application window owns it and carries the title.
    const HWND owner = ::GetWindow(updater.Main, GW_OWNER);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(ClassOf(owner), L"TApplication");
    EXPECT_EQ(WindowText(owner), "Vykpatch");

    EXPECT_EQ(WindowText(updater.Button), "Spustit aktualizaci");
    EXPECT_TRUE(::GetWindowLongW(updater.Button, GWL_STYLE) & BS_DEFPUSHBUTTON);
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    ASSERT_TRUE(::GetGUIThreadInfo(updater.ThreadId(), &thread));
    EXPECT_EQ(thread.hwndFocus, updater.Button);

    // Esc is no cancel button, and Enter with Shift, Ctrl or Alt held is no
    // press: nothing happens, and nothing was touched at start-up. The held
    // key is set in the program's key state, shared with this thread.
    ASSERT_TRUE(::AttachThreadInput(::GetCurrentThreadId(), updater.ThreadId(), TRUE));
    for (const int modifier : {0, VK_SHIFT, VK_CONTROL, VK_MENU}) {
        BYTE keys[256] = {};
        if (modifier) keys[modifier] = 0x80;
        ASSERT_TRUE(::SetKeyboardState(keys));
        const WPARAM key = modifier ? VK_RETURN : VK_ESCAPE;
        ::PostMessageW(updater.Button, WM_KEYDOWN, key, 0x00000001);
        ::PostMessageW(updater.Button, WM_KEYUP, key, 0xC0000001);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(WindowsOf(updater.ProcessId(), L"#32770").empty()) << "modifier " << modifier;
    }
    const BYTE noKeys[256] = {};
    ::SetKeyboardState(const_cast<BYTE*>(noKeys));
    ::AttachThreadInput(::GetCurrentThreadId(), updater.ThreadId(), FALSE);
    EXPECT_EQ(server.Connections(), 0);

    EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
}

TEST_F(UpdaterUITest, StartUpShowStateIsHonoured) {
    ScriptedServer server(Script().Stall());
    {
        Updater maximised(work / "app", server.Port(), SW_SHOWMAXIMIZED);
        EXPECT_TRUE(::IsZoomed(maximised.Main));
        EXPECT_EQ(maximised.Close(), std::optional<DWORD>(0));
    }
    // Minimised, the taskbar button is the application window's: restoring it
    // brings the main window back, active and with the button focused.
    Updater minimised(work / "app", server.Port(), SW_SHOWMINNOACTIVE);
    const HWND application = ::GetWindow(minimised.Main, GW_OWNER);
    EXPECT_TRUE(::IsIconic(application));
    EXPECT_FALSE(::IsWindowVisible(minimised.Main));
    for (int round = 0; round < 2; ++round) {
        ::PostMessageW(application, WM_SYSCOMMAND, SC_RESTORE, 0);
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        EXPECT_TRUE(WaitFor([&] {
            return ::IsWindowVisible(minimised.Main) && !::IsIconic(application) &&
                   !::IsIconic(minimised.Main) &&
                   ::GetGUIThreadInfo(minimised.ThreadId(), &thread) &&
                   thread.hwndActive == minimised.Main && thread.hwndFocus == minimised.Button;
        })) << "round "
            << round;
        // Minimising from the taskbar takes the main window along.
        ::PostMessageW(application, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(WaitFor([&] { return ::IsIconic(application); }));
        EXPECT_FALSE(::IsWindowVisible(minimised.Main));
    }
    EXPECT_EQ(minimised.Close(), std::optional<DWORD>(0));
}

TEST_F(UpdaterUITest, RegisteredDirectoryIsUpdatedAfterSpaceIsPressed) {
    const fs::path installed = work / "installed";
    WriteFile(installed / "Kalmin.exe", kOldProgram);
    SetInstallPath(WideToUtf8(installed.wstring()));
    ScriptedServer server(Script().ReceiveHead().Send(OkReply(kNewProgram)).Close());
    Updater updater(work / "app", server.Port());

    ::PostMessageW(updater.Button, WM_KEYDOWN, VK_SPACE, 0x00390001);
    ::PostMessageW(updater.Button, WM_KEYUP, VK_SPACE, 0xC0390001);
    const ShownBox done = updater.NextBox();
    EXPECT_EQ(done.title, "Informace");
    EXPECT_EQ(done.text, "Aktualizace dokončena.");
    updater.Dismiss(done);

    EXPECT_EQ(ReadFile(installed / "Kalmin.exe"), kNewProgram);
    EXPECT_EQ(server.Received(0).rfind("GET /instal/Kalmin.exe HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
}

TEST_F(UpdaterUITest, DefaultDirectoryShowsA404AndStaysOpenForAnotherAttempt) {
    SetInstallPath(std::nullopt);
    const fs::path installed = fs::path(Utf8ToWide(kDefaultDir));
    WriteFile(installed / "Kalmin.exe", kOldProgram);
    ScriptedServer server({Script()
                               .ReceiveHead()
                               .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!")
                               .Close(),
                           Script().ReceiveHead().Send(OkReply(kNewProgram)).Close()});
    Updater updater(work / "app", server.Port());

    // Enter presses the focused button.
    ::PostMessageW(updater.Button, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ::PostMessageW(updater.Button, WM_KEYUP, VK_RETURN, 0xC01C0001);
    const ShownBox error = updater.NextBox();
    EXPECT_EQ(error.title, "Vykpatch");
    EXPECT_EQ(error.text, "HTTP/1.1 404 Not Found.");
    updater.Dismiss(error);
    EXPECT_EQ(ReadFile(installed / "Kalmin.exe"), kOldProgram);
    EXPECT_TRUE(::IsWindowVisible(updater.Main));

    const ShownBox done = updater.Click();
    EXPECT_EQ(done.text, "Aktualizace dokončena.");
    updater.Dismiss(done);
    EXPECT_EQ(ReadFile(installed / "Kalmin.exe"), kNewProgram);
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
}

TEST_F(UpdaterUITest, NoInstallationFoundAsksForTheFileAndCancelStops) {
    // A value in the 64-bit view only is not the installer's: the 32-bit
    // program being replaced never saw it either.
    const fs::path elsewhere = work / "elsewhere";
    WriteFile(elsewhere / "Kalmin.exe", kOldProgram);
    SetInstallPath(WideToUtf8(elsewhere.wstring()), KEY_WOW64_64KEY);
    ScriptedServer server(Script().Stall());
    Updater updater(work / "app", server.Port());

    const ShownBox warning = updater.Click();
    EXPECT_EQ(warning.title, "Upozornění");
    EXPECT_EQ(warning.text,
              "VYK nelze nalézt automaticky. Vyberte umístění ručně a vyberte soubor tesmir.ini.");
    updater.Dismiss(warning);

    const ShownBox dialog = updater.NextBox();
    EXPECT_EQ(dialog.title, "Najděte soubor tesmir.ini");
    // Centred across the monitor, one third of the free height down.
    RECT frame{};
    ::GetWindowRect(dialog.handle, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(dialog.handle, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& m = monitor.rcMonitor;
    EXPECT_NEAR(frame.top - m.top, ((m.bottom - m.top) - (frame.bottom - frame.top)) / 3, 1);
    EXPECT_NEAR(frame.left - m.left, ((m.right - m.left) - (frame.right - frame.left)) / 2, 1);
    EXPECT_FALSE(::IsWindowEnabled(updater.Main)); // the dialog is modal to the program
    updater.Dismiss(dialog, IDCANCEL);

    const ShownBox cancelled = updater.NextBox();
    EXPECT_EQ(cancelled.title, "Informace");
    EXPECT_EQ(cancelled.text, "Aktualizace přerušena uživatelem.");
    updater.Dismiss(cancelled);
    EXPECT_TRUE(::IsWindowEnabled(updater.Main));
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(ReadFile(elsewhere / "Kalmin.exe"), kOldProgram);
    EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
}

// The download runs in the background: the window answers the system while
// the body comes over about eight seconds, and a click, Enter or a close
// request meanwhile change nothing, neither then nor after; a mouse press
// does not even push the button. The box that ends it is today's; an ending
// session stops it and leaves Kalmin.exe as it was, and one called off
// leaves the stop's error to read.
// The taskbar button and the cursor are not seen from here: Wine draws no
// taskbar, and the cursor is another process's (TTaskbarProgress has its own
// test).
TEST_F(UpdaterUITest, StaysAliveWhileItDownloadsAndDropsInput) {
    const fs::path installed = work / "installed";
    SetInstallPath(WideToUtf8(installed.wstring()));
    const std::string body = "MZ" + std::string(798, 'n');
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 800\r\n\r\n";
    const Script whole = Script().ReceiveHead().Send(head).Send(body, 100, 1000).Close();
    enum Session { kGoesOn, kEnds, kCalledOff };
    const struct {
        const char* what;
        Script script;
        Session session;
        std::string title, text, after;
    } rows[] = {
        {"complete", whole, kGoesOn, "Informace", "Aktualizace dokončena.", body},
        {"cut short",
         Script().ReceiveHead().Send(head).Send(body.substr(0, 400), 100, 1000).Close(), kGoesOn,
         "Vykpatch", "Connection Closed Gracefully.", kOldProgram},
        {"session ends", whole, kEnds, "", "", kOldProgram},
        {"session called off", whole, kCalledOff, "Vykpatch", "Transfer aborted.", kOldProgram},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(installed / "Kalmin.exe", kOldProgram);
        ScriptedServer server(row.script);
        std::optional<Updater> running(std::in_place, work / "app", server.Port());
        Updater& updater = *running;
        ::PostMessageW(updater.Button, BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitFor([&] { return server.Connections() == 1; }));
        for (int probe = 0; probe < 3; ++probe) {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            DWORD_PTR result = 0;
            EXPECT_NE(
                ::SendMessageTimeoutW(updater.Main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result),
                0);
            EXPECT_FALSE(::IsHungAppWindow(updater.Main));
            ::PostMessageW(updater.Button, BM_CLICK, 0, 0);
            ::PostMessageW(updater.Button, WM_KEYDOWN, VK_RETURN, 0x001C0001);
            ::PostMessageW(updater.Button, WM_KEYUP, VK_RETURN, 0xC01C0001);
            ::PostMessageW(updater.Main, probe == 0 ? WM_CLOSE : WM_SYSCOMMAND, SC_CLOSE, 0);
            ::PostMessageW(updater.Button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_FALSE(::SendMessageW(updater.Button, BM_GETSTATE, 0, 0) & BST_PUSHED);
            ::PostMessageW(updater.Button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        }
        EXPECT_TRUE(WindowsOf(updater.ProcessId(), L"#32770").empty());
        EXPECT_TRUE(::IsWindowVisible(updater.Main));
        if (row.session != kGoesOn) {
            DWORD_PTR agreed = 0;
            EXPECT_NE(::SendMessageTimeoutW(updater.Main, WM_QUERYENDSESSION, 0, 0,
                                            SMTO_ABORTIFHUNG, 5000, &agreed),
                      0);
            EXPECT_EQ(agreed, TRUE);
            if (row.session == kCalledOff)
                ::SendMessageTimeoutW(updater.Main, WM_ENDSESSION, FALSE, 0, SMTO_ABORTIFHUNG, 5000,
                                      &agreed);
        }
        if (row.session == kEnds) {
            // Agreed to, the session ends the program at once.
            running.reset();
        } else {
            const ShownBox box = updater.NextBox();
            EXPECT_EQ(box.title, row.title);
            EXPECT_EQ(box.text, row.text);
            updater.Dismiss(box);
            // Nothing given during the download comes after it.
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            EXPECT_TRUE(WindowsOf(updater.ProcessId(), L"#32770").empty());
            EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
        }
        EXPECT_EQ(server.Connections(), 1);
        EXPECT_EQ(ReadFile(installed / "Kalmin.exe"), row.after);
        EXPECT_FALSE(fs::exists(installed / "Kalmin.exe.part"));
    }
}

// VYK running holds Kalmin.exe open without sharing: a warning in Czech, and
// nothing is fetched or changed.
TEST_F(UpdaterUITest, AKalminHeldOpenIsToldInCzech) {
    const fs::path installed = work / "installed";
    WriteFile(installed / "Kalmin.exe", kOldProgram);
    SetInstallPath(WideToUtf8(installed.wstring()));
    const HANDLE held = ::CreateFileW((installed / "Kalmin.exe").wstring().c_str(), GENERIC_READ, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ScriptedServer server(Script().Stall());
    Updater updater(work / "app", server.Port());
    const ShownBox box = updater.Click();
    EXPECT_EQ(box.title, "Upozornění");
    EXPECT_EQ(box.text,
              "Soubor Kalmin.exe je právě používán. Ukončete VYK a spusťte aktualizaci znovu.");
    updater.Dismiss(box);
    ::CloseHandle(held);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(ReadFile(installed / "Kalmin.exe"), kOldProgram);
    EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
}

// Over https, the certificate checked against the system's root store.
TEST_F(UpdaterUITest, HttpsUpdatesFromATrustedServerAndRefusesAnUnknownIssuer) {
    VYK_REQUIRE_TLS_SERVERS();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    vyktest::TrustedRoot root(s.CA());
    const fs::path installed = work / "installed";
    SetInstallPath(WideToUtf8(installed.wstring()));
    const struct {
        const char* server;
        std::string title;
        std::string text;
        std::string after;
    } rows[] = {
        {"unknown", "Vykpatch", "The certificate of 127.0.0.1 was not accepted: unknown issuer.",
         kOldProgram},
        {"good", "Informace", "Aktualizace dokončena.", "MZ" + std::string(70000, 'k') + "end"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.server);
        WriteFile(installed / "Kalmin.exe", kOldProgram);
        Updater updater(work / "app", s.Url(row.server));
        const ShownBox box = updater.Click();
        EXPECT_EQ(box.title, row.title);
        EXPECT_EQ(box.text, row.text);
        updater.Dismiss(box);
        EXPECT_EQ(ReadFile(installed / "Kalmin.exe"), row.after);
        EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
    }
}

// Through the proxy of the user's Internet options: the fixed one over http
// and over https (CONNECT), not for a host of its bypass list; a setup script
// naming it, and one answering DIRECT, which wins over the fixed proxy; a
// proxy that wants credentials takes them from the proxy's URL, and refuses
// with its status line without them. What reached a proxy is in its log.
TEST_F(UpdaterUITest, GoesThroughTheProxyOfTheInternetOptions) {
    VYK_REQUIRE_TLS_SERVERS();
    const vyktest::TLSServers& s = vyktest::TLSServers::Get();
    vyktest::TrustedRoot root(s.CA());
    const fs::path installed = work / "installed";
    SetInstallPath(WideToUtf8(installed.wstring()));
    const std::string http = s.Url("plain", "/instal/Kalmin.exe", "127.0.0.1", "http");
    const std::string https = s.Url("good");
    const auto script = [&](const char* file) {
        return s.Url("plain", std::string("/") + file, "127.0.0.1", "http");
    };
    const std::string done = "Aktualizace dokončena.";
    const std::string fetched = "MZ" + std::string(70000, 'k') + "end";
    const struct {
        vyktest::InternetOptions::Settings options;
        std::string url;
        const char* proxy;  // whose log is read
        std::string logged; // in the log's new lines; empty: no request at all
        std::string box;
    } rows[] = {
        {{s.Address("proxy"), "", ""}, http, "proxy", "): GET " + http + " HTTP/1.1", done},
        {{"http=" + s.Address("proxy") + ";https=" + s.Address("proxy"), "", ""},
         https,
         "proxy",
         "): CONNECT " + s.Address("good") + " HTTP/1.1",
         done},
        {{s.Address("proxy"), "10.*;<local>;127.0.0.1", ""}, http, "proxy", "", done},
        {{"", "", script("proxy.pac")}, http, "proxy", "): GET " + http + " HTTP/1.1", done},
        {{s.Address("proxy"), "", script("direct.pac")}, http, "proxy", "", done},
        {{"http://user:s%65cret@" + s.Address("proxy-auth"), "", ""},
         http,
         "proxy-auth",
         "): GET " + http + " HTTP/1.1",
         done},
        {{s.Address("proxy-auth"), "", ""},
         http,
         "proxy-auth",
         "): GET " + http + " HTTP/1.1",
         "HTTP/1.0 407 Proxy Authentication Required."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options.proxy + " " + row.options.bypass + " " + row.options.scriptUrl);
        WriteFile(installed / "Kalmin.exe", kOldProgram);
        const std::size_t logged = s.Log(row.proxy).size();
        vyktest::InternetOptions options(row.options);
        Updater updater(work / "app", row.url);
        const ShownBox box = updater.Click();
        EXPECT_EQ(box.text, row.box);
        updater.Dismiss(box);
        EXPECT_EQ(ReadFile(installed / "Kalmin.exe"), row.box == done ? fetched : kOldProgram);
        const std::string log = s.Log(row.proxy).substr(logged);
        if (row.logged.empty())
            EXPECT_EQ(log.find("Request ("), std::string::npos) << log;
        else
            EXPECT_NE(log.find(row.logged), std::string::npos) << log;
        EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
    }
}

// Only the publisher's program replaces Kalmin.exe: each row of the signature
// table through the program, the code-signing CA in the prefix's root store.
// Wine's chain engine is partial; which root is trusted, the times and the
// messageDigest are the updater's own checks, so the rows show those too.
TEST_F(UpdaterUITest, OnlyThePublishersProgramReplacesKalmin) {
    VYK_REQUIRE_TLS_SERVERS();
    vyktest::TrustedRoot root(vyktest::TLSServers::Get().Signed("codesign-ca.pem"));
    const fs::path installed = work / "installed";
    SetInstallPath(WideToUtf8(installed.wstring()));
    for (const vyktest::SignatureRow& row : vyktest::SignatureRows()) {
        SCOPED_TRACE(vyktest::RowName(row));
        WriteFile(installed / "Kalmin.exe", vyktest::SignedProgram(row.installed));
        ::SetEnvironmentVariableW(L"VYK_TEST_PUBLISHER_KEYS",
                                  row.pin ? Utf8ToWide(vyktest::PinOf(row.pin)).c_str() : nullptr);
        Updater updater(work / "app", vyktest::SignedProgramUrl(row));
        const ShownBox box = updater.Click();
        EXPECT_EQ(box.title, row.refusal ? "Upozornění" : "Informace");
        EXPECT_EQ(box.text, row.refusal ? vyktest::kNotThePublishers : "Aktualizace dokončena.");
        updater.Dismiss(box);
        EXPECT_EQ(ReadFile(installed / "Kalmin.exe"),
                  vyktest::SignedProgram(row.refusal ? row.installed : row.download));
        EXPECT_FALSE(fs::exists(installed / "Kalmin.exe.part"));
        EXPECT_EQ(updater.Close(), std::optional<DWORD>(0));
    }
    ::SetEnvironmentVariableW(L"VYK_TEST_PUBLISHER_KEYS", nullptr);
}

TEST(ProgramManifest, TheUpdaterAsksForAdministratorRights) {
    for (const char* program : {VYK_PATCH_EXE, VYK_PATCH_RELEASE_EXE}) {
        SCOPED_TRACE(program);
        const std::string manifest = vyktest::EmbeddedManifest(Utf8ToWide(program));
        EXPECT_NE(manifest.find("level=\"requireAdministrator\" uiAccess=\"false\""),
                  std::string::npos);
        EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
        EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos); // 7
        EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"),
                  std::string::npos); // 10, 11
    }
}
