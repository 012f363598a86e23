#include "platform/resolv_conf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace zarvik {

namespace {

using Servers = std::vector<std::string>;

TEST(ResolvConf, TakesTheWordAfterEachNameserverKeyword) {
  TempFolder folder("resolvconf");
  std::ofstream(folder / "resolv.conf", std::ios::binary)
      << "# nameserver 192.0.2.1\nsearch example.org\nnameserver\t192.0.2.53  # first\r\n"
         "nameservers 192.0.2.9\n  nameserver 2001:db8::53\nnameserver\nnameserver 198.51.100.53";
  EXPECT_EQ(readResolvConfNameServers((folder / "resolv.conf").c_str()),
            (Servers{"192.0.2.53", "2001:db8::53", "198.51.100.53"}));
}

TEST(ResolvConf, GivesNothingForAFileThatIsNoRegularFile) {
  TempFolder folder("resolvconf");
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  for (const std::string& path : {folder / "fifo", std::string("/dev/zero"), folder / "missing"}) {
    EXPECT_EQ(readResolvConfNameServers(path.c_str()), Servers{}) << path;
  }
}

}  // namespace

}  // namespace zarvik
