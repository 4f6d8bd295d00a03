#pragma once
// The trust rule's platform side: Authenticode signatures through WinTrust's generic
// verify action, file heads, and version texts read without message boxes.
#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "common/win32/handle.h"
#include "update/program_role.h"
#include "update/program_trust.h"
#include "update/update_services.h"

namespace tindra::win32 {

// The signature of the file at `path`. With `file`, the bytes checked are those of
// that open handle (which must be the file at `path`), so a caller holding it open
// against writers knows that what was checked is what it holds.
Signature VerifySignature(const std::u16string& path, HANDLE file = nullptr);

// The floors this build was made with (TINDRA_*_FLOOR): by default the release's own
// revision for each program.
ReleaseFloors BuildFloors();

class Win32ProgramInspector : public ProgramInspector {
 public:
  // The running program's signature, checked once.
  Signature OwnSignature() override;
  // Through CryptoAPI's CNG hash (CryptHashCertificate2, which takes any bytes).
  std::string Sha256(std::string_view bytes) override;

 private:
  std::optional<Signature> own_;
};

// The largest program the update takes; releases stay far below it.
inline constexpr uint32_t kMaxProgramBytes = 64u * 1024 * 1024;

// A program file opened for reading (and, to be moved, for renaming) and shared
// with readers only: while it is held nobody else can write, rename or delete it,
// so what is checked is what is moved or started. A symbolic link or other
// reparse point is never held, nor a file that the name leads to elsewhere: the name
// itself must be the file. Its checks read
// the held bytes, never the path again.
class HeldProgram : public HeldFile {
 public:
  // Nothing when the file cannot be opened so, is a reparse point or is larger
  // than kMaxProgramBytes.
  static std::optional<HeldProgram> Open(const std::u16string& path,
                                         HoldFor purpose = HoldFor::kRename);

  Signature HeldSignature() override;
  std::string_view Image() override { return bytes_; }

  // Renames the held file to `target`, replacing it (read-only or not), in one step,
  // and releases it; on failure the file stays held, and `target` as it was. Only for
  // a file held for renaming.
  bool MoveOver(const std::u16string& target) override;

 private:
  HeldProgram(std::u16string path, HANDLE file) : path_(std::move(path)), file_(file) {}
  bool ReadAll();

  std::u16string path_;
  UniqueFile file_;
  std::string bytes_;
};

}  // namespace tindra::win32
