// The version file on the update server: its name and its body.
#include "update/server_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace tindra {
namespace {

TEST(VersionFile, OneNumberWithBlanksAroundIt) {
  EXPECT_EQ(ParseLatestRevision("28"), 28);
  EXPECT_EQ(ParseLatestRevision("28\r\n"), 28);
  EXPECT_EQ(ParseLatestRevision(" \t0028 \n"), 28);
  for (std::string bad :
       {"", "\r\n", "<html>404", "28a", "2 8", "-1", "1e3", "27.5", "1234567890"}) {
    EXPECT_FALSE(ParseLatestRevision(bad)) << bad;
  }
  EXPECT_EQ(VersionFileName(u"Tindra.exe"), u"Tindra_lastver.txt");
  EXPECT_EQ(VersionFileName(u"my.app.exe"), u"my.app_lastver.txt");
}

}  // namespace
}  // namespace tindra
