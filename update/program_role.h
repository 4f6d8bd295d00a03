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

#include "fileutil/version_number.h"
#include "update/program_trust.h"

namespace tindra {

// The names a version block gives its file.
struct ProgramNames {
  std::u16string originalFilename;
  std::u16string internalName;
};

// A program held open against writers, renames and deletes from its check until its
// use (started, moved, or its revision taken): its checks read the held bytes, never
// the path again.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // The platform's signature check of the held bytes.
  virtual Signature HeldSignature() = 0;
  // The held bytes: the whole file.
  virtual std::string_view Image() = 0;
  // Renames the held file to `target`, replacing it (read-only or not), in one step;
  // false when it cannot (the file stays held).
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
// The rule for a program kept in place: no older than `floor` (none when 0).
RevisionRule FloorRule(int32_t floor);

// The names of a version block's strings.
ProgramNames NamesOf(const VersionStrings& strings);

// One check of a held program, verdict and revision together.
struct ProgramCheck {
  ProgramVerdict verdict = ProgramVerdict::kForeign;
  // The revision the held file carries, known once its signer, image and role pass
  // (also when the rule then refuses it).
  std::optional<int32_t> revision;
  // The names its version block gives, read with the revision (empty until then, or
  // when it has no block).
  ProgramNames names;
  // The platform's signature check of the held bytes, as the verdict took it.
  Signature signature;
};

// The whole check of the held bytes, in this order: the signer and the image, the
// role, the revision. The version block is read only from an image whose signature
// is sound.
ProgramCheck CheckHeldProgram(ProgramInspector& inspector, HeldFile& held,
                              std::u16string_view roleFile, const RevisionRule& rule = {});

// Whether the running program trusts any file at all: an unsigned build does not,
// and has no reason to fetch programs it would throw away.
bool TrustsAnyProgram(ProgramInspector& inspector);

}  // namespace tindra
