// The trusted fetch: what is fetched, checked, moved and removed, in order.
#include "update/trusted_fetch.h"

#include <gtest/gtest.h>

#include "update/tests/fake_system.h"

namespace tindra {
namespace {

TEST(TrustedFetch, ReplacerIsFetchedWhenMissingUntrustedOrBelowTheFloorAndKeptOnlyWhenTrusted) {
  const std::u16string path = u"C:\\Prog\\Pellmora.exe";
  const std::u16string part = path + u".part";
  const std::u16string url = u"http://h/Pellmora.exe";
  struct Row {
    const char* what;
    bool present;
    Signature local;
    ProgramNames localNames;
    std::u16string localVersion;
    Signature served;
    ProgramNames servedNames;
    std::u16string servedVersion;
    int16_t downloaded;
    bool trusted;
    std::vector<std::string> log;
  };
  const Signature good{SignatureStatus::kValid, "publisher key"};
  const Signature none{SignatureStatus::kNoSignature, ""};
  const ProgramNames replacer{u"Pellmora.exe", u"Pellmora"};
  const ProgramNames program{u"Tindra.exe", u"Tindra"};
  const std::string look = "hold C:\\Prog\\Pellmora.exe run";
  const std::string lookCheck = "check C:\\Prog\\Pellmora.exe";
  const std::string lookDone = "release C:\\Prog\\Pellmora.exe";
  const std::string get = "download http://h/Pellmora.exe -> C:\\Prog\\Pellmora.exe.part";
  const std::string hold = "hold C:\\Prog\\Pellmora.exe.part rename";
  const std::string check = "check C:\\Prog\\Pellmora.exe.part";
  const std::string put = "move C:\\Prog\\Pellmora.exe.part -> C:\\Prog\\Pellmora.exe";
  const std::string release = "release C:\\Prog\\Pellmora.exe.part";
  const std::string drop = "remove C:\\Prog\\Pellmora.exe.part";
  const std::vector<std::string> looked = {look, lookCheck, lookDone};
  auto then = [&](std::vector<std::string> more) {
    std::vector<std::string> all = looked;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const Row rows[] = {
      {"trusted already", true, good, replacer, u"1.00.27", good, replacer, u"1.00.27", -1, true,
       looked},
      {"broken, fetched", true, none, replacer, u"1.00.27", good, replacer, u"1.00.27", -1, true,
       then({get, hold, check, put, release})},
      {"missing, fetched",
       false,
       none,
       replacer,
       u"",
       good,
       replacer,
       u"1.00.27",
       -1,
       true,
       {look, get, hold, check, put, release}},
      {"missing, the server's is below the floor",
       false,
       none,
       replacer,
       u"",
       good,
       replacer,
       u"1.00.26",
       -1,
       false,
       {look, get, hold, check, release, drop}},
      {"broken, the server's is below the floor", true, none, replacer, u"1.00.27", good, replacer,
       u"1.00.26", -1, false, then({get, hold, check, release, drop})},
      {"trusted but below the floor, replaced", true, good, replacer, u"1.00.26", good, replacer,
       u"1.00.28", -1, true, then({get, hold, check, put, release})},
      {"the publisher's program in the replacer's place, repaired", true, good, program, u"1.00.27",
       good, replacer, u"1.00.27", -1, true, then({get, hold, check, put, release})},
      {"broken, the server's is foreign too",
       true,
       none,
       replacer,
       u"1.00.27",
       {SignatureStatus::kValid, "other"},
       replacer,
       u"1.00.27",
       -1,
       false,
       then({get, hold, check, release, drop})},
      {"broken, the server serves the publisher's program as the replacer", true, none, replacer,
       u"1.00.27", good, program, u"1.00.27", -1, false, then({get, hold, check, release, drop})},
      {"broken, the download fails", true, none, replacer, u"1.00.27", good, replacer, u"1.00.27",
       0, false, then({get, drop})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::FakeSystem p;
    p.logHolds = true;
    if (row.present) p.AddFile(path);
    p.signatures[path] = row.local;
    p.names[path] = row.localNames;
    p.versions[path] = row.localVersion;
    p.signatures[part] = row.served;
    p.names[part] = row.servedNames;
    p.versions[part] = row.servedVersion;
    p.downloadResults[url] = row.downloaded;
    EXPECT_EQ(EnsureTrustedCompanion(p.services(), url, path, u"Pellmora.exe", 27), row.trusted);
    EXPECT_EQ(p.log, row.log);
  }
}

}  // namespace
}  // namespace tindra
