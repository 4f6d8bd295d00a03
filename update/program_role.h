#pragma once
// Which program a file is. A signature says who made a file, not which of the
// publisher's programs it is; the role does: a program is kept or started as
// Tindra.exe, Vantorel.exe or Pellmora.exe only when its signed version block
// names that file (OriginalFilename, and InternalName with or without ".exe"). On
// top of the role, a companion is never replaced by an older revision of itself.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/program_trust.h"

namespace tindra {

// The names a version block gives its file.
struct ProgramNames {
  std::u16string originalFilename;
  std::u16string internalName;
};

// An inspector that can also read the names of a file's version block.
class RoleInspector : public ProgramInspector {
 public:
  // Read without any message box; empty names when the file has no block.
  virtual ProgramNames NamesOf(const std::u16string& path) = 0;
};

// A program held open against writers, renames and deletes while it is checked and
// until it has been started or moved: its checks read the held bytes.
class HeldFile : public RoleInspector {
 public:
  // Renames the held file to `target`, replacing it, in one step; false when it
  // cannot (the file stays held).
  virtual bool MoveOver(const std::u16string& target) = 0;
};

// What a file is held for: renaming it (opened with delete access), or starting it
// (read access only, which the loader shares).
enum class HoldFor { kRename, kRun };

// True when `names` say the file is `roleFile` ("Tindra.exe"): OriginalFilename is
// that name and InternalName is it or its stem ("Tindra"), ASCII letters in any case.
bool NamesRole(const ProgramNames& names, std::u16string_view roleFile);

// Which revisions a file may carry: exactly the announced one, and (for a companion
// that replaces one in place) none older than that one.
struct RevisionRule {
  std::optional<int32_t> exact;
  std::optional<int32_t> atLeast;
};
bool RevisionAllowed(std::optional<int32_t> revision, const RevisionRule& rule);

// The whole check, in this order: the signer and the image (CheckProgram), the
// role, the revision. The version block is read only for a file whose signature
// is sound.
ProgramVerdict CheckProgramFor(RoleInspector& inspector, const std::u16string& path,
                               std::u16string_view roleFile, const RevisionRule& rule = {});

// The revision of the file at `path` when it is trusted for `roleFile`; nothing when
// it is missing, untrusted or has none. The floor a replacement must reach.
std::optional<int32_t> TrustedRevision(RoleInspector& inspector, const std::u16string& path,
                                       std::u16string_view roleFile);

// Whether the running program trusts any file at all: an unsigned build does not,
// and has no reason to fetch programs it would throw away.
bool TrustsAnyProgram(ProgramInspector& inspector);

}  // namespace tindra
