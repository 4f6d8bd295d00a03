#pragma once
// Which programs the update may keep or run: those signed by the same publisher as
// the program that checks them. One rule, used by Tindra.exe, Vantorel.exe and
// Pellmora.exe alike.
//
// Guarantees: a file passes only when the platform's Authenticode check finds a
// signature whose digest matches the file's bytes, and the certificate that signed
// it carries the same public key as the certificate that signed the checking
// program, or one of the further public keys compiled into the checking program
// (a publisher's next key, so that it can move to that key without freezing
// anyone). The key is what is pinned, not the certificate: a certificate that has
// expired, or that does not chain to a trusted root, still vouches for its key; one
// whose own extended key usage leaves out code signing does not. A checking program
// that is not validly signed itself trusts nothing. On top of that, a program must be
// a Windows executable image (not a DLL); its role and revision are checked after
// this, on the same held bytes (update/program_role.h).
//
// Does not guarantee: that the publisher's key is safe (whoever holds it can sign
// anything), or that the certificate is unrevoked (no revocation check: the update
// runs without other network access).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tindra {

// What the platform's signature check found for one file.
enum class SignatureStatus {
  kValid,          // a valid signature chained to a trusted root
  kUntrustedRoot,  // valid, except that the root or chain is not trusted (a private key)
  kExpired,        // valid, except that the certificate's validity period is over
  kNoSignature,
  kBadDigest,     // signed, but the file's bytes were changed afterwards
  kBadSignature,  // any other fault of the signature or its certificate
};

struct Signature {
  SignatureStatus status = SignatureStatus::kNoSignature;
  // The signing certificate's public key (algorithm and key bits); empty when the
  // platform could not name it.
  std::string signerKey;
  // Only in a program's own signature: the further public keys, in signerKey's
  // form, that it trusts besides its signer's (compiled in).
  std::vector<std::string> alsoTrusted;
};

// The trust rule: both signatures are sound (an untrusted root or an expired
// certificate aside), and `file` is signed with the key of `self` or with one of
// the keys `self` also trusts.
bool SameSigner(const Signature& self, const Signature& file);

// Answers of the platform's Authenticode check (WinVerifyTrust, HRESULT values) that
// the mapping below tells apart; the Windows adapter checks them against the SDK.
namespace trust_result {
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kProviderUnknown = 0x800B0001;        // TRUST_E_PROVIDER_UNKNOWN
inline constexpr uint32_t kSubjectFormUnknown = 0x800B0003;     // TRUST_E_SUBJECT_FORM_UNKNOWN
inline constexpr uint32_t kNoSignature = 0x800B0100;            // TRUST_E_NOSIGNATURE
inline constexpr uint32_t kExpired = 0x800B0101;                // CERT_E_EXPIRED
inline constexpr uint32_t kValidityPeriodNesting = 0x800B0102;  // CERT_E_VALIDITYPERIODNESTING
inline constexpr uint32_t kUntrustedRoot = 0x800B0109;          // CERT_E_UNTRUSTEDROOT
inline constexpr uint32_t kChaining = 0x800B010A;               // CERT_E_CHAINING
inline constexpr uint32_t kUntrustedTestRoot = 0x800B010D;      // CERT_E_UNTRUSTEDTESTROOT
inline constexpr uint32_t kBadDigest = 0x80096010;              // TRUST_E_BAD_DIGEST
// The steps, by their index in the platform's table of step errors, that load the
// signed message and check its signature and the file's digest
// (TRUSTERROR_STEP_FINAL_WVTINIT to _SIGPROV).
inline constexpr uint32_t kSignatureSteps[] = {30, 31, 32, 33};
}  // namespace trust_result

// The code-signing purpose (id-kp-codeSigning).
inline constexpr char kCodeSigningUsage[] = "1.3.6.1.5.5.7.3.3";

// Whether a signer's certificate may sign programs, by the extended key usage its own
// extension states (`usages`, the purposes' object identifiers; nothing when the
// certificate has no such extension, which leaves it good for every purpose). A
// certificate that lists purposes must list code signing: one for servers only
// vouches for no program.
bool UsageAllowsCodeSigning(const std::optional<std::vector<std::string>>& usages);

// What the platform's answer for one file means. `stepErrors` is the platform's
// table of errors per step, empty when it gave none. An untrusted root or an
// expired certificate says nothing against the key that signed: it counts only
// when every signature step found no fault. Explicit distrust, a certificate not
// meant for code signing and every other answer count as a bad signature.
// Revocation is not asked for (the check runs with no network), so no answer says
// "revoked".
SignatureStatus StatusOfCheck(uint32_t result, std::span<const uint32_t> stepErrors);

// What the checks need from the platform besides the held file itself.
class ProgramInspector {
 public:
  virtual ~ProgramInspector() = default;
  // The signature of the running program (the reference for SameSigner).
  virtual Signature OwnSignature() = 0;
  // The SHA-256 of `bytes` as 64 lowercase hexadecimal digits, computed by the
  // platform; empty when it cannot. It names a refused file in the failure record.
  virtual std::string Sha256(std::string_view bytes) = 0;
};

enum class ProgramVerdict {
  kTrusted,
  kForeign,        // unsigned, tampered, or signed by someone else
  kNotAProgram,    // not a Windows executable image
  kWrongRevision,  // signed and a program, but not the revision asked for
  kWrongRole,      // signed and a program, but its version block names another program
};

// True when `head` (the first bytes of a file, at least 4 KiB when the file has
// them) starts a 32-bit or 64-bit Windows executable image that is not a DLL.
bool LooksLikeWindowsProgram(std::string_view head);

// The signer, then the image: `file` is the signature of the held bytes `image`.
// The role and the revision are checked on top of this by CheckHeldProgram
// (update/program_role.h).
ProgramVerdict CheckSignedImage(const Signature& own, const Signature& file,
                                std::string_view image);

}  // namespace tindra
