#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace selvane {
namespace {

using test::RunSelvane;
using test::TempDir;

TEST(CliProbe, UsageErrorsExitWith2) {
  EXPECT_EQ(RunSelvane({"probe"}).exitCode, 2);
  EXPECT_EQ(RunSelvane({"probe", "a", "b"}).exitCode, 2);
  EXPECT_EQ(RunSelvane({"probe", "--bogus", "a"}).exitCode, 2);
  EXPECT_EQ(RunSelvane({"no-such-command"}).exitCode, 2);
}

TEST(CliProbe, UnreadableSourcesExitWith3AndSayWhy) {
  TempDir dir;
  test::WriteFile(dir / "short.img", std::vector<uint8_t>(8000, 0));
  auto shortImage = RunSelvane({"probe", dir / "short.img"});
  EXPECT_EQ(shortImage.exitCode, 3);
  EXPECT_NE(shortImage.err.find("shorter than 16 KiB"), std::string::npos) << shortImage.err;
  EXPECT_TRUE(shortImage.out.empty());

  auto missing = RunSelvane({"probe", dir / "missing.img"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.err.find("cannot find the file"), std::string::npos) << missing.err;
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << "one line";
}

TEST(CliProbe, HelpAnswersWithAnExample) {
  auto help = RunSelvane({"probe", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Example"), std::string::npos);
  auto overview = RunSelvane({"--help"});
  EXPECT_EQ(overview.exitCode, 0);
  EXPECT_NE(overview.out.find("probe"), std::string::npos);
}

}  // namespace
}  // namespace selvane
