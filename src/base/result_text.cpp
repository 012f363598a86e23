#include "base/result_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace zarvik {

namespace {

struct ResultMessage {
  std::int32_t code;
  std::string_view message;
};

// Texts that several codes share.
constexpr std::string_view kPeerClosed = "Connection closed by peer for no good reason";
constexpr std::string_view kCreateFile = "Unable to create file";
constexpr std::string_view kWriteFile = "Unable to write to file";
constexpr std::string_view kOpenFile = "Unable to open file";
constexpr std::string_view kCreateThread = "Unable to create thread";
constexpr std::string_view kNoSendTo = "No SendTo address given";
constexpr std::string_view kSenderDomain = "sender domain must resolve";
constexpr std::string_view kHeloMustResolve = "sender HELO/EHLO FQDN must resolve";

constexpr std::string_view kUnknownError = "Unknown Error";

// Every code that has a message, sorted by code. Codes from 10004 on are the
// Windows Sockets error numbers that the socket layer produces from errno.
constexpr ResultMessage kMessages[] = {
    {1, "Program termination requested"},
    {3, "Unable to convert hostname to IP address ( no answer from DNS server )"},
    {4, "Unexpected error in connect"},
    {6, "Unable to establish a connection with host"},
    {7, "Timeout"},
    {8, "Client not responding"},
    {9, "Timeout in reading data"},
    {10, "Timeout in writing data"},
    {11, kPeerClosed},
    {12, "Unable to establish a connection with dial-up network"},
    {13, "Unable to establish a connection with POP3 host"},
    {14, "Unable to establish a connection with mail host"},
    {15, "Unable to establish a connection with FTP host"},
    {16, "Unable to establish a connection with IMAP host"},
    {17, "Recipient mailbox over quota or recipient mail system storage has been exceeded"},
    {18, "Unable to establish a connection with HTTP host"},
    {20, kCreateFile},
    {21, kWriteFile},
    {22, kOpenFile},
    {23, kCreateFile},
    {24, kWriteFile},
    {25, kWriteFile},
    {26, kCreateFile},
    {27, kOpenFile},
    {28, kWriteFile},
    {29, kCreateFile},
    {30, kCreateFile},
    {31, kCreateFile},
    {33, kWriteFile},
    {34, kCreateFile},
    {35, kOpenFile},
    {36, kWriteFile},
    {38, kCreateFile},
    {39, kWriteFile},
    {40, "Unable to parse the required data"},
    {41, kCreateThread},
    {42, kCreateThread},
    {46, kNoSendTo},
    {47, "Unable to convert SendTo to MSMail address"},
    {48, kOpenFile},
    {50, "Unable to export ATT file"},
    {51, kNoSendTo},
    {52, "Unable to convert SendTo address"},
    {53, "Unable to convert From address"},
    {54, "Unable to convert ReturnPath address"},
    {55, "Unable to create SMIME"},
    {60, "Permanent message handling problem"},
    {61, "Temporary message handling problem"},
    {62, "Unable to expand data"},
    {65, "Rescheduled due to running connection"},
    {90, "Invalid names server"},
    {91, "Invalid domain"},
    {92, "Unable to connect to DNS server"},
    {93, "No response from DNS server"},
    {94, "No MX records available"},
    {95, "Too many DNS server redirections"},
    {96, "Unable to get the name of the mail host from the DNS server"},
    {97, "Unable to receive data from DNS server"},
    {98, "Answer from DNS server is null"},
    {99, "Answer from DNS server is to short"},
    {100, "DNS server reported a format error"},
    {101, "DNS server reported a server failure"},
    {102, "DNS server reported not implemented"},
    {103, "DNS server refused query"},
    {104, "DNS server reported an unknown error"},
    {105, "DNS server reported that the domain does not exist"},
    {106, "DNS server reported a name error"},
    {107, "The MX record points to localhost"},
    {108, "DNS server reported that the hostname does not exist"},
    {109, "The domain has a Null MX record"},
    {110, "The IP address is ignored"},
    {136, "No AUTH command in EHLO found, Authentication failed"},
    {137, "Authentication failed"},
    {140, "FTP host reports that there is an unknown warning"},
    {141, "FTP host reports that there is an unknown error"},
    {143, "Unable to change directory"},
    {144, "Unable to upload file"},
    {145, "Temporary NNTP server problem"},
    {146, "Permanent NNTP server problem"},
    {150, "Expected an OK, but got a BAD"},
    {151, "Expected an OK, but got a NO"},
    {152, "This version of IMAP is not supported"},
    {155, "Unable to initialize TLS"},
    {156, "Unable to read the certificate file"},
    {157, "Unable to read the private key file"},
    {158, "Unable to verify the private key"},
    {159, "Unable to get the TLS certificate from host"},
    {161, "Unable to establish a TLS connection"},
    {162, "Unable to negotiate TLS cipher"},
    {170, "Expected an +OK, but got an -ERR"},
    {171, "Mailbox is locked by another session"},
    {172, "Unable to authenticate (wrong mailbox or password)"},
    {185, "No To address given"},
    {186, "Invalid To address given"},
    {187, "Invalid CC address given"},
    {188, kNoSendTo},
    {195, "Timeout in session"},
    {196, "Stack misses IPv6 ability"},
    {197, "IPv6 prohibited"},
    {198, "Only IPv6 available, but IPv6 is prohibited"},
    {200, "Protocol not supported"},
    {201, "Too many HTTP redirections"},
    {202, "Permanent HTTP handling problem"},
    {203, "HTTP redirection"},
    {210, "DKIM reported an error"},
    {211, "DKIM problem with the private key"},
    {212, "DKIM signing problem"},
    {213, "DKIM requires a From: in the message"},
    {214, kOpenFile},
    {215, kCreateFile},
    {216, kWriteFile},
    {260, "message exceeds message size limit"},
    {261, "relaying denied"},
    {262, "access denied"},
    {263, kSenderDomain},
    {264, kSenderDomain},
    {265, "spam access denied"},
    {266, "sender IP must have reverse lookup (DNS PTR)"},
    {267, kHeloMustResolve},
    {268, kHeloMustResolve},
    {269, "sender domain must resolve (enh)"},
    {270, "user does not exist"},
    {271, "blank sender not allowed"},
    {272, "greylisting"},
    {273, "ip address access denied"},
    {274, "e-mail address access denied"},
    {275, "SPF access denied"},
    {276, "country ip address access denied"},
    {277, "too many recipients"},
    {278, "auto ip address access denied"},
    {279, "blocked manually"},
    {282, "self-sending spam access denied"},
    {283, "delivery time expired"},
    {284, "FCrDNS access denied"},
    {285, "Questionable connection"},
    {286, "Bandwidth throttling"},
    {10004, "Interrupted function call"},
    {10009, "Bad file descriptor"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Resource temporarily unavailable (would block)"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Not supported"},
    {10044, "Type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Port or address already in use"},
    {10049, "Assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, kPeerClosed},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Cannot send after socket shutdown"},
    {10059, "Too many references; can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "WinSock.DLL version out of range"},
    {10093, "Successful WSAStartup() not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "This is a non-recoverable error"},
    {11004, "Valid name, no data record of requested type"},
};

constexpr bool sortedByCode() {
  for (std::size_t i = 1; i < std::size(kMessages); ++i) {
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  }
  return true;
}
static_assert(sortedByCode(), "the lookup needs the table sorted by code, without duplicates");

const ResultMessage* findMessage(ResultCode code) {
  const std::int32_t n = codeNumber(code);
  const auto* end = std::end(kMessages);
  const auto* row = std::lower_bound(std::begin(kMessages), end, n,
                                     [](const ResultMessage& entry, std::int32_t value) { return entry.code < value; });
  return (row != end && row->code == n) ? row : nullptr;
}

}  // namespace

std::string_view resultMessage(ResultCode code) {
  const ResultMessage* row = findMessage(code);
  return row != nullptr ? row->message : kUnknownError;
}

bool isTlsProblem(ResultCode code) {
  const std::int32_t n = codeNumber(code);
  return n >= 155 && n <= 162 && findMessage(code) != nullptr;
}

SharedString formatResult(ResultCode code) {
  SharedString line(isTlsProblem(code) ? "TLS/SSL Problem: " : "Error: ");
  line.append(resultMessage(code));
  line.append(" [");
  line.append(SharedString::fromInteger(codeNumber(code)));
  line.append(']');
  return line;
}

}  // namespace zarvik
