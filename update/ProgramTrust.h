#pragma once
// Which programs the update may keep or run: those signed by the same publisher as
// the program that checks them. One rule, used by Tindra.exe, Vantorel.exe and
// Pellmora.exe alike.
//
// Guarantees: a file passes only when the platform's Authenticode check finds a
// signature whose digest matches the file's bytes, and the certificate that signed
// it carries the same public key as the certificate that signed the checking
// program. Nothing is compiled in: a release signed with the publisher's key trusts
// only that publisher's files, a development build only its own. A checking
// program that is not validly signed itself trusts nothing. On top of that, a
// program must be a Windows executable image (not a DLL) and, where a revision is
// asked for, carry it as the last part of its file version.
//
// Does not guarantee: that the publisher's key is safe (whoever holds it can sign
// anything), that the certificate is unrevoked (no revocation check: the update
// runs without other network access), or anything about a file after the check
// unless the caller holds it open against writers (Pellmora does).
#include <cstdint>
#include <optional>
#include <string>

namespace tindra {

// What the platform's signature check found for one file.
enum class SignatureStatus {
  kValid,          // a valid signature chained to a trusted root
  kUntrustedRoot,  // valid, except that the root or chain is not trusted (a private key)
  kNoSignature,
  kBadDigest,     // signed, but the file's bytes were changed afterwards
  kBadSignature,  // any other fault of the signature or its certificate
};

struct Signature {
  SignatureStatus status = SignatureStatus::kNoSignature;
  // The signing certificate's public key (algorithm and key bits); empty when the
  // platform could not name it.
  std::string signerKey;
};

// The trust rule: `file` is signed with the same key as `self`, and both
// signatures are sound apart from an untrusted root.
bool SameSigner(const Signature& self, const Signature& file);

// What the checks need from the platform.
class ProgramInspector {
 public:
  virtual ~ProgramInspector() = default;
  // The signature of the running program (the reference for SameSigner).
  virtual Signature OwnSignature() = 0;
  virtual Signature SignatureOf(const std::u16string& path) = 0;
  // The file's first 4 KiB (less when it is shorter); empty when it cannot be read.
  virtual std::string HeadOf(const std::u16string& path) = 0;
  // The file's version text ("1.00.28"), read without any message box; empty when
  // it has none.
  virtual std::u16string VersionOf(const std::u16string& path) = 0;
};

enum class ProgramVerdict {
  kTrusted,
  kForeign,        // unsigned, tampered, or signed by someone else
  kNotAProgram,    // not a Windows executable image
  kWrongRevision,  // signed and a program, but not the revision asked for
  kWrongRole,      // signed and a program, but its version block names another program
};

// Checks `path` in this order: the signer, the image, the revision (when given).
ProgramVerdict CheckProgram(ProgramInspector& inspector, const std::u16string& path,
                            std::optional<int32_t> revision = std::nullopt);

}  // namespace tindra
