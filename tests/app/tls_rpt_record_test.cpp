#include "app/tls_rpt_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zarvik {

namespace {

using Status = TlsRptRecord::Status;

TEST(TlsRptRecord, JudgesTheRecordsOfADomain) {
  struct Case {
    std::vector<std::string> texts;
    Status status;
    std::vector<std::string> uris;
    std::size_t problems;
  };
  const std::vector<Case> cases = {
      {{"v=TLSRPTv1; rua=mailto:tlsrpt@example.org"}, Status::kValid, {"mailto:tlsrpt@example.org"}, 0},
      {{"v=TLSRPTv1;rua=mailto:a@example.org, https://r.example.org/x"},
       Status::kValid,
       {"mailto:a@example.org", "https://r.example.org/x"},
       0},
      {{"v=spf1 -all", "v=TLSRPTv1; rua=MAILTO:a@example.org"}, Status::kValid, {"MAILTO:a@example.org"}, 0},
      {{}, Status::kNone, {}, 0},
      {{"v=spf1 -all", "v=TLSRPTv10; rua=mailto:a@example.org"}, Status::kNone, {}, 0},  // another version
      {{"v=TLSRPTv1; rua=mailto:a@example.org", "v=TLSRPTv1; rua=mailto:b@example.org"}, Status::kSeveral, {}, 1},
      {{"v=TLSRPTv1"}, Status::kInvalid, {}, 1},  // no rua
      {{"v=TLSRPTv1; rua=ftp://r.example.org/"}, Status::kInvalid, {}, 1},
      {{"v=TLSRPTv1; rua=mailto:"}, Status::kInvalid, {}, 1},  // a scheme and nothing else
      {{"v=TLSRPTv1; rua=mailto:a@example.org; rua=mailto:b@example.org"},
       Status::kInvalid,
       {"mailto:a@example.org", "mailto:b@example.org"},
       1},
  };
  for (const Case& c : cases) {
    const std::string label = c.texts.empty() ? "(none)" : c.texts.back();
    const TlsRptRecord record = judgeTlsRptRecords(c.texts);
    EXPECT_EQ(record.status, c.status) << label;
    EXPECT_EQ(record.reportUris, c.uris) << label;
    EXPECT_EQ(record.problems.size(), c.problems) << label;
  }
}

}  // namespace

}  // namespace zarvik
