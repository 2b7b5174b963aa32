#pragma once
// The operating-system services the updater uses, as one interface that each
// platform implements. Paths are Windows paths ("C:\dir\file", "\file" on the
// current drive, or relative) in UTF-8; texts are UTF-8. No name here collides
// with a macro of the Windows headers. What each operation must do:
//
//  Registry()           the registry that TRegistry reads through (see Registry.h).
//  FileExists(path)     true exactly when path names an existing file; false for a
//                       directory, a missing drive and any other failure. Never raises.
//  CreateFileStream     create mode: a new file, or an existing one truncated to
//                       zero length, open for reading and writing with no sharing.
//                       Failure raises EFCreateError "Cannot create file "%s". %s"
//                       with the full Windows name and the system's error text.
//                       Plain writes return the count written (0 on failure).
//  LockForReplace(path) opens an existing file for writing without changing it
//                       and with no sharing, so a file in use or without write
//                       access fails the same way, with the same EFCreateError, as
//                       CreateFileStream would; the stream holds the file until
//                       released. Nothing is ever written through it.
//  CommitReplacement(from, to)
//                       makes the complete file "from" take the place of "to" in
//                       one step (a rename in the same directory, written through
//                       to the disk first): afterwards "to" holds either all of its
//                       old bytes or all of the new ones. Raises EFCreateError as
//                       above, naming "to", when that is impossible; "to" is then
//                       unchanged.
//  RemoveFile(path)     removes the file; failure is ignored. Never raises.
//  ExecuteOpenDialog    runs the file-open dialog modally with the dialog's Title,
//                       Filter, FilterIndex, InitialDir and DefaultExt, pre-filled
//                       with its FileName; a typed name that does not exist is
//                       accepted. True when the user chose a file: FileName then
//                       holds its full Windows path and FilterIndex the filter
//                       used. False on cancel or failure, FileName unchanged.
//  ShowMessageBox(text, caption, flags)
//                       shows a modal box with one OK button and the icon of
//                       flags (16 stop, 32 question, 48 exclamation, 64
//                       information); returns after it is dismissed.
//  ApplicationTitle()   the program file's name under ApplicationTitleFromFileName.
//  CancelMode()         ends any mouse capture before an error is shown.
//
// ShowException is the error display built on these: nothing for EAbort, the
// message under ErrorDisplayText in a stop box captioned with the title for any
// Exception, and a last-resort "Application Error" box for anything else.

#include "host/Dialogs.h"
#include "host/Registry.h"
#include "host/Stream.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

constexpr std::uint32_t mbOk = 0x00;
constexpr std::uint32_t mbIconStop = 0x10;
constexpr std::uint32_t mbIconQuestion = 0x20;
constexpr std::uint32_t mbIconExclamation = 0x30;
constexpr std::uint32_t mbIconInformation = 0x40;
constexpr std::uint32_t mbIconMask = 0xF0;

class THostServices {
public:
    virtual ~THostServices() = default;

    virtual TRegistryHive& Registry() = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual std::unique_ptr<TStream> CreateFileStream(const std::string& path) = 0;
    virtual std::unique_ptr<TStream> LockForReplace(const std::string& path) = 0;
    virtual void CommitReplacement(const std::string& from, const std::string& to) = 0;
    virtual void RemoveFile(const std::string& path) = 0;
    virtual bool ExecuteOpenDialog(TOpenDialog& dialog) = 0;
    virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                           std::uint32_t flags) = 0;
    virtual std::string ApplicationTitle() = 0;
    virtual void CancelMode() {}

    // The error display; call it with whatever escaped a handler. Never raises.
    void ShowException(std::exception_ptr error);

private:
    void LastResortBox(const std::string& className);
};
