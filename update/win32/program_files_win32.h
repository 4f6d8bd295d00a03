#pragma once
// The update's files over Win32.
#include "update/program_files.h"

namespace tindra::win32 {

class Win32ProgramFiles : public ProgramFiles {
 public:
  std::u16string ProgramFolder() override;
  std::u16string WindowsFolder() override;
  std::u16string ProgramBaseName() override;
  // From the program's own version block; the build setting when it cannot be read.
  int16_t ProgramRevision() override;
  std::optional<std::u16string> FindOrdinaryFile(const std::u16string& path) override;
  bool IsFile(const std::u16string& path) override;
  bool Exists(const std::u16string& path) override;
  bool IsReadOnly(const std::u16string& path) override;
  bool IsFree(const std::u16string& path) override;
  bool RemoveFile(const std::u16string& path) override;
  bool RemoveEmptyFolder(const std::u16string& path) override;
  bool LinkOrCopy(const std::u16string& from, const std::u16string& to) override;
  bool MoveOver(const std::u16string& from, const std::u16string& to) override;
  std::unique_ptr<HeldFile> Hold(const std::u16string& path, HoldFor purpose) override;
  std::unique_ptr<FileLock> TakeLock(const std::u16string& path) override;
  bool LockHeld(const std::u16string& path) override;
  std::optional<std::string> ReadSmallFile(const std::u16string& path, size_t maxBytes) override;
  bool WriteSmallFile(const std::u16string& path, std::string_view bytes) override;
};

}  // namespace tindra::win32
