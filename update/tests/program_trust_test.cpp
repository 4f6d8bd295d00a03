// The trust rule, the check that a file is a program, and the order of a program's checks,
// over a scripted inspector.
#include "update/program_trust.h"

#include <gtest/gtest.h>

#include <string>

#include "update/program_role.h"
#include "update/tests/fake_system.h"

namespace tindra {
namespace {

using S = SignatureStatus;

TEST(ProgramTrust, SameSignerWantsOneKeyAndSoundSignaturesOnBothSides) {
  struct Row {
    const char* what;
    Signature self;
    Signature file;
    bool trusted;
  };
  const Row rows[] = {
      {"same key", {S::kValid, "K"}, {S::kValid, "K"}, true},
      {"same key, private root on both sides",
       {S::kUntrustedRoot, "K"},
       {S::kUntrustedRoot, "K"},
       true},
      {"another key", {S::kValid, "K"}, {S::kValid, "L"}, false},
      {"another key, private root", {S::kUntrustedRoot, "K"}, {S::kUntrustedRoot, "L"}, false},
      {"file unsigned", {S::kValid, "K"}, {S::kNoSignature, ""}, false},
      {"file tampered", {S::kValid, "K"}, {S::kBadDigest, "K"}, false},
      {"file's signature broken", {S::kValid, "K"}, {S::kBadSignature, "K"}, false},
      {"checking program unsigned", {S::kNoSignature, ""}, {S::kValid, "K"}, false},
      {"checking program tampered", {S::kBadDigest, "K"}, {S::kValid, "K"}, false},
      {"keys not named", {S::kValid, ""}, {S::kValid, ""}, false},
      {"expired certificate, same key", {S::kValid, "K"}, {S::kExpired, "K"}, true},
      {"checking program's certificate expired", {S::kExpired, "K"}, {S::kValid, "K"}, true},
      {"expired certificate, another key", {S::kValid, "K"}, {S::kExpired, "L"}, false},
      {"the next key, built in", {S::kValid, "K", {"N"}}, {S::kValid, "N"}, true},
      {"the next key, private root",
       {S::kUntrustedRoot, "K", {"N"}},
       {S::kUntrustedRoot, "N"},
       true},
      {"neither own nor next key", {S::kValid, "K", {"N"}}, {S::kValid, "L"}, false},
      {"next key, file tampered", {S::kValid, "K", {"N"}}, {S::kBadDigest, "N"}, false},
      {"next key, checking program unsigned",
       {S::kNoSignature, "", {"N"}},
       {S::kValid, "N"},
       false},
      {"an empty built-in key names nothing", {S::kValid, "K", {""}}, {S::kValid, ""}, false},
      {"keys the file claims to trust count for nothing",
       {S::kValid, "K"},
       {S::kValid, "L", {"K"}},
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(SameSigner(row.self, row.file), row.trusted);
  }
}

// How the platform's answers are read. Wine reports neither an untrusted root nor
// an expiry, so these rows stand for what Windows answers.
TEST(ProgramTrust, StatusOfCheckKeepsAKeyWhoseCertificateOnlyExpiredOrIsUnrooted) {
  namespace r = trust_result;
  std::vector<uint32_t> sound(40, 0);  // every step of the platform's table passed
  std::vector<uint32_t> sigFault = sound;
  sigFault[33] = r::kBadDigest;  // the signature step found the file changed
  std::vector<uint32_t> objFault = sound;
  objFault[32] = 0x80092009;  // the signed message could not be decoded
  const std::vector<uint32_t> none;
  const std::vector<uint32_t> shortTable(33, 0);  // no entry for the signature step
  struct Row {
    const char* what;
    uint32_t result;
    const std::vector<uint32_t>& steps;
    S status;
  };
  const Row rows[] = {
      {"valid", r::kOk, none, S::kValid},
      {"expired certificate", r::kExpired, sound, S::kExpired},
      {"certificate outside its issuer's period", r::kValidityPeriodNesting, sound, S::kExpired},
      {"expired, signature step failed", r::kExpired, sigFault, S::kBadSignature},
      {"expired, message not loaded", r::kExpired, objFault, S::kBadSignature},
      {"expired, no step table", r::kExpired, none, S::kBadSignature},
      {"expired, table too short", r::kExpired, shortTable, S::kBadSignature},
      {"untrusted root", r::kUntrustedRoot, sound, S::kUntrustedRoot},
      {"chain not built", r::kChaining, sound, S::kUntrustedRoot},
      {"test root", r::kUntrustedTestRoot, sound, S::kUntrustedRoot},
      {"untrusted root, signature step failed", r::kUntrustedRoot, sigFault, S::kBadSignature},
      {"untrusted root, no step table", r::kUntrustedRoot, none, S::kBadSignature},
      {"no signature", r::kNoSignature, none, S::kNoSignature},
      {"not a signable file", r::kSubjectFormUnknown, none, S::kNoSignature},
      {"no provider", r::kProviderUnknown, none, S::kNoSignature},
      {"bad digest", r::kBadDigest, sound, S::kBadDigest},
      {"explicitly distrusted (TRUST_E_EXPLICIT_DISTRUST)", 0x800B0111, sound, S::kBadSignature},
      {"not for code signing (CERT_E_WRONG_USAGE)", 0x800B0110, sound, S::kBadSignature},
      {"certificate signature bad (TRUST_E_CERT_SIGNATURE)", 0x80096004, sound, S::kBadSignature},
      {"any other failure", 0x80004005, sound, S::kBadSignature},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(StatusOfCheck(row.result, row.steps), row.status);
  }
}

TEST(ProgramTrust, CheckProgramTestsSignerThenImageThenRevision) {
  const std::u16string f = u"C:\\Prog\\New_Tindra.exe";
  struct Row {
    const char* what;
    Signature signature;
    std::string head;
    std::u16string version;
    std::optional<int32_t> revision;
    ProgramVerdict verdict;
  };
  const std::string program = testing::ProgramHead();
  const Row rows[] = {
      {"signed program, no revision asked",
       {S::kValid, "publisher key"},
       program,
       u"",
       {},
       ProgramVerdict::kTrusted},
      {"signed program of the revision",
       {S::kValid, "publisher key"},
       program,
       u"1.00.28",
       28,
       ProgramVerdict::kTrusted},
      {"signed program of another revision",
       {S::kValid, "publisher key"},
       program,
       u"1.00.27",
       28,
       ProgramVerdict::kWrongRevision},
      {"signed program without a version",
       {S::kValid, "publisher key"},
       program,
       u"",
       28,
       ProgramVerdict::kWrongRevision},
      {"signed, not a program",
       {S::kValid, "publisher key"},
       "<html>",
       u"1.00.28",
       28,
       ProgramVerdict::kNotAProgram},
      {"foreign key wins over everything",
       {S::kValid, "other"},
       "<html>",
       u"",
       28,
       ProgramVerdict::kForeign},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::FakeSystem p;
    p.signatures[f] = row.signature;
    if (row.head != program) p.heads[f] = row.head;
    p.versions[f] = row.version;
    // The fake names a New_ file as the program it would become.
    EXPECT_EQ(p.CheckFile(f, u"Tindra.exe", RevisionRule{row.revision, std::nullopt}).verdict,
              row.verdict);
  }
}

// A minimal image header: "MZ", e_lfanew, "PE\0\0", the file header and the
// optional header's magic.
std::string Image(uint16_t characteristics, uint16_t magic, bool pe = true) {
  std::string b(0x100, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x80;
  if (pe) b.replace(0x80, 4, std::string("PE\0\0", 4));
  b[0x80 + 4 + 18] = static_cast<char>(characteristics & 0xFF);
  b[0x80 + 4 + 19] = static_cast<char>(characteristics >> 8);
  b[0x80 + 24] = static_cast<char>(magic & 0xFF);
  b[0x80 + 25] = static_cast<char>(magic >> 8);
  return b;
}

TEST(DownloadedProgram, MustBeAWindowsExecutable) {
  EXPECT_TRUE(LooksLikeWindowsProgram(Image(0x0102, 0x10B)));
  EXPECT_TRUE(LooksLikeWindowsProgram(Image(0x0022, 0x20B)));
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x2102, 0x10B)));  // a DLL
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x0100, 0x10B)));  // not executable
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x0102, 0x0107)));
  EXPECT_FALSE(LooksLikeWindowsProgram(Image(0x0102, 0x10B, false)));
  EXPECT_FALSE(LooksLikeWindowsProgram("<html><body>404</body></html>"));
  EXPECT_FALSE(LooksLikeWindowsProgram(""));
  std::string truncated = Image(0x0102, 0x10B).substr(0, 0x90);
  EXPECT_FALSE(LooksLikeWindowsProgram(truncated));
  std::string farOff = Image(0x0102, 0x10B);
  farOff[0x3C] = 0x7F;
  farOff[0x3D] = 0x7F;
  EXPECT_FALSE(LooksLikeWindowsProgram(farOff));
}

}  // namespace
}  // namespace tindra
