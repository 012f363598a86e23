#include "tls/dane_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "platform/temp_folder.h"
#include "support/test_pki.h"

namespace zarvik {

namespace {

namespace fs = std::filesystem;

constexpr TlsPolicy kProbePolicy{0xB, 0x00100FFF};
constexpr Verdict kVerified{Verdict::kCn | Verdict::kDaneVerified | Verdict::kStrongKey,
                            Verdict::kUsableTlsa | Verdict::kStrongAlgorithm};

class DaneCacheTest : public ::testing::Test {
 protected:
  DaneCacheTest() : work_(folder_.path().string() + "/") {}

  fs::path cacheFolder() const { return folder_.path() / "CRL"; }
  fs::path cacheFile() const { return cacheFolder() / (fingerprintHex(leaf_.certificate.get()) + ".dane"); }
  void keep(CertificateStatus status, std::time_t now = 1800000000) {
    keepInDaneCache(work_, leaf_.certificate.get(), status, kVerified, kProbePolicy, now);
  }

  TempFolder folder_{"dane-cache"};
  SharedString work_;
  TestIdentity leaf_ = makeTestIdentity({});
};

TEST_F(DaneCacheTest, KeepsAnAcceptedResultAndDropsARefusedOne) {
  keep(CertificateStatus::kCertificateValidAndTrusted);
  struct stat info {};
  ASSERT_EQ(::stat(cacheFolder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  const std::string text = readFile(cacheFile());
  const std::regex form(
      "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"
      "1800000000\n"
      "2148008067\n"  // 0x80080000 + 131
      "(\\d+)\n"
      "4521187518447627\n"  // toleranceMask 0x00100FFF in the upper half, checkMask 0xB
      "TLS Cert: /O=Zarvik Test/CN=mx.example.test\n"
      "  Issuer: /O=Zarvik Test/CN=mx.example.test\n"
      "   Valid: \\d{4}-\\d\\d-\\d\\d - \\d{4}-\\d\\d-\\d\\d\n");
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(text, parts, form)) << text;
  EXPECT_EQ(std::stoull(parts[1]), (std::uint64_t{kVerified.high} << 32) | kVerified.low);

  keep(CertificateStatus::kInvalidCertificate);
  EXPECT_FALSE(fs::exists(cacheFile()));
}

TEST_F(DaneCacheTest, AnEntryStandsInForEightHoursUnderTheSamePolicy) {
  constexpr std::time_t kMade = 1800000000;
  keepInDaneCache(work_, leaf_.certificate.get(), CertificateStatus::kCertificateValidAndTrusted, kVerified, {0xB, 0},
                  kMade);
  const struct {
    std::time_t now;
    std::uint32_t checkMask;
    bool found;
  } cases[] = {{kMade + 28800, 0xB, true}, {kMade + 28801, 0xB, false}, {kMade - 1, 0xB, false}, {kMade, 0x9, false}};
  for (const auto& c : cases) {
    DaneCacheEntry entry;
    EXPECT_EQ(readDaneCache(work_, leaf_.certificate.get(), c.checkMask, c.now, entry), c.found) << c.now;
    if (c.found) {
      EXPECT_EQ(entry.verdict.low, kVerified.low);
    }
  }
}

TEST_F(DaneCacheTest, NeverFollowsALinkNorWritesIntoAnotherUsersFolder) {
  // A link planted at the file's name stays, and its target is not touched.
  fs::create_directory(cacheFolder());
  const fs::path target = folder_.path() / "target";
  { std::ofstream(target) << "mine"; }
  fs::create_symlink(target, cacheFile());
  keep(CertificateStatus::kCertificateValidAndTrusted);
  keep(CertificateStatus::kInvalidCertificate);
  EXPECT_TRUE(fs::is_symlink(cacheFile()));
  EXPECT_EQ(readFile(target), "mine");

  // A CRL folder that is itself a link is not used.
  fs::remove(cacheFile());
  fs::remove(cacheFolder());
  fs::create_directory(folder_.path() / "elsewhere");
  fs::create_directory_symlink(folder_.path() / "elsewhere", cacheFolder());
  keep(CertificateStatus::kCertificateValidAndTrusted);
  EXPECT_TRUE(fs::is_empty(folder_.path() / "elsewhere"));

  if (::geteuid() != 0) GTEST_SKIP() << "a folder of another user needs root to make";
  fs::remove(cacheFolder());
  fs::create_directory(cacheFolder());
  ASSERT_EQ(::chmod(cacheFolder().c_str(), 0777), 0);
  ASSERT_EQ(::chown(cacheFolder().c_str(), 65534, 65534), 0);
  keep(CertificateStatus::kCertificateValidAndTrusted);
  EXPECT_TRUE(fs::is_empty(cacheFolder()));
  // Nor is its mode mended: it is not ours to change.
  EXPECT_EQ(fs::status(cacheFolder()).permissions(), fs::perms::all);
}

TEST_F(DaneCacheTest, ClosesItsOwnFolderToOthersBeforeUsingIt) {
  // A CRL folder of the user's that others may read or write into (made
  // by hand, by an older version beside the program) is set to 0700.
  for (const mode_t mode : {0777u, 0755u, 0500u}) {
    fs::remove_all(cacheFolder());
    fs::create_directory(cacheFolder());
    ASSERT_EQ(::chmod(cacheFolder().c_str(), mode), 0);
    keep(CertificateStatus::kCertificateValidAndTrusted);
    EXPECT_EQ(fs::status(cacheFolder()).permissions(), fs::perms::owner_all) << std::oct << mode;
    EXPECT_TRUE(fs::exists(cacheFile())) << std::oct << mode;
  }
}

}  // namespace

}  // namespace zarvik
