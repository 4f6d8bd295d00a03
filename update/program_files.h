#pragma once
// The files the update works on: the program folder and the programs in it, held
// while they are checked, moved in one step, and the small record files kept beside
// them. Implemented over Win32 in update/win32/program_files_win32.cpp; the tests
// script a fake.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/program_role.h"

namespace tindra {

// A lock taken with ProgramFiles::TakeLock, held until it is destroyed.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class ProgramFiles {
 public:
  virtual ~ProgramFiles() = default;

  // The folder holding the running program: no trailing separator, except that a
  // drive's root keeps its own ("C:\"). Raises File not found (53) when the platform
  // cannot name it.
  virtual std::u16string ProgramFolder() = 0;
  // The Windows folder ("C:\Windows").
  virtual std::u16string WindowsFolder() = 0;
  // The running program's file name without its extension ("Tindra").
  virtual std::u16string ProgramBaseName() = 0;
  // The revision part of the running program's own version number (27 for
  // "1.00.0027").
  virtual int16_t ProgramRevision() = 0;

  // The on-disk name of the ordinary file at exactly `path`, or nothing when there is
  // no such file (folders, hidden and system files do not count). Raises for a path
  // the file system rejects or a drive that is not ready.
  virtual std::optional<std::u16string> FindOrdinaryFile(const std::u16string& path) = 0;
  // Whether something that is not a folder is at `path` (any attributes).
  virtual bool IsFile(const std::u16string& path) = 0;
  // Whether anything (a file or a folder) is at `path`.
  virtual bool Exists(const std::u16string& path) = 0;
  // Whether the file at `path` is read-only.
  virtual bool IsReadOnly(const std::u16string& path) = 0;
  // Whether the file at `path` can be opened for exclusive writing now, or there is
  // nothing at `path`.
  virtual bool IsFree(const std::u16string& path) = 0;

  // Removes the file if it is there, read-only or not. True when no file is there
  // afterwards (a folder stays, and gives false).
  virtual bool RemoveFile(const std::u16string& path) = 0;
  // Removes the folder at `path` when it is empty. True when nothing is there
  // afterwards.
  virtual bool RemoveEmptyFolder(const std::u16string& path) = 0;
  // Gives the file at `from` the second name `to` (a copy where the file system has no
  // links). False when it cannot; `to` must not exist.
  virtual bool LinkOrCopy(const std::u16string& from, const std::u16string& to) = 0;
  // Renames `from` to `to`, replacing it, in one step. False when it cannot.
  virtual bool MoveOver(const std::u16string& from, const std::u16string& to) = 0;
  // The file held open for `purpose`; nothing when it cannot be opened so.
  virtual std::unique_ptr<HeldFile> Hold(const std::u16string& path, HoldFor purpose) = 0;

  // A lock of the program folder held as the file at `path`, opened for no one else
  // and removed when it is let go or its holder ends. Only a program that can write
  // in the folder can take it first. Nothing when it is held already.
  virtual std::unique_ptr<FileLock> TakeLock(const std::u16string& path) = 0;
  // Whether some process holds the lock at `path` now.
  virtual bool LockHeld(const std::u16string& path) = 0;

  // The first `maxBytes` of the file; nothing when it cannot be read.
  virtual std::optional<std::string> ReadSmallFile(const std::u16string& path, size_t maxBytes) = 0;
  // Writes `bytes` as the whole file, replacing an older one (read-only or not) in one
  // step, so that no reader ever finds half of it; false when it cannot.
  virtual bool WriteSmallFile(const std::u16string& path, std::string_view bytes) = 0;
};

}  // namespace tindra
