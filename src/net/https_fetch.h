#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zarvik {

// One HTTPS GET, made with libcurl to addresses the caller resolved itself,
// so that the program's own DNS client (and its view of DNSSEC) decides
// where the request goes. Redirects are never followed and proxies from the
// environment are never used. libcurl is loaded when the first fetch is
// made; a run that fetches nothing does not load it.

struct HttpsFetchRequest {
  std::string host;  // sent as SNI and Host, checked against the certificate
  std::string path;  // "/.well-known/mta-sts.txt"
  // The addresses to connect to, in text form (IPv6 without brackets), in
  // the order to try; the name is never looked up by libcurl.
  std::vector<std::string> addresses;
  std::string caFile;                                 // the trust store for the server's certificate
  std::uint32_t timeoutMs = 10000;                    // bounds the whole exchange
  std::size_t maxBodyBytes = std::size_t{64} * 1024;  // a longer body ends the fetch as kTooLarge
  std::string userAgent;
};

enum class HttpsFetchStatus {
  kOk,                  // a response came; httpStatus says which
  kLibraryMissing,      // libcurl could not be loaded
  kConnectFailed,       // no address took the connection
  kTimeout,             // timeoutMs passed
  kCertificateInvalid,  // the server's certificate did not verify for host
  kTlsFailed,           // the handshake failed otherwise
  kTooLarge,            // the body is longer than maxBodyBytes
  kStopped,             // a termination was requested (RunFlag)
  kFailed,              // anything else; error says what
};

struct HttpsFetchResult {
  HttpsFetchStatus status = HttpsFetchStatus::kFailed;
  long httpStatus = 0;      // 200, 301, 404 ...; 0 without a response
  std::string contentType;  // as the server sent it, parameters included
  std::string location;     // of a redirect, not followed
  std::string body;         // at most maxBodyBytes
  std::string address;      // the address that answered
  std::string error;        // libcurl's message for a failure
  std::uint32_t ms = 0;
};

// Makes the request; never throws, never waits longer than timeoutMs (and
// ends early once RunFlag is cleared).
HttpsFetchResult fetchHttps(const HttpsFetchRequest& request);

// The names of the statuses in the report: "ok", "library_missing",
// "connect_failed", "timeout", "certificate_invalid", "tls_failed",
// "too_large", "stopped", "failed".
const char* httpsFetchStatusName(HttpsFetchStatus status);

}  // namespace zarvik
