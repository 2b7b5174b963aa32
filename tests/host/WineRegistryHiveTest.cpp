#include "host/linux/WineRegistryHive.h"

#include "TempPrefix.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// As Wine writes it: escaped key names, every value type, a continued hex line.
// A 32-bit prefix, where a 32-bit installer's keys stand under Software itself.
const char* const SystemReg = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\Tavrolin\\VYK] 1700000000
#time=1d9a0b0c0d0e0f0
"InstallPath"="C:\\Program Files\\Tavrolin\\VYK"
"Quoted"="say \"hi\"\tnow"
"Wide"="P\x0159\x00edli\x0161 \x017elu\x0165ou\x010dk\x00fd"
"Octal"="a\101b"
"Expand"=str(2):"%ProgramFiles%\\VYK"
"Count"=dword:0000002a
"Blob"=hex:01,02,\
  ff,10
"HexSz"=hex(1):41,00,42,00,00,00
"Typed"=hex(7):61,00,00,00,00,00
@="default"

[Software\\Tavrolin\\Other] 1700000000
"InstallPath"="elsewhere"
)";

std::string Text(const TWineRegValue& value) {
    return std::string(value.Data.begin(), value.Data.end());
}

} // namespace

TEST(ParseWineRegistry, ReadsEveryValueTypeAndEscape) {
    const TWineRegKeys keys = ParseWineRegistry(SystemReg);
    ASSERT_EQ(keys.count("software\\tavrolin\\vyk"), 1u);
    const auto& values = keys.at("software\\tavrolin\\vyk");
    EXPECT_EQ(values.at("installpath").Type, rdString);
    EXPECT_EQ(Text(values.at("installpath")),
              std::string("C:\\Program Files\\Tavrolin\\VYK\0", 30));
    EXPECT_EQ(Text(values.at("quoted")), std::string("say \"hi\"\tnow\0", 13));
    EXPECT_EQ(Text(values.at("wide")), std::string("Příliš žluťoučký") + '\0');
    EXPECT_EQ(Text(values.at("octal")), std::string("aAb\0", 4));
    EXPECT_EQ(values.at("expand").Type, rdExpandString);
    EXPECT_EQ(Text(values.at("expand")), std::string("%ProgramFiles%\\VYK\0", 19));
    EXPECT_EQ(values.at("count").Type, rdInteger);
    EXPECT_EQ(values.at("count").Data, (std::vector<std::uint8_t>{0x2a, 0, 0, 0}));
    EXPECT_EQ(values.at("blob").Type, rdBinary);
    EXPECT_EQ(values.at("blob").Data, (std::vector<std::uint8_t>{1, 2, 0xff, 0x10}));
    EXPECT_EQ(values.at("hexsz").Type, rdString);
    EXPECT_EQ(Text(values.at("hexsz")), std::string("AB\0", 3));
    EXPECT_EQ(values.at("typed").Type, 7u);
    EXPECT_EQ(values.at("typed").Data.size(), 6u);
    EXPECT_EQ(Text(values.at("")), std::string("default\0", 8));
}

TEST(ParseWineRegistry, SkipsLinesItCannotRead) {
    const TWineRegKeys keys = ParseWineRegistry("\"Orphan\"=\"no key yet\"\n"
                                                "[A] 1\n"
                                                "\"Bad\"=dword:xyz\n"
                                                "\"Open\"=\"no end\n"
                                                "garbage\n"
                                                "\"Good\"=\"ok\"\r\n");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys.at("a").size(), 1u);
    EXPECT_EQ(Text(keys.at("a").at("good")), std::string("ok\0", 3));
}

TEST(TWineRegistryHive, OpensKeysWithoutCaseThroughTRegistry) {
    vyktest::TempPrefix prefix;
    prefix.Write("system.reg", SystemReg);
    TWineRegistryHive hive(prefix.root);
    TRegistry registry(hive);
    registry.SetRootKey(TRegRootKey::rkLocalMachine);
    ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Tavrolin\\VYK", false));
    EXPECT_EQ(registry.ReadString("INSTALLPATH"), "C:\\Program Files\\Tavrolin\\VYK");
    EXPECT_EQ(registry.ReadString("Expand"), "%ProgramFiles%\\VYK");
    EXPECT_EQ(registry.ReadString("Missing"), "");
    EXPECT_THROW(registry.ReadString("Count"), ERegistryException);
    // A key with only subkeys exists; a missing one does not.
    EXPECT_TRUE(registry.OpenKey("\\software\\tavrolin", false));
    EXPECT_FALSE(registry.OpenKey("\\Software\\Tavrolin\\VY", false));
    // HKEY_CURRENT_USER lives in user.reg, which this prefix lacks.
    registry.SetRootKey(TRegRootKey::rkCurrentUser);
    EXPECT_FALSE(registry.OpenKey("\\Software\\Tavrolin\\VYK", false));
}

TEST(TWineRegistryHive, ReadsTheViewA32BitInstallerWrote) {
    // A 32-bit installer's HKLM\Software lands under Software\Wow6432Node in a
    // 64-bit prefix; a 32-bit one (or an old one without an "#arch" line) has one view.
    struct Row {
        const char* arch;
        const char* section;
        const char* openedAs;
        bool found;
    } const rows[] = {
        {"#arch=win64", "Software\\\\Wow6432Node\\\\Tavrolin\\\\VYK", "\\SOFTWARE\\Tavrolin\\VYK",
         true},
        {"#arch=win64", "Software\\\\Tavrolin\\\\VYK", "\\SOFTWARE\\Tavrolin\\VYK", false},
        {"#arch=win64", "Software\\\\Wow6432Node\\\\Tavrolin\\\\VYK",
         "\\Software\\Wow6432Node\\Tavrolin\\VYK", true},
        {"#arch=win64", "Softwarex\\\\Tavrolin", "\\Softwarex\\Tavrolin", true},
        {"#arch=win32", "Software\\\\Tavrolin\\\\VYK", "\\SOFTWARE\\Tavrolin\\VYK", true},
        {"#arch=win32", "Software\\\\Wow6432Node\\\\Tavrolin\\\\VYK", "\\SOFTWARE\\Tavrolin\\VYK",
         false},
        {"", "Software\\\\Tavrolin\\\\VYK", "\\SOFTWARE\\Tavrolin\\VYK", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.arch) + " " + row.section);
        vyktest::TempPrefix prefix;
        prefix.Write("system.reg", std::string("WINE REGISTRY Version 2\n") + row.arch + "\n\n[" +
                                       row.section + "] 1\n\"InstallPath\"=\"C:\\\\VYK\"\n");
        TWineRegistryHive hive(prefix.root);
        TRegistry registry(hive);
        registry.SetRootKey(TRegRootKey::rkLocalMachine);
        ASSERT_EQ(registry.OpenKey(row.openedAs, false), row.found);
        if (row.found) {
            EXPECT_EQ(registry.ReadString("InstallPath"), "C:\\VYK");
        }
    }
    // HKEY_CURRENT_USER\Software has one view for both kinds of program.
    vyktest::TempPrefix prefix;
    prefix.Write("user.reg", "WINE REGISTRY Version 2\n#arch=win64\n\n[Software\\\\Tavrolin] 1\n");
    TWineRegistryHive hive(prefix.root);
    EXPECT_NE(hive.OpenKey(TRegRootKey::rkCurrentUser, "Software\\Tavrolin", keyAllAccess),
              nullptr);
}

TEST(TWineRegistryHive, AHiveThatCannotBeWrittenRefusesFullAccess) {
    vyktest::TempPrefix prefix;
    const std::string file = prefix.Write("system.reg", SystemReg);
    ::chmod(file.c_str(), 0444);
    const std::string root = prefix.root;
    EXPECT_TRUE(vyktest::AsUnprivileged([&root] {
        TWineRegistryHive hive(root);
        const bool full = hive.OpenKey(TRegRootKey::rkLocalMachine, "Software\\Tavrolin\\VYK",
                                       keyAllAccess) != nullptr;
        const bool readOnly = hive.OpenKey(TRegRootKey::rkLocalMachine, "Software\\Tavrolin\\VYK",
                                           0x20019) != nullptr;
        return !full && readOnly;
    }));
}
