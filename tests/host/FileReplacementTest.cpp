// The replacement of an installed file, through the updater's button and
// through vykget, over one table of what may stand under the target's name.

#include "host/FileReplacement.h"
#include "app/uFrmVYKPatch.h"
#include "host/linux/WineHostServices.h"
#include "tests/host/TempPrefix.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using vyktest::Script;
using vyktest::ScriptedServer;

namespace {

// Failures of the system, made on demand: for the updater, which runs in this
// process, by the calls below; for vykget by strace's fault injection.
enum class Fault { None, FolderFlush, Owner };
std::atomic<Fault> fault{Fault::None};

} // namespace

extern "C" int fsync(int fd) {
    struct stat status {};
    if (fault == Fault::FolderFlush && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int fchown(int fd, uid_t owner, gid_t group) {
    if (fault == Fault::Owner) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fchown, fd, owner, group));
}

namespace {

// What strace makes fail for vykget: the second fsync is the folder's.
const char* Injection(Fault which) {
    return which == Fault::FolderFlush ? "inject=fsync:error=EIO:when=2"
                                       : "inject=fchown:error=EPERM";
}

bool CanInject() {
    return std::system("strace -qq -o /dev/null -e inject=fsync:error=EIO true >/dev/null 2>&1") ==
           0;
}

const std::string NewProgram = "MZ new Kalmin.exe";
const std::string OldProgram = "MZ old Kalmin.exe";
const std::string Partial = "MZ half";
const std::string Done = "Aktualizace dokončena.";
const std::string Cancelled =
    "VYK nelze nalézt automaticky. Vyberte umístění ručně a vyberte soubor tesmir.ini. | "
    "Aktualizace přerušena uživatelem.";

class WineUpdate : public TWineHostServices {
public:
    using TWineHostServices::TWineHostServices;
    bool ExecuteOpenDialog(TOpenDialog&) override { return false; }
    int ShowMessageBox(const std::string& text, const std::string&, std::uint32_t) override {
        boxes += (boxes.empty() ? "" : " | ") + text;
        return 1;
    }
    std::string boxes;
};

// A prefix whose registry names C:\VYK, the folder both programs write into.
struct Scene {
    Scene() {
        prefix.Write("system.reg",
                     "[Software\\\\Tavrolin\\\\VYK]\n\"InstallPath\"=\"C:\\\\VYK\"\n");
        fs::create_directories(dir);
    }
    std::string Put(const std::string& name, const std::string& content) const {
        std::ofstream(dir + "/" + name, std::ios::binary) << content;
        return dir + "/" + name;
    }
    std::string Read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    struct stat Stat(const std::string& path) const {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st;
    }
    // Names in the folders written into that neither program may leave.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& folder : {dir, prefix.root + "/drive_c/real"}) {
            if (!fs::exists(folder)) continue;
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                if (name.find(".vykget-") != std::string::npos ||
                    (name.size() > 5 && name.substr(name.size() - 5) == ".part"))
                    names.push_back(name);
            }
        }
        return names;
    }

    vyktest::TempPrefix prefix;
    std::string dir = prefix.root + "/drive_c/VYK";
    std::string target = dir + "/Kalmin.exe";
    int fifoReader = -1;
    int held = -1; // a temporary file a live run holds
};

struct Outcome {
    std::string shown; // the updater's boxes or the error that escaped; vykget's standard error
    int exitCode = 0;  // vykget's
    int connections = 0;
};

// Runs vykget on file, under strace when a fault is to be made; with interrupt
// set, sends it once the partial body is in its temporary file.
Outcome Vykget(Scene& scene, const std::string& file, int interrupt, Fault injected) {
    ScriptedServer server(
        interrupt ? Script()
                        .ReceiveHead()
                        .Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + Partial)
                        .Stall()
                  : Script()
                        .ReceiveHead()
                        .Send("HTTP/1.1 200 OK\r\nContent-Length: " +
                              std::to_string(NewProgram.size()) + "\r\n\r\n" + NewProgram)
                        .Close());
    const std::string errPath = scene.prefix.root + "/stderr";
    const std::string url = server.Url("/instal/Kalmin.exe");
    const pid_t child = ::fork();
    if (child == 0) {
        // Only what is safe after forking a process with threads.
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, STDERR_FILENO);
        ::unsetenv("http_proxy"); // the tests' own proxy, if any, is not the scripted server
        if (injected != Fault::None) {
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1); // no leak checker under a tracer
            ::execlp("strace", "strace", "-f", "-qq", "-o", "/dev/null", "-e", Injection(injected),
                     VYKGET_PATH, "-s", url.c_str(), file.c_str(), static_cast<char*>(nullptr));
        }
        ::execl(VYKGET_PATH, VYKGET_PATH, "-s", url.c_str(), file.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (interrupt) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto left = scene.Leftovers();
            if (!left.empty() && scene.Read(scene.dir + "/" + left[0]) == Partial) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(child, interrupt);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {scene.Read(errPath), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            server.Connections()};
}

Outcome Updater(Scene& scene, int interrupt, Fault injected) {
    const auto press = [&scene](TForm1::TDownloader download) {
        WineUpdate host(scene.prefix.root, "VYKPatch");
        TForm1 form(host, std::move(download));
        try {
            form.Button1Click(nullptr);
        } catch (const Exception& e) {
            return host.boxes + (host.boxes.empty() ? "" : " | ") + "raised: " + e.Message();
        }
        return host.boxes;
    };
    if (interrupt) {
        // The updater is ended as any program would be; its next press cleans up.
        const pid_t child = ::fork();
        if (child == 0) {
            press([](const std::string&, TStream& s, TBackgroundWork&) {
                s.Write(Partial.data(), static_cast<std::int64_t>(Partial.size()));
                ::pause();
            });
            ::_exit(0);
        }
        while (scene.Read(scene.target + ".part") != Partial)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(child, interrupt);
        ::waitpid(child, nullptr, 0);
        EXPECT_EQ(scene.Read(scene.target), OldProgram);
    }
    fault = injected;
    const std::string shown = press([](const std::string&, TStream& s, TBackgroundWork&) {
        s.Write(NewProgram.data(), static_cast<std::int64_t>(NewProgram.size()));
    });
    fault = Fault::None;
    return {shown};
}

struct Row {
    const char* what;
    std::function<bool(Scene&)> prepare; // false: cannot be set up here
    std::string file = "Kalmin.exe";     // vykget's FILE, in the folder
    std::string updater;                 // what the updater showed
    int exitCode = 0;                    // vykget's
    std::string err;                     // its standard error, FILE standing for FILE
    std::function<void(Scene&, bool updater)> check;
    int interrupt = 0;
    Fault fault = Fault::None;
};

// "user:group" as the system names them.
std::string OwnerNames(uid_t uid, gid_t gid) {
    const struct passwd* user = ::getpwuid(uid);
    const struct group* group = ::getgrgid(gid);
    return (user ? user->pw_name : std::to_string(uid)) + ":" +
           (group ? group->gr_name : std::to_string(gid));
}

bool Old(Scene& s, mode_t mode) {
    s.Put("Kalmin.exe", OldProgram);
    return ::chmod(s.target.c_str(), mode) == 0;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    const auto at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

void Replaced(Scene& s, bool) {
    EXPECT_EQ(s.Read(s.target), NewProgram);
}

void Kept(Scene& s, bool) {
    EXPECT_EQ(s.Read(s.target), OldProgram);
}

const std::string Refused =
    "raised: Cannot create file \"C:\\VYK\\Kalmin.exe\". Not a regular file";
const std::string NotFollowed =
    "It is another user's symbolic link in a shared folder, which is not followed";

// Kalmin.exe a link to real/k.exe made by owner in the folder, sticky and
// writable by all, of folderOwner.
bool SharedFolderLink(Scene& s, uid_t owner, uid_t folderOwner) {
    fs::create_directories(s.prefix.root + "/drive_c/real");
    std::ofstream(s.prefix.root + "/drive_c/real/k.exe") << OldProgram;
    return ::chmod(s.dir.c_str(), 01777) == 0 && ::chown(s.dir.c_str(), folderOwner, 0) == 0 &&
           ::symlink("../real/k.exe", s.target.c_str()) == 0 &&
           ::lchown(s.target.c_str(), owner, 0) == 0;
}

// Where the kernel guards such links itself, the updater's own look at the
// file is refused before the replacement can refuse it.
bool KernelGuardsLinks() {
    std::ifstream setting("/proc/sys/fs/protected_symlinks");
    int value = 0;
    return setting >> value && value != 0;
}

// Names like vykget's temporary files: the first is a dead run's, the rest
// are not (a live run's, other names, a link), and stay.
// The last, another user's, is planted where the tests run as root.
const char* const Planted[] = {".Kalmin.exe.vykget-0123abcd", ".Kalmin.exe.vykget-89abcdef",
                               ".Kalmin.exe.vykget-0123abc",  ".Kalmin.exe.vykget-0123ABCD",
                               ".Kalmin.ex.vykget-0123abcd",  ".Kalmin.exe.vykget-01234567",
                               ".Kalmin.exe.vykget-fedcba98"};

bool PlantLeftovers(Scene& s) {
    Old(s, 0644);
    for (const char* name : Planted) s.Put(name, "left");
    ::unlink((s.dir + "/" + Planted[5]).c_str());
    if (::symlink("Kalmin.exe", (s.dir + "/" + Planted[5]).c_str()) != 0) return false;
    const std::string others = s.dir + "/" + Planted[6];
    if (::chown(others.c_str(), 65534, 65534) != 0) ::unlink(others.c_str());
    s.held = ::open((s.dir + "/" + Planted[1]).c_str(), O_RDONLY | O_CLOEXEC);
    return s.held >= 0 && ::flock(s.held, LOCK_EX) == 0;
}

void OnlyTheDeadRunsLeftoverRemoved(Scene& s, bool updater) {
    Replaced(s, updater);
    for (const char* name : Planted) {
        const bool removed = !updater && name == Planted[0];
        if (name == Planted[6] && ::geteuid() != 0) continue;
        EXPECT_EQ(fs::exists(fs::symlink_status(s.dir + "/" + name)), !removed) << name;
        ::unlink((s.dir + "/" + name).c_str());
    }
    ::close(s.held);
}

} // namespace

TEST(FileReplacement, WhatStandsUnderTheTargetsName) {
    const mode_t mask = ::umask(022);
    const bool root = ::geteuid() == 0;
    const Row rows[] = {
        {"a file keeps its mode", [](Scene& s) { return Old(s, 0604); }, "Kalmin.exe", Done, 0, "",
         [](Scene& s, bool u) {
             Replaced(s, u);
             EXPECT_EQ(s.Stat(s.target).st_mode & 07777, 0604u);
         }},
        {"a new file gets the usual mode", [](Scene&) { return true; }, "Kalmin.exe", Cancelled, 0,
         "",
         [](Scene& s, bool updater) {
             if (!updater) {
                 EXPECT_EQ(s.Stat(s.target).st_mode & 07777, 0644u);
             }
         }},
        {"owner and group kept",
         [root](Scene& s) {
             return root && Old(s, 0750) && ::chown(s.target.c_str(), 65534, 65534) == 0;
         },
         "Kalmin.exe", Done, 0, "",
         [](Scene& s, bool u) {
             Replaced(s, u);
             const struct stat st = s.Stat(s.target);
             EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(65534u, 65534u));
             EXPECT_EQ(st.st_mode & 07777, 0750u);
         }},
        {"a link planted at the fixed temporary name",
         [](Scene& s) {
             Old(s, 0644);
             s.Put("victim", "victim");
             return ::symlink("victim", (s.target + ".part").c_str()) == 0;
         },
         "Kalmin.exe", Done, 0, "",
         [](Scene& s, bool updater) {
             Replaced(s, updater);
             EXPECT_EQ(s.Read(s.dir + "/victim"), "victim");
             if (!updater) ::unlink((s.target + ".part").c_str()); // planted, not vykget's
         }},
        {"a link to a file",
         [](Scene& s) {
             fs::create_directories(s.prefix.root + "/drive_c/real");
             std::ofstream(s.prefix.root + "/drive_c/real/k.exe") << OldProgram;
             ::chmod((s.prefix.root + "/drive_c/real/k.exe").c_str(), 0700);
             return ::symlink("../real/k.exe", s.target.c_str()) == 0;
         },
         "Kalmin.exe", Done, 0, "",
         [](Scene& s, bool u) {
             Replaced(s, u);
             EXPECT_TRUE(fs::is_symlink(s.target));
             EXPECT_EQ(s.Stat(s.prefix.root + "/drive_c/real/k.exe").st_mode & 07777, 0700u);
         }},
        {"a link to a directory",
         [](Scene& s) {
             fs::create_directories(s.dir + "/sub");
             return ::symlink("sub", s.target.c_str()) == 0;
         },
         "Kalmin.exe", Cancelled, 1, "Cannot create file \"FILE\". Is a directory.\n",
         [](Scene& s, bool) {
             EXPECT_TRUE(fs::is_symlink(s.target));
             EXPECT_TRUE(fs::is_empty(s.dir + "/sub"));
         }},
        {"a directory", [](Scene& s) { return fs::create_directories(s.target); }, "Kalmin.exe",
         Cancelled, 1, "Cannot create file \"FILE\". Is a directory.\n",
         [](Scene& s, bool) { EXPECT_TRUE(fs::is_empty(s.target)); }},
        {"a missing folder", [](Scene&) { return true; }, "missing/Kalmin.exe", Cancelled, 1,
         "Cannot create file \"FILE\". No such file or directory.\n",
         [](Scene& s, bool) { EXPECT_FALSE(fs::exists(s.dir + "/missing")); }},
        {"a device",
         [root](Scene& s) {
             return root && ::mknod(s.target.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
         },
         "Kalmin.exe", Refused, 0, "",
         [](Scene& s, bool) { EXPECT_TRUE(S_ISCHR(s.Stat(s.target).st_mode)); }},
        {"a FIFO",
         [](Scene& s) {
             if (::mkfifo(s.target.c_str(), 0644) != 0) return false;
             s.fifoReader = ::open(s.target.c_str(), O_RDONLY | O_NONBLOCK);
             return s.fifoReader >= 0;
         },
         "Kalmin.exe", Refused, 0, "",
         [](Scene& s, bool updater) {
             EXPECT_TRUE(S_ISFIFO(s.Stat(s.target).st_mode));
             char got[64] = {};
             const ssize_t n = ::read(s.fifoReader, got, sizeof got);
             EXPECT_EQ(std::string(got, n > 0 ? static_cast<std::size_t>(n) : 0),
                       updater ? "" : NewProgram);
             ::close(s.fifoReader);
         }},
        {"another user's link in a shared folder",
         [root](Scene& s) { return root && SharedFolderLink(s, 65534, 0); }, "Kalmin.exe",
         KernelGuardsLinks() ? Cancelled
                             : "raised: Cannot create file \"C:\\VYK\\Kalmin.exe\". " + NotFollowed,
         1, "Cannot create file \"FILE\". " + NotFollowed + ".\n",
         [](Scene& s, bool) {
             EXPECT_TRUE(fs::is_symlink(s.target));
             EXPECT_EQ(s.Read(s.prefix.root + "/drive_c/real/k.exe"), OldProgram);
         }},
        {"the folder owner's link in a shared folder",
         [root](Scene& s) { return root && SharedFolderLink(s, 65534, 65534); }, "Kalmin.exe", Done,
         0, "",
         [](Scene& s, bool u) {
             Replaced(s, u);
             EXPECT_TRUE(fs::is_symlink(s.target));
         }},
        {"the folder flush fails after the rename",
         [](Scene& s) { return CanInject() && Old(s, 0644); }, "Kalmin.exe", Done, 0,
         "vykget: FILE was replaced, but its folder could not be flushed: Input/output error\n",
         Replaced, 0, Fault::FolderFlush},
        {"owner and group not kept",
         [root](Scene& s) {
             return root && CanInject() && Old(s, 0750) &&
                    ::chown(s.target.c_str(), 65534, 65534) == 0 &&
                    ::chmod(s.target.c_str(), 04750) == 0;
         },
         "Kalmin.exe", Done, 0,
         "vykget: FILE now belongs to root:root; its owner " + OwnerNames(65534, 65534) +
             " could not be kept\n",
         [](Scene& s, bool u) {
             Replaced(s, u);
             const struct stat st = s.Stat(s.target);
             EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(0u, 0u));
             EXPECT_EQ(st.st_mode & 07777, 0750u) << "set-user bit of another owner";
         },
         0, Fault::Owner},
        {"leftovers of killed runs", PlantLeftovers, "Kalmin.exe", Done, 0, "",
         OnlyTheDeadRunsLeftoverRemoved},
        {"SIGINT", [](Scene& s) { return Old(s, 0644); }, "Kalmin.exe", Done, 130,
         "vykget: interrupted by SIGINT\n", Kept, SIGINT},
        {"SIGTERM", [](Scene& s) { return Old(s, 0644); }, "Kalmin.exe", Done, 143,
         "vykget: interrupted by SIGTERM\n", Kept, SIGTERM},
        {"SIGHUP", [](Scene& s) { return Old(s, 0644); }, "Kalmin.exe", Done, 129,
         "vykget: interrupted by SIGHUP\n", Kept, SIGHUP},
    };
    for (const Row& row : rows) {
        for (const bool updater : {true, false}) {
            SCOPED_TRACE(std::string(row.what) + (updater ? " (updater)" : " (vykget)"));
            Scene scene;
            if (!row.prepare(scene)) {
                std::printf("skipped here: %s\n", row.what);
                continue;
            }
            const std::string file = scene.dir + "/" + row.file;
            if (updater) {
                const Outcome run = Updater(scene, row.interrupt, row.fault);
                EXPECT_EQ(run.shown, row.updater);
                if (row.interrupt) {
                    EXPECT_EQ(scene.Read(scene.target), NewProgram);
                } else {
                    row.check(scene, true);
                }
            } else {
                const Outcome run = Vykget(scene, file, row.interrupt, row.fault);
                EXPECT_EQ(run.exitCode, row.exitCode);
                EXPECT_EQ(run.shown, Replace(row.err, "FILE", file));
                if (row.exitCode == 1) {
                    EXPECT_EQ(run.connections, 0) << "refused only after a request";
                }
                row.check(scene, false);
            }
            EXPECT_EQ(scene.Leftovers(), std::vector<std::string>{});
        }
    }
    ::umask(mask);
}

// The order of the calls that make the replacement safe, as the kernel saw them.
TEST(FileReplacement, TheFileReachesTheDiskBeforeItsNameAndTheFolderAfter) {
    if (std::system("strace -qq -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace cannot trace here";
    Scene scene;
    scene.Put("Kalmin.exe", OldProgram);
    ScriptedServer server(Script()
                              .ReceiveHead()
                              .Send("HTTP/1.1 200 OK\r\nContent-Length: " +
                                    std::to_string(NewProgram.size()) + "\r\n\r\n" + NewProgram)
                              .Close());
    const std::string trace = scene.prefix.root + "/trace";
    // The leak checker of a sanitizer build cannot run under a tracer.
    const std::string command = "http_proxy= ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e "
                                "trace=openat,fsync,fdatasync,rename,renameat,renameat2 -o '" +
                                trace + "' " VYKGET_PATH " -s " + server.Url("/k") + " '" +
                                scene.target + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<std::string> calls; // the calls after the temporary file was made, fds by role
    std::string temporaryFd, folderFd;
    std::istringstream lines(scene.Read(trace));
    for (std::string line; std::getline(lines, line);) {
        const auto result = line.substr(line.rfind("= ") + 2);
        if (line.find(".vykget-") != std::string::npos &&
            line.find("openat(") != std::string::npos) {
            EXPECT_NE(line.find("O_RDWR|O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC, 0600)"),
                      std::string::npos)
                << line;
            temporaryFd = result;
            calls.push_back("create");
        } else if (line.find("O_DIRECTORY") != std::string::npos && !temporaryFd.empty()) {
            folderFd = result;
        } else if (line.find("rename") != std::string::npos) {
            calls.push_back("rename");
        } else if (line.find("fsync(") != std::string::npos) {
            const auto fd =
                line.substr(line.find("fsync(") + 6, line.find(')') - line.find("fsync(") - 6);
            calls.push_back(fd == temporaryFd ? "flush file"
                            : fd == folderFd  ? "flush folder"
                                              : "fsync " + fd);
        }
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"create", "flush file", "rename", "flush folder"}));
    EXPECT_EQ(scene.Read(scene.target), NewProgram);
}

// A FILE name at the file system's limit still leaves room for the temporary name.
TEST(FileReplacement, ATargetNamedNearTheLimit) {
    Scene scene;
    // A two-byte character where the name is cut: cut before it, not inside.
    const std::string name = std::string(237, 'k') + "\xc3\xa9" + std::string(NAME_MAX - 240, 'k');
    TReplacementOptions options;
    options.RandomTag = "vykget";
    TFileReplacement replacement(scene.dir + "/" + name, options);
    replacement.Stream().Write("MZ", 2);
    const std::string temporary = fs::path(replacement.TemporaryPath()).filename().string();
    EXPECT_EQ(temporary.substr(0, 246), "." + std::string(237, 'k') + ".vykget-")
        << "named after its target";
    EXPECT_EQ(temporary.size(), 254u);
    replacement.Commit();
    EXPECT_EQ(scene.Read(scene.dir + "/" + name), "MZ");
}
