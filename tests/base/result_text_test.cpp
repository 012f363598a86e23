#include "base/result_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>

namespace zarvik {

namespace {

// The expected messages, written out as "codes|message" lines, one line per
// text; codes that share a text are listed together. Kept in this plain form
// on purpose so that it does not mirror the layout of the program's table.
constexpr const char* kExpectedRows = R"(
1|Program termination requested
3|Unable to convert hostname to IP address ( no answer from DNS server )
4|Unexpected error in connect
6|Unable to establish a connection with host
7|Timeout
8|Client not responding
9|Timeout in reading data
10|Timeout in writing data
11, 10054|Connection closed by peer for no good reason
12|Unable to establish a connection with dial-up network
13|Unable to establish a connection with POP3 host
14|Unable to establish a connection with mail host
15|Unable to establish a connection with FTP host
16|Unable to establish a connection with IMAP host
17|Recipient mailbox over quota or recipient mail system storage has been exceeded
18|Unable to establish a connection with HTTP host
20, 23, 26, 29, 30, 31, 34, 38, 215|Unable to create file
21, 24, 25, 28, 33, 36, 39, 216|Unable to write to file
22, 27, 35, 48, 214|Unable to open file
40|Unable to parse the required data
41, 42|Unable to create thread
46, 51, 188|No SendTo address given
47|Unable to convert SendTo to MSMail address
50|Unable to export ATT file
52|Unable to convert SendTo address
53|Unable to convert From address
54|Unable to convert ReturnPath address
55|Unable to create SMIME
60|Permanent message handling problem
61|Temporary message handling problem
62|Unable to expand data
65|Rescheduled due to running connection
90|Invalid names server
91|Invalid domain
92|Unable to connect to DNS server
93|No response from DNS server
94|No MX records available
95|Too many DNS server redirections
96|Unable to get the name of the mail host from the DNS server
97|Unable to receive data from DNS server
98|Answer from DNS server is null
99|Answer from DNS server is to short
100|DNS server reported a format error
101|DNS server reported a server failure
102|DNS server reported not implemented
103|DNS server refused query
104|DNS server reported an unknown error
105|DNS server reported that the domain does not exist
106|DNS server reported a name error
107|The MX record points to localhost
108|DNS server reported that the hostname does not exist
109|The domain has a Null MX record
110|The IP address is ignored
136|No AUTH command in EHLO found, Authentication failed
137|Authentication failed
140|FTP host reports that there is an unknown warning
141|FTP host reports that there is an unknown error
143|Unable to change directory
144|Unable to upload file
145|Temporary NNTP server problem
146|Permanent NNTP server problem
150|Expected an OK, but got a BAD
151|Expected an OK, but got a NO
152|This version of IMAP is not supported
155|Unable to initialize TLS
156|Unable to read the certificate file
157|Unable to read the private key file
158|Unable to verify the private key
159|Unable to get the TLS certificate from host
161|Unable to establish a TLS connection
162|Unable to negotiate TLS cipher
170|Expected an +OK, but got an -ERR
171|Mailbox is locked by another session
172|Unable to authenticate (wrong mailbox or password)
185|No To address given
186|Invalid To address given
187|Invalid CC address given
195|Timeout in session
196|Stack misses IPv6 ability
197|IPv6 prohibited
198|Only IPv6 available, but IPv6 is prohibited
200|Protocol not supported
201|Too many HTTP redirections
202|Permanent HTTP handling problem
203|HTTP redirection
210|DKIM reported an error
211|DKIM problem with the private key
212|DKIM signing problem
213|DKIM requires a From: in the message
260|message exceeds message size limit
261|relaying denied
262|access denied
263, 264|sender domain must resolve
265|spam access denied
266|sender IP must have reverse lookup (DNS PTR)
267, 268|sender HELO/EHLO FQDN must resolve
269|sender domain must resolve (enh)
270|user does not exist
271|blank sender not allowed
272|greylisting
273|ip address access denied
274|e-mail address access denied
275|SPF access denied
276|country ip address access denied
277|too many recipients
278|auto ip address access denied
279|blocked manually
282|self-sending spam access denied
283|delivery time expired
284|FCrDNS access denied
285|Questionable connection
286|Bandwidth throttling
10004|Interrupted function call
10009|Bad file descriptor
10013|Permission denied
10014|Bad address
10022|Invalid argument
10024|Too many open files
10035|Resource temporarily unavailable (would block)
10036|Operation now in progress
10037|Operation already in progress
10038|Socket operation on non-socket
10039|Destination address required
10040|Message too long
10041|Protocol wrong type for socket
10042|Bad protocol option
10043|Not supported
10044|Type not supported
10045|Operation not supported
10046|Protocol family not supported
10047|Address family not supported by protocol family
10048|Port or address already in use
10049|Assign requested address
10050|Network is down
10051|Network is unreachable
10052|Network dropped connection on reset
10053|Software caused connection abort
10055|No buffer space available
10056|Socket is already connected
10057|Socket is not connected
10058|Cannot send after socket shutdown
10059|Too many references; can't splice
10060|Connection timed out
10061|Connection refused
10062|Too many levels of symbolic links
10063|File name too long
10064|Host is down
10065|No route to host
10066|Directory not empty
10067|Too many processes
10068|Too many users
10069|Disc quota exceeded
10070|Stale NFS file handle
10071|Too many levels of remote in path
10091|Network subsystem is unavailable
10092|WinSock.DLL version out of range
10093|Successful WSAStartup() not yet performed
11001|Host not found
11002|Non-authoritative host not found
11003|This is a non-recoverable error
11004|Valid name, no data record of requested type
)";

std::map<std::int32_t, std::string> expectedMessages() {
  std::map<std::int32_t, std::string> messages;
  std::istringstream rows(kExpectedRows);
  std::string row;
  while (std::getline(rows, row)) {
    if (row.empty()) continue;
    const std::size_t bar = row.find('|');
    std::istringstream codes(row.substr(0, bar));
    std::string code;
    while (std::getline(codes, code, ',')) messages[std::stoi(code)] = row.substr(bar + 1);
  }
  return messages;
}

bool isTlsCode(std::int32_t code) { return code >= 155 && code <= 162 && code != 160; }

TEST(ResultText, EveryRowOfTheTableFormats) {
  const auto expected = expectedMessages();
  ASSERT_EQ(expected.size(), 186u);  // 161 rows, some with several codes
  for (const auto& [code, message] : expected) {
    const std::string prefix = isTlsCode(code) ? "TLS/SSL Problem: " : "Error: ";
    EXPECT_EQ(formatResult(ResultCode{code}).toStdString(), prefix + message + " [" + std::to_string(code) + "]");
  }
}

TEST(ResultText, EveryNamedCodeHasItsMessage) {
  // Two named codes print as "Unknown Error" on purpose: an empty name server
  // list and the answer to the non-standard reply code 590.
  const auto expected = expectedMessages();
  for (const ResultCode code : kNamedResultCodes) {
    const std::int32_t n = codeNumber(code);
    if (code == ResultCode::kOk || code == ResultCode::kNoNameServers || code == ResultCode::kSmtpReply590) continue;
    EXPECT_EQ(expected.count(n), 1u) << n << " is named but has no message row";
  }
}

TEST(ResultText, EveryOtherCodeIsUnknown) {
  const auto expected = expectedMessages();
  for (std::int32_t code = -300; code <= 11100; ++code) {
    if (expected.count(code) != 0) continue;
    EXPECT_EQ(resultMessage(ResultCode{code}), "Unknown Error") << code;
  }
  EXPECT_EQ(formatResult(ResultCode{INT32_MIN}), "Error: Unknown Error [-2147483648]");
  EXPECT_EQ(formatResult(ResultCode{INT32_MAX}), "Error: Unknown Error [2147483647]");
}

TEST(ResultText, RendersTheDocumentedExamples) {
  EXPECT_EQ(formatResult(ResultCode::kReadTimeout), "Error: Timeout in reading data [9]");
  EXPECT_EQ(formatResult(ResultCode::kWsaConnectionRefused), "Error: Connection refused [10061]");
  EXPECT_EQ(formatResult(ResultCode::kTlsConnectFailed), "TLS/SSL Problem: Unable to establish a TLS connection [161]");
  EXPECT_EQ(formatResult(ResultCode::kNoNameServers), "Error: Unknown Error [2]");
  // 160 lies inside the TLS range but has no text: the plain prefix.
  EXPECT_EQ(formatResult(ResultCode{160}), "Error: Unknown Error [160]");
  EXPECT_EQ(formatResult(ResultCode::kSmtpReply590), "Error: Unknown Error [177]");
  EXPECT_EQ(formatResult(ResultCode{10010}), "Error: Unknown Error [10010]");
}

TEST(ResultText, SharedTextsKeepTheirOwnNumbers) {
  EXPECT_EQ(formatResult(ResultCode::kPeerClosed), "Error: Connection closed by peer for no good reason [11]");
  EXPECT_EQ(formatResult(ResultCode::kWsaConnectionReset),
            "Error: Connection closed by peer for no good reason [10054]");
  EXPECT_EQ(formatResult(ResultCode{263}), "Error: sender domain must resolve [263]");
  EXPECT_EQ(formatResult(ResultCode{264}), "Error: sender domain must resolve [264]");
  EXPECT_EQ(formatResult(ResultCode{267}), "Error: sender HELO/EHLO FQDN must resolve [267]");
  EXPECT_EQ(formatResult(ResultCode{268}), "Error: sender HELO/EHLO FQDN must resolve [268]");
}

TEST(ResultCode, LinkFailureIsARangeCheck) {
  for (const std::int32_t code : {0, 19, 60, 61, 161, 260, 9999}) {
    EXPECT_FALSE(isLinkFailure(ResultCode{code})) << code;
  }
  for (const std::int32_t code : {1, 7, 11, 18, 10000, 10054, 10061, 11004}) {
    EXPECT_TRUE(isLinkFailure(ResultCode{code})) << code;
  }
}

}  // namespace

}  // namespace zarvik
