// The trust rule and the order of a program's checks, over a scripted inspector.
#include <gtest/gtest.h>

#include "update/ProgramTrust.h"
#include "update/tests/fake_platform.h"

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
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(SameSigner(row.self, row.file), row.trusted);
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
    testing::FakePlatform p;
    p.signatures[f] = row.signature;
    p.heads[f] = row.head;
    p.versions[f] = row.version;
    EXPECT_EQ(CheckProgram(p, f, row.revision), row.verdict);
  }
}

}  // namespace
}  // namespace tindra
