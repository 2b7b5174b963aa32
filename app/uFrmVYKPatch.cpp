#include "app/uFrmVYKPatch.h"

#include "host/PEImage.h"
#include "host/Registry.h"
#include "host/SysUtils.h"

const char* const DownloadUrl = VYK_DOWNLOAD_URL;
const char* const PublisherKeys = VYK_PUBLISHER_KEYS;

namespace {

const char* const RegistryKey = "\\SOFTWARE\\Tavrolin\\VYK";
const char* const DefaultInstallDir = "c:\\program files\\tavrolin\\vyk";

// Passes everything to the file, but a write the file does not take in full
// raises at once, whatever the writer does with the count, and is remembered.
class TRefusalCheckingStream : public TStream {
public:
    explicit TRefusalCheckingStream(TStream& target) : target_(target) {}

    std::int64_t Read(void* buffer, std::int64_t count) override {
        return target_.Read(buffer, count);
    }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const std::int64_t written = target_.Write(buffer, count);
        if (count > 0 && written != count) {
            refused_ = true;
            throw EWriteError();
        }
        return written;
    }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        return target_.Seek(offset, origin);
    }
    void SetSize(std::int64_t size) override { target_.SetSize(size); }
    std::int64_t Size() override { return target_.Size(); }

    // For a writer that swallowed the error raised from Write.
    void RaiseIfRefused() const {
        if (refused_) throw EWriteError();
    }

private:
    TStream& target_;
    bool refused_ = false;
};

} // namespace

TForm1::TForm1(THostServices& host, TDownloader downloader)
    : PublisherRule(PublisherKeyPins(PublisherKeys)), host_(host),
      downloader_(std::move(downloader)) {
    Button1.Left = 8;
    Button1.Top = 8;
    Button1.Width = 225;
    Button1.Height = 25;
    Button1.Caption = "Spustit aktualizaci";
    Button1.TabOrder = 0;
    Button1.OnClick = [this](void* sender) { Button1Click(sender); };

    OpenDialog1.DefaultExt = "ini";
    OpenDialog1.Filter = "soubor *.ini|*.ini";
    OpenDialog1.InitialDir = "C:\\";
    OpenDialog1.Title = "Najděte soubor tesmir.ini";
}

void TForm1::ShowWarningBox(const std::string& text) {
    host_.ShowMessageBox(text, "Upozornění", mbOk | mbIconExclamation);
}

void TForm1::ShowInfoBox(const std::string& text) {
    host_.ShowMessageBox(text, "Informace", mbOk | mbIconInformation);
}

// VYK running holds its program: the system's text would not say so.
void TForm1::ShowInUseBox() {
    ShowWarningBox(
        "Soubor Kalmin.exe je právě používán. Ukončete VYK a spusťte aktualizaci znovu.");
}

std::string TForm1::ReadInstallPath(const std::string& valueName) {
    TRegistry registry(host_.Registry());
    registry.SetRootKey(TRegRootKey::rkLocalMachine);
    if (!registry.OpenKey(RegistryKey, false)) return {};
    return registry.ReadString(valueName);
}

void TForm1::Button1Click(void* /*Sender*/) {
    std::string installDir = ReadInstallPath("InstallPath");
    if (!host_.FileExists(installDir + "\\Kalmin.exe")) installDir = DefaultInstallDir;
    if (host_.FileExists(installDir + "\\Kalmin.exe")) {
        ReplaceFromDownload(installDir + "\\Kalmin.exe");
        return;
    }

    ShowWarningBox(
        "VYK nelze nalézt automaticky. Vyberte umístění ručně a vyberte soubor tesmir.ini.");
    if (!host_.ExecuteOpenDialog(OpenDialog1)) {
        ShowInfoBox("Aktualizace přerušena uživatelem.");
        return;
    }
    const std::string target = ExtractFilePath(OpenDialog1.FileName) + "Kalmin.exe";
    if (!host_.FileExists(target)) {
        ShowWarningBox("Nelze nalézt soubor k aktualizaci.");
        return;
    }
    ReplaceFromDownload(target);
}

void TForm1::ReplaceFromDownload(const std::string& target) {
    // The installed program's signature is read before the replacement holds
    // the file, which on Windows shuts out readers too.
    TProgramSignature installed;
    std::exception_ptr unreadable;
    try {
        installed = ReadProgramSignature(*host_.OpenToRead(target));
    } catch (const EStreamError&) {
        unreadable = std::current_exception();
    }
    // A file in use, without write access or no regular file fails here,
    // before anything is fetched; one that cannot be read is not replaced
    // unchecked either.
    std::unique_ptr<TReplacement> replacement;
    try {
        replacement = host_.BeginReplacement(target);
    } catch (const EFileInUse&) {
        ShowInUseBox();
        return;
    }
    if (unreadable) std::rethrow_exception(unreadable);
    TRefusalCheckingStream checked(replacement->Stream());
    host_.RunInBackground([&](TBackgroundWork& work) { downloader_(DownloadUrl, checked, work); });
    checked.RaiseIfRefused();
    if (!StartsAsWindowsProgram(replacement->Stream())) {
        replacement.reset();
        ShowWarningBox("Stažený soubor není platný program. Původní soubor zůstal beze změny.");
        return;
    }
    try {
        PublisherRule.Check(replacement->Stream(), &installed);
    } catch (const EPublisherRefused&) {
        replacement.reset();
        ShowWarningBox(
            "Stažený soubor není podepsán vydavatelem VYK. Původní soubor zůstal beze změny.");
        return;
    }
    try {
        replacement->Commit();
    } catch (const EFileInUse&) {
        replacement.reset();
        ShowInUseBox();
        return;
    }
    replacement.reset();
    ShowInfoBox("Aktualizace dokončena.");
}
