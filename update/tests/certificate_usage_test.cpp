// The code-signing purpose of a signer's certificate, decided from what its own
// extended-key-usage extension lists. The certificates are made by openssl, and
// openssl's library reads their extension, as the platform's does on Windows.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "update/program_trust.h"

namespace tindra {
namespace {

namespace fs = std::filesystem;

// A self-signed certificate made by openssl; `usage` is its extendedKeyUsage value,
// empty for none.
fs::path MakeCertificate(const fs::path& dir, const std::string& name, const std::string& usage) {
  const fs::path cert = dir / (name + ".pem");
  std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name +
                        " -keyout '" + (dir / (name + ".key")).string() + "' -out '" +
                        cert.string() + "'";
  if (!usage.empty()) command += " -addext extendedKeyUsage=" + usage;
  command += " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return cert;
}

// The purposes the certificate's extension lists, as object identifiers; nothing
// when it has no such extension.
std::optional<std::vector<std::string>> UsagesOf(const fs::path& pem) {
  FILE* f = std::fopen(pem.c_str(), "r");
  if (!f) return std::vector<std::string>();
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!cert) return std::vector<std::string>();
  int critical = 0;
  auto* usage = static_cast<EXTENDED_KEY_USAGE*>(
      X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr));
  std::optional<std::vector<std::string>> oids;
  if (usage) {
    oids.emplace();
    for (int i = 0; i < sk_ASN1_OBJECT_num(usage); ++i) {
      char text[128];
      OBJ_obj2txt(text, sizeof(text), sk_ASN1_OBJECT_value(usage, i), 1);
      oids->emplace_back(text);
    }
    EXTENDED_KEY_USAGE_free(usage);
  } else if (critical != -1) {
    oids.emplace();  // present but unreadable: no purpose
  }
  X509_free(cert);
  return oids;
}

TEST(CertificateUsage, OnlyACertificateForCodeSigningVouchesForAProgram) {
  const fs::path dir = fs::temp_directory_path() / ("tindra_eku_" + std::to_string(getpid()));
  fs::create_directories(dir);
  struct Row {
    const char* name;
    const char* usage;
    bool allowed;
  };
  const Row rows[] = {
      {"codesigning", "codeSigning", true},
      {"serveronly", "serverAuth", false},
      {"serverandclient", "serverAuth,clientAuth", false},
      {"serverandcode", "serverAuth,codeSigning", true},
      {"anyusage", "anyExtendedKeyUsage", false},
      {"nousage", "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(UsageAllowsCodeSigning(UsagesOf(MakeCertificate(dir, row.name, row.usage))),
              row.allowed);
  }
  EXPECT_FALSE(UsageAllowsCodeSigning(std::vector<std::string>()));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tindra
