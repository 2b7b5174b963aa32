#include "app/uFrmVYKPatch.h"

#include "net/IdExceptionCore.h"
#include "tests/support/BoxRecordingHost.h"
#include "tests/support/Raised.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

// Windows paths compare without case, and doubled separators name the same file.
std::string Key(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' && !out.empty() && out.back() == '\\') continue;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

class FakeHost;

// Writes into the fake file system, refusing bytes beyond the disk's space.
class FakeFile : public TStream {
public:
    FakeFile(FakeHost& host, std::string key) : host_(host), key_(std::move(key)) {}
    ~FakeFile() override;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t size) override;

private:
    std::string& Data();
    FakeHost& host_;
    std::string key_;
    std::int64_t position_ = 0;
};

class FakeHive : public TRegistryHive, public TRegistryKey {
public:
    std::unique_ptr<TRegistryKey> OpenKey(TRegRootKey root, const std::string& path,
                                          std::uint32_t access) override {
        if (!exists || root != TRegRootKey::rkLocalMachine || path != "SOFTWARE\\Tavrolin\\VYK" ||
            (readOnly && (access & keyWriteRights) != 0))
            return nullptr;
        return std::make_unique<View>(*this);
    }
    std::optional<TRegValueInfo> QueryValueInfo(const std::string& name) override {
        if (!values.count(name)) return std::nullopt;
        return TRegValueInfo{values[name].first,
                             static_cast<std::int64_t>(values[name].second.size())};
    }
    std::optional<std::vector<std::uint8_t>> QueryValueData(const std::string& name,
                                                            std::int64_t) override {
        return std::vector<std::uint8_t>(values[name].second.begin(), values[name].second.end());
    }
    void SetPath(const std::string& path) { values["InstallPath"] = {rdString, path + '\0'}; }

    bool exists = true;
    bool readOnly = false;
    std::map<std::string, std::pair<std::uint32_t, std::string>> values;

private:
    struct View : TRegistryKey {
        explicit View(FakeHive& h) : hive(h) {}
        std::optional<TRegValueInfo> QueryValueInfo(const std::string& n) override {
            return hive.QueryValueInfo(n);
        }
        std::optional<std::vector<std::uint8_t>> QueryValueData(const std::string& n,
                                                                std::int64_t size) override {
            return hive.QueryValueData(n, size);
        }
        FakeHive& hive;
    };
};

class FakeHost : public vyktest::BoxRecordingHost {
public:
    TRegistryHive& Registry() override { return hive; }
    bool FileExists(const std::string& path) override { return files.count(Key(path)) > 0; }
    std::unique_ptr<TReplacement> BeginReplacement(const std::string& path) override;
    std::unique_ptr<TStream> OpenToRead(const std::string& path) override {
        if (!files.count(Key(path))) throw EFOpenError("Cannot open file \"" + path + "\".");
        return std::make_unique<TStringStream>(files[Key(path)]);
    }
    bool ExecuteOpenDialog(TOpenDialog& dialog) override {
        dialogShownWith.push_back(dialog.FileName);
        if (choice.empty()) return false;
        dialog.FileName = choice;
        return true;
    }
    void Open(const std::string& path) {
        if (locked.count(Key(path)))
            throw EFileInUse("Cannot create file \"" + path + "\". Sharing violation");
        if (refused.count(Key(path)) || open.count(Key(path)))
            throw EFCreateError("Cannot create file \"" + path + "\". Access denied");
        open.insert(Key(path));
    }

    FakeHive hive;
    std::map<std::string, std::string> files;
    std::set<std::string> locked, refused, open; // locked: held by another process
    std::set<std::string> directories;           // never files, whatever their name
    std::size_t diskSpace = 1 << 20;
    std::string choice; // the dialog's answer; empty: cancelled
    std::vector<std::string> dialogShownWith;
    int replacements = 0;
};

// Holds the target and writes beside it, as the real replacement does.
class FakeReplacement : public TReplacement {
public:
    FakeReplacement(FakeHost& host, const std::string& path) : host_(host), target_(Key(path)) {
        host.Open(path);
        host.files[target_ + ".part"].clear();
        file_ = std::make_unique<FakeFile>(host, target_ + ".part");
    }
    ~FakeReplacement() override {
        file_.reset();
        host_.open.erase(target_);
        if (!committed_) host_.files.erase(target_ + ".part");
    }
    TStream& Stream() override { return *file_; }
    void Commit() override {
        if (host_.locked.count(target_))
            throw EFileInUse("Cannot create file \"" + target_ + "\". Sharing violation");
        file_.reset();
        host_.files[target_] = host_.files.at(target_ + ".part");
        host_.files.erase(target_ + ".part");
        committed_ = true;
        ++host_.replacements;
    }

private:
    FakeHost& host_;
    std::string target_;
    std::unique_ptr<FakeFile> file_;
    bool committed_ = false;
};

std::unique_ptr<TReplacement> FakeHost::BeginReplacement(const std::string& path) {
    return std::make_unique<FakeReplacement>(*this, path);
}

FakeFile::~FakeFile() {
    host_.open.erase(key_);
}
std::string& FakeFile::Data() {
    return host_.files.at(key_);
}
std::int64_t FakeFile::Read(void* buffer, std::int64_t count) {
    const auto n =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(Data().size()) - position_, 0, count);
    std::copy_n(Data().data() + position_, n, static_cast<char*>(buffer));
    position_ += n;
    return n;
}
std::int64_t FakeFile::Write(const void* buffer, std::int64_t count) {
    std::size_t used = 0;
    for (const auto& [key, data] : host_.files) used += data.size();
    const auto n = std::min<std::int64_t>(count, static_cast<std::int64_t>(host_.diskSpace - used));
    Data().resize(std::max<std::size_t>(Data().size(), static_cast<std::size_t>(position_ + n)));
    std::copy_n(static_cast<const char*>(buffer), n, Data().data() + position_);
    position_ += n;
    return n;
}
std::int64_t FakeFile::Seek(std::int64_t offset, TSeekOrigin origin) {
    position_ = offset + (origin == TSeekOrigin::soCurrent ? position_
                          : origin == TSeekOrigin::soEnd ? static_cast<std::int64_t>(Data().size())
                                                         : 0);
    return position_;
}
void FakeFile::SetSize(std::int64_t size) {
    Data().resize(static_cast<std::size_t>(size));
}

const std::string NewProgram("MZ\x90\0 new program", 16);
const std::string OldProgram = "MZ old program";
const std::string Registered = "D:\\Apps\\VYK";
const std::string Default = "c:\\program files\\tavrolin\\vyk";

struct Fixture : ::testing::Test {
    // Serves body in the given pieces, then raises failure if set.
    void Serve(std::vector<std::string> pieces, std::exception_ptr failure = nullptr) {
        downloader = [this, pieces, failure](const std::string& url, TStream& stream) {
            urls.push_back(url);
            for (const auto& piece : pieces)
                stream.Write(piece.data(), static_cast<std::int64_t>(piece.size()));
            if (failure) std::rethrow_exception(failure);
        };
    }
    void Press() { form.Button1.Click(); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const auto& b : host.boxes) out.push_back(b.text);
        return out;
    }
    void ExpectOnlyFiles(std::map<std::string, std::string> expected) {
        std::map<std::string, std::string> keyed;
        for (const auto& [path, data] : expected) keyed[Key(path)] = data;
        EXPECT_EQ(host.files, keyed);
        EXPECT_TRUE(host.open.empty());
    }

    FakeHost host;
    std::vector<std::string> urls;
    std::function<void(const std::string&, TStream&)> downloader = [](const std::string&,
                                                                      TStream&) {};
    TForm1 form{
        host, [this](const std::string& url, TStream& s, TBackgroundWork&) { downloader(url, s); }};
};

const char* const Done = "Aktualizace dokončena.";
const char* const NotFound =
    "VYK nelze nalézt automaticky. Vyberte umístění ručně a vyberte soubor tesmir.ini.";

} // namespace

TEST_F(Fixture, StoredDesignOfTheFormAndDialog) {
    EXPECT_EQ(form.Caption, "Aktualizace VYK");
    EXPECT_EQ(form.BorderStyle, bsDialog);
    EXPECT_EQ(std::make_pair(form.ClientWidth, form.ClientHeight), std::make_pair(238, 42));
    EXPECT_EQ(form.Button1.Caption, "Spustit aktualizaci");
    EXPECT_EQ((std::vector<int>{form.Button1.Left, form.Button1.Top, form.Button1.Width,
                                form.Button1.Height}),
              (std::vector<int>{8, 8, 225, 25}));
    EXPECT_EQ(form.OpenDialog1.Title, "Najděte soubor tesmir.ini");
    EXPECT_EQ(form.OpenDialog1.Filter, "soubor *.ini|*.ini");
    EXPECT_EQ(form.OpenDialog1.InitialDir, "C:\\");
    EXPECT_EQ(form.OpenDialog1.DefaultExt, "ini");
    EXPECT_EQ(form.OpenDialog1.Options, 0x800004u);
}

TEST_F(Fixture, RegisteredDirectoryIsUpdatedWithoutQuestions) {
    host.hive.SetPath(Registered);
    host.files[Key(Registered + "\\Kalmin.exe")] = OldProgram;
    host.files[Key(Default + "\\Kalmin.exe")] = OldProgram;
    Serve({NewProgram.substr(0, 3), NewProgram.substr(3)});
    Press();
    EXPECT_EQ(urls, std::vector<std::string>{DownloadUrl});
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, Done);
    EXPECT_EQ(host.boxes[0].caption, "Informace");
    EXPECT_EQ(host.boxes[0].flags, 64u);
    ExpectOnlyFiles(
        {{Registered + "\\Kalmin.exe", NewProgram}, {Default + "\\Kalmin.exe", OldProgram}});
    EXPECT_TRUE(host.dialogShownWith.empty());
}

TEST_F(Fixture, DefaultDirectoryServesWhenTheRegisteredOneFails) {
    struct Case {
        const char* what;
        std::function<void(FakeHost&)> setUp;
    } cases[] = {
        {"no key", [](FakeHost& h) { h.hive.exists = false; }},
        {"key without full access",
         [](FakeHost& h) {
             h.hive.SetPath(Registered);
             h.hive.readOnly = true;
             h.files[Key(Registered + "\\Kalmin.exe")] = OldProgram;
         }},
        {"no value", [](FakeHost&) {}},
        {"no Kalmin.exe there", [](FakeHost& h) { h.hive.SetPath(Registered); }},
        // A directory named Kalmin.exe is no file.
        {"directory named Kalmin.exe",
         [](FakeHost& h) {
             h.hive.SetPath(Registered);
             h.directories.insert(Key(Registered + "\\Kalmin.exe"));
         }},
    };
    for (const auto& c : cases) {
        FakeHost local;
        c.setUp(local);
        local.files[Key(Default + "\\Kalmin.exe")] = OldProgram;
        TForm1 f(local, [](const std::string&, TStream& s, TBackgroundWork&) {
            s.Write(NewProgram.data(), 8);
        });
        f.Button1Click(nullptr);
        EXPECT_EQ(local.files[Key(Default + "\\Kalmin.exe")], NewProgram.substr(0, 8)) << c.what;
        ASSERT_EQ(local.boxes.size(), 1u) << c.what;
        EXPECT_EQ(local.boxes[0].text, Done) << c.what;
    }
}

TEST_F(Fixture, DialogPathWarnsAsksAndUpdatesBesideTheChosenFile) {
    host.files["e:\\kalmin.exe"] = OldProgram;
    host.choice = "E:\\tesmir.ini"; // need not exist; only its directory counts
    Serve({NewProgram});
    Press();
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, NotFound);
    EXPECT_EQ(host.boxes[0].caption, "Upozornění");
    EXPECT_EQ(host.boxes[0].flags, 48u);
    EXPECT_EQ(host.boxes[1].text, Done);
    ExpectOnlyFiles({{"E:\\Kalmin.exe", NewProgram}});
    // The next press opens the dialog with the name chosen before.
    host.files.clear();
    host.choice.clear();
    Press();
    EXPECT_EQ(host.dialogShownWith, (std::vector<std::string>{"", "E:\\tesmir.ini"}));
    EXPECT_EQ(form.OpenDialog1.FileName, "E:\\tesmir.ini");
}

TEST_F(Fixture, DialogCancelledOrChosenFileWithoutKalminWritesNothing) {
    Press();
    EXPECT_EQ(Texts(), (std::vector<std::string>{NotFound, "Aktualizace přerušena uživatelem."}));
    EXPECT_EQ(host.boxes[1].flags, 64u);

    host.boxes.clear();
    host.choice = "C:\\Elsewhere\\tesmir.ini";
    Press();
    EXPECT_EQ(Texts(), (std::vector<std::string>{NotFound, "Nelze nalézt soubor k aktualizaci."}));
    EXPECT_EQ(host.boxes[1].flags, 48u);
    EXPECT_TRUE(urls.empty());
    ExpectOnlyFiles({});
}

TEST_F(Fixture, InstallPathStoredAsNumberRaisesBeforeAnythingIsTouched) {
    host.hive.values["InstallPath"] = {rdInteger, std::string("\x2a\0\0\0", 4)};
    host.files[Key(Default + "\\Kalmin.exe")] = OldProgram;
    EXPECT_STREQ(vyktest::Raised<ERegistryException>([&] { Press(); }).what(),
                 "Invalid data type for 'InstallPath'");
    EXPECT_TRUE(urls.empty());
    ExpectOnlyFiles({{Default + "\\Kalmin.exe", OldProgram}});
}

// Every failed download leaves the installed file byte for byte and no temporary file.
TEST_F(Fixture, FailedDownloadsKeepTheOldFile) {
    struct Case {
        const char* what;
        std::vector<std::string> body;
        std::exception_ptr error;
        std::string shown; // the error that escapes, or the warning box
    } cases[] = {
        {"server down",
         {},
         std::make_exception_ptr(
             EIdSocketError(Id_WSAECONNREFUSED, SocketErrorText(Id_WSAECONNREFUSED))),
         SocketErrorText(Id_WSAECONNREFUSED)},
        {"404",
         {},
         std::make_exception_ptr(EIdHTTPProtocolException(404, "HTTP/1.1 404 Not Found", "<html>")),
         "HTTP/1.1 404 Not Found"},
        {"cut short",
         {"MZ", "half"},
         std::make_exception_ptr(EIdConnClosedGracefully()),
         "Connection Closed Gracefully."},
        {"time-out", {"MZ"}, std::make_exception_ptr(EIdReadTimeout()), "Read Timeout"},
        {"not a program",
         {"<html>captive portal</html>"},
         nullptr,
         "Stažený soubor není platný program. Původní soubor zůstal beze změny."},
        {"only the first byte right",
         {"MX rest"},
         nullptr,
         "Stažený soubor není platný program. Původní soubor zůstal beze změny."},
        {"only the second byte right",
         {"NZ rest"},
         nullptr,
         "Stažený soubor není platný program. Původní soubor zůstal beze změny."},
        {"empty body",
         {},
         nullptr,
         "Stažený soubor není platný program. Původní soubor zůstal beze změny."},
    };
    for (const auto& c : cases) {
        host.boxes.clear();
        host.files = {{Key(Default + "\\Kalmin.exe"), OldProgram}};
        Serve(c.body, c.error);
        std::string raised;
        try {
            Press();
        } catch (const Exception& e) {
            raised = e.Message();
        }
        if (c.error) {
            EXPECT_EQ(raised, c.shown) << c.what;
            EXPECT_TRUE(host.boxes.empty()) << c.what;
        } else {
            EXPECT_EQ(raised, "") << c.what;
            EXPECT_EQ(Texts(), std::vector<std::string>{c.shown}) << c.what;
            EXPECT_EQ(host.boxes[0].flags, 48u);
        }
        ExpectOnlyFiles({{Default + "\\Kalmin.exe", OldProgram}});
        EXPECT_EQ(host.replacements, 0) << c.what;
    }
}

// VYK running holds Kalmin.exe: a warning in Czech instead of the system's
// text, before anything is fetched when it runs already, and the file keeps
// its bytes; any other refusal escapes with its own text.
TEST_F(Fixture, FileInUseIsToldInCzechAndKeepsTheOldFile) {
    const std::string target = Key(Default + "\\Kalmin.exe");
    const struct {
        const char* what;
        std::set<std::string> FakeHost::*list;
        bool fromTheStart;
        std::size_t fetched;
    } rows[] = {
        {"held from the start", &FakeHost::locked, true, 0},
        {"held once it is fetched", &FakeHost::locked, false, 1},
        {"refused", &FakeHost::refused, true, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        host.boxes.clear();
        urls.clear();
        host.files = {{target, OldProgram}};
        host.locked.clear();
        host.refused.clear();
        if (row.fromTheStart) (host.*row.list).insert(target);
        downloader = [&](const std::string& url, TStream& stream) {
            urls.push_back(url);
            stream.Write(NewProgram.data(), static_cast<std::int64_t>(NewProgram.size()));
            (host.*row.list).insert(target);
        };
        if (row.list == &FakeHost::refused) {
            EXPECT_STREQ(
                vyktest::Raised<EFCreateError>([&] { Press(); }).what(),
                ("Cannot create file \"" + Default + "\\Kalmin.exe\". Access denied").c_str());
            EXPECT_TRUE(host.boxes.empty());
        } else {
            Press();
            EXPECT_EQ(Texts(),
                      std::vector<std::string>{"Soubor Kalmin.exe je právě používán. "
                                               "Ukončete VYK a spusťte aktualizaci znovu."});
            EXPECT_EQ(host.boxes[0].caption, "Upozornění");
        }
        EXPECT_EQ(urls.size(), row.fetched);
        ExpectOnlyFiles({{Default + "\\Kalmin.exe", OldProgram}});
    }
}

TEST_F(Fixture, ARefusedWriteFailsEvenWhenTheWriterIgnoresIt) {
    host.files[Key(Default + "\\Kalmin.exe")] = OldProgram;
    host.diskSpace = OldProgram.size() + 4;
    const std::string big(64, 'x');
    for (bool swallow : {false, true}) {
        host.boxes.clear();
        downloader = [&](const std::string&, TStream& stream) {
            stream.Write(NewProgram.data(), 2);
            try {
                stream.Write(big.data(), static_cast<std::int64_t>(big.size()));
            } catch (...) {
                if (!swallow) throw;
            }
        };
        EXPECT_THROW(Press(), EWriteError) << swallow;
        EXPECT_TRUE(host.boxes.empty());
        ExpectOnlyFiles({{Default + "\\Kalmin.exe", OldProgram}});
    }
}

// The build setting's list of pins: either case, blanks and empty entries
// allowed; anything that is not 64 hex digits refused, as a pin that can never
// match would refuse every download.
TEST(PublisherKeyPins, ReadTheBuildSettingsList) {
    const std::string a(64, 'a'), b = std::string(63, 'b') + '9';
    EXPECT_TRUE(PublisherKeyPins("").empty());
    EXPECT_EQ(PublisherKeyPins(" " + std::string(64, 'A') + " ,, " + b + ","),
              (std::vector<std::string>{a, b}));
    for (const std::string& bad : {a.substr(1), a + "a", a.substr(1) + "g", a + ",x"})
        EXPECT_THROW(PublisherKeyPins(bad), EConvertError) << bad;
}
