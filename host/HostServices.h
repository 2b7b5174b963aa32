#pragma once
// The operating-system services the updater uses, as one interface that each
// platform implements. Paths are Windows paths ("C:\dir\file", "\file" on the
// current drive, or relative) in UTF-8; texts are UTF-8. No name here collides
// with a macro of the Windows headers. What each operation must do:
//
//  Registry()           the registry that TRegistry reads through (see Registry.h).
//  FileExists(path)     true exactly when path names an existing file; false for a
//                       directory, a missing drive and any other failure. Never raises.
//  BeginReplacement(path)
//                       starts replacing the existing file path as a whole (see
//                       FileReplacement.h), with the temporary file named after
//                       it plus ".part". A file in use, without write access or
//                       that is no regular file fails here, before anything is
//                       fetched, with EFCreateError "Cannot create file "%s". %s"
//                       naming the full Windows name and the system's error text,
//                       and nothing is touched. Commit raises the same way,
//                       naming path; path then keeps its old bytes.
//  OpenToRead(path)     opens the existing regular file path for reading, shared
//                       with readers and writers, or raises EFOpenError "Cannot
//                       open file "%s". %s" naming the full Windows name; it
//                       never waits (a FIFO is refused, not opened).
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
//  RunInBackground(task)
//                       runs task to its end through the window's runner (see
//                       BackgroundWork.h) while one is set; else here, at once.
//
// ShowException is the error display built on these: nothing for EAbort, the
// message under ErrorDisplayText in a stop box captioned with the title for any
// Exception, and a last-resort "Application Error" box for anything else.

#include "host/BackgroundWork.h"
#include "host/Dialogs.h"
#include "host/Registry.h"
#include "host/Replacement.h"
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
    virtual std::unique_ptr<TReplacement> BeginReplacement(const std::string& path) = 0;
    virtual std::unique_ptr<TStream> OpenToRead(const std::string& path) = 0;
    virtual bool ExecuteOpenDialog(TOpenDialog& dialog) = 0;
    virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                               std::uint32_t flags) = 0;
    virtual std::string ApplicationTitle() = 0;
    virtual void CancelMode() {}

    void RunInBackground(const TBackgroundTask& task);
    // The window that runs tasks from now on (watched); none: run them here.
    void SetBackgroundRunner(TBackgroundRunner* runner) { runner_ = runner; }

    // The error display; call it with whatever escaped a handler. Never raises.
    void ShowException(std::exception_ptr error);

private:
    void LastResortBox(const std::string& className);

    TBackgroundRunner* runner_ = nullptr;
};
