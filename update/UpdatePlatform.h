#pragma once
// The services the start-up update needs from the platform. The Windows adapter
// (win32/UpdatePlatform_win32.cpp) implements them over Win32, WinINet and the
// shell; tests replace every one with a fake that can also raise errors.
//
// Every method may raise an AppError; the update procedures catch and report it.
// All calls are made on the user-interface thread.
#include <cstdint>
#include <optional>
#include <string>

#include "update/InstallRules.h"

namespace tindra {

class UpdatePlatform : public CompanionFiles {
 public:
  virtual ~UpdatePlatform() = default;

  // The folder holding the running executable: no trailing separator, except that a
  // drive's root keeps its own ("C:\").
  virtual std::u16string ProgramFolder() = 0;
  // The Windows folder ("C:\Windows").
  virtual std::u16string WindowsFolder() = 0;
  // The running executable's file name without its extension.
  virtual std::u16string ExeBaseName() = 0;
  // The revision part of the program's own version number (27 for "1.00.0027").
  virtual int16_t ProgramRevision() = 0;

  // The on-disk name of the ordinary file at exactly `path`, or nothing when there is
  // no such file (folders, hidden and system files do not count). Raises for a path
  // the file system rejects or a drive that is not ready.
  virtual std::optional<std::u16string> FindOrdinaryFile(const std::u16string& path) = 0;

  virtual std::u16string GetFileVerNumber(const std::u16string& fileName, bool includeBuild,
                                          bool silent) = 0;
  virtual std::u16string ReadUrlText(const std::u16string& url) = 0;
  virtual void StartProcessAndWait(const std::u16string& fileName, const int32_t& ownerWindow,
                                   const std::u16string& parameters,
                                   const std::u16string& directory, const int16_t& hidden,
                                   const int16_t& minimized) = 0;

  // Starts a command line with a window state (SW_* value) without waiting. Raises
  // File not found (53) when it cannot be started.
  virtual void StartCommand(const std::u16string& commandLine, int32_t windowState) = 0;

  // The failed-install record at `path`: nothing when there is none or it is damaged.
  virtual std::optional<FailedInstall> ReadFailedInstall(const std::u16string& path) = 0;
  // Writes it, replacing an older one; false when it cannot.
  virtual bool WriteFailedInstall(const std::u16string& path, const FailedInstall& record) = 0;
  // Seconds since 1970 (UTC).
  virtual int64_t Now() = 0;
  // True when the replacer started this process after it could not install a new
  // program (it says so even where no record can be written).
  virtual bool AfterFailedHandOver() = 0;

  // A modal box captioned "Tindra".
  virtual void ShowMessage(const std::u16string& text, uint32_t style) = 0;

  // Ends the process at once: no unload handler runs. Does not return.
  [[noreturn]] virtual void EndProcess() = 0;
};

}  // namespace tindra
