// Which program a file is, and which revisions may replace one in place.
#include "update/program_role.h"

#include <gtest/gtest.h>

#include "update/tests/fake_system.h"

namespace tindra {
namespace {

using S = SignatureStatus;
using V = ProgramVerdict;

TEST(ProgramRole, EachProgramIsTrustedOnlyInTheRoleItsVersionBlockNames) {
  const ProgramNames tindra{u"Tindra.exe", u"Tindra"};
  const ProgramNames checker{u"Vantorel.exe", u"Vantorel"};
  const ProgramNames replacer{u"Pellmora.exe", u"Pellmora"};
  struct Row {
    const char* what;
    ProgramNames names;
    const char16_t* role;
    bool trusted;
  };
  const Row rows[] = {
      {"the program as itself", tindra, u"Tindra.exe", true},
      {"the checker as itself", checker, u"Vantorel.exe", true},
      {"the replacer as itself", replacer, u"Pellmora.exe", true},
      {"names in another case", {u"TINDRA.EXE", u"tindra"}, u"Tindra.exe", true},
      {"internal name with .exe", {u"Pellmora.exe", u"Pellmora.exe"}, u"Pellmora.exe", true},
      {"the replacer as the checker", replacer, u"Vantorel.exe", false},
      {"the program as the checker", tindra, u"Vantorel.exe", false},
      {"the checker as the program", checker, u"Tindra.exe", false},
      {"the replacer as the program", replacer, u"Tindra.exe", false},
      {"the program as the replacer", tindra, u"Pellmora.exe", false},
      {"original name right, internal name another's",
       {u"Tindra.exe", u"Pellmora"},
       u"Tindra.exe",
       false},
      {"internal name right, original name another's",
       {u"Vantorel.exe", u"Tindra"},
       u"Tindra.exe",
       false},
      {"no version block", {}, u"Tindra.exe", false},
      {"original name without .exe", {u"Tindra", u"Tindra"}, u"Tindra.exe", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(NamesRole(row.names, row.role), row.trusted);
  }
}

TEST(ProgramRole, RevisionRulesKeepTheAnnouncedOneAndNeverGoBack) {
  struct Row {
    const char* what;
    std::optional<int32_t> revision;
    RevisionRule rule;
    bool allowed;
  };
  const Row rows[] = {
      {"no rule", std::nullopt, {}, true},
      {"the announced revision", 28, {28, std::nullopt}, true},
      {"older than announced", 27, {28, std::nullopt}, false},
      {"newer than announced", 29, {28, std::nullopt}, false},
      {"the same as the one in place", 27, {std::nullopt, 27}, true},
      {"newer than the one in place", 28, {std::nullopt, 27}, true},
      {"older than the one in place", 26, {std::nullopt, 27}, false},
      {"no revision, a floor asked", std::nullopt, {std::nullopt, 0}, false},
      {"announced but below the floor", 26, {26, 27}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(RevisionAllowed(row.revision, row.rule), row.allowed);
  }
}

TEST(ProgramRole, TheSignatureIsCheckedBeforeTheRoleAndTheRoleBeforeTheRevision) {
  const std::u16string f = u"C:\\Prog\\Vantorel.exe.part";
  struct Row {
    const char* what;
    Signature signature;
    ProgramNames names;
    std::u16string version;
    RevisionRule rule;
    V verdict;
  };
  const Signature good{S::kValid, "publisher key"};
  const ProgramNames checker{u"Vantorel.exe", u"Vantorel"};
  const ProgramNames replacer{u"Pellmora.exe", u"Pellmora"};
  const Row rows[] = {
      {"the checker of the announced revision", good, checker, u"1.00.28", {28, {}}, V::kTrusted},
      {"a newer replacer served as the checker",
       good,
       replacer,
       u"1.00.28",
       {28, {}},
       V::kWrongRole},
      {"a foreign file naming the role",
       {S::kValid, "other"},
       checker,
       u"1.00.28",
       {28, {}},
       V::kForeign},
      {"the checker of an older revision", good, checker, u"1.00.27", {28, {}}, V::kWrongRevision},
      {"the wrong role wins over the wrong revision",
       good,
       replacer,
       u"1.00.27",
       {28, {}},
       V::kWrongRole},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::FakeSystem p;
    p.signatures[f] = row.signature;
    p.names[f] = row.names;
    p.versions[f] = row.version;
    EXPECT_EQ(p.CheckFile(f, u"Vantorel.exe", row.rule).verdict, row.verdict);
  }
  testing::FakeSystem unsigned_build;
  EXPECT_TRUE(TrustsAnyProgram(unsigned_build));
  unsigned_build.own = Signature{S::kNoSignature, ""};
  EXPECT_FALSE(TrustsAnyProgram(unsigned_build));
}

TEST(ProgramRole, AHeldFileIsCheckedAsItWasWhenHeldAndMovesWithItsEntry) {
  testing::FakeSystem p;
  const std::u16string part = u"C:\\Prog\\Vantorel.exe.part";
  const std::u16string target = u"C:\\Prog\\Vantorel.exe";
  p.AddFile(part);
  p.versions[part] = u"1.00.28";
  std::unique_ptr<HeldFile> held = p.Hold(part, HoldFor::kRename);
  ASSERT_TRUE(held);
  // Whatever comes to the path after the hold is not what the check reads.
  p.signatures[part] = Signature{SignatureStatus::kValid, "other"};
  p.versions[part] = u"1.00.26";
  const ProgramCheck check = CheckHeldProgram(p, *held, u"Vantorel.exe");
  EXPECT_EQ(check.verdict, ProgramVerdict::kTrusted);
  EXPECT_EQ(check.revision, 28);
  EXPECT_EQ(p.CheckFile(part, u"Vantorel.exe").verdict, ProgramVerdict::kForeign);
  // The move renames the entry: the file and what it holds are at the target now.
  ASSERT_TRUE(held->MoveOver(target));
  EXPECT_FALSE(p.HasFile(part));
  EXPECT_TRUE(p.HasFile(target));
  EXPECT_EQ(p.versions[target], u"1.00.26");
  // A name with nothing at it cannot be held.
  EXPECT_FALSE(p.Hold(part, HoldFor::kRun));
}

}  // namespace
}  // namespace tindra
