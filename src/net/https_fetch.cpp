#include "net/https_fetch.h"

#include <curl/curl.h>

#include <chrono>
#include <mutex>

#include "base/run_flag.h"
#include "platform/shared_library.h"

namespace zarvik {

namespace {

// The few libcurl calls a fetch makes, looked up once.
struct CurlApi {
  SharedLibrary library;
  std::string loadError;
  CURLcode (*globalInit)(long) = nullptr;
  CURL* (*easyInit)() = nullptr;
  CURLcode (*easySetopt)(CURL*, CURLoption, ...) = nullptr;
  CURLcode (*easyPerform)(CURL*) = nullptr;
  CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...) = nullptr;
  void (*easyCleanup)(CURL*) = nullptr;
  curl_slist* (*slistAppend)(curl_slist*, const char*) = nullptr;
  void (*slistFreeAll)(curl_slist*) = nullptr;

  bool usable() const { return easyInit != nullptr; }
};

template <typename Function>
bool bind(const SharedLibrary& library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(library.symbol(name));
  return function != nullptr;
}

#ifdef ZARVIK_LINK_CURL
// The sanitizer build links libcurl instead: clang 14's LeakSanitizer can
// crash at exit while it scans the thread-local storage of libraries that
// were loaded at run time, and libcurl brings many.
bool bindCurl(CurlApi& api, CURL* (*&easyInit)()) {
  api.globalInit = &curl_global_init;
  api.easySetopt = &curl_easy_setopt;
  api.easyPerform = &curl_easy_perform;
  api.easyGetinfo = &curl_easy_getinfo;
  api.easyCleanup = &curl_easy_cleanup;
  api.slistAppend = &curl_slist_append;
  api.slistFreeAll = &curl_slist_free_all;
  easyInit = &curl_easy_init;
  return true;
}
#else
bool bindCurl(CurlApi& api, CURL* (*&easyInit)()) {
  if (!api.library.open("libcurl.so.4", api.loadError)) return false;
  const SharedLibrary& lib = api.library;
  if (!bind(lib, "curl_global_init", api.globalInit) || !bind(lib, "curl_easy_setopt", api.easySetopt) ||
      !bind(lib, "curl_easy_perform", api.easyPerform) || !bind(lib, "curl_easy_getinfo", api.easyGetinfo) ||
      !bind(lib, "curl_easy_cleanup", api.easyCleanup) || !bind(lib, "curl_slist_append", api.slistAppend) ||
      !bind(lib, "curl_slist_free_all", api.slistFreeAll) || !bind(lib, "curl_easy_init", easyInit)) {
    api.loadError = "libcurl.so.4 lacks a function the fetch needs";
    return false;
  }
  return true;
}
#endif

void loadCurl(CurlApi& api) {
  CURL* (*easyInit)() = nullptr;
  if (!bindCurl(api, easyInit)) return;
  // Once per process, before any handle, as libcurl asks; OpenSSL is
  // already set up by then and libcurl leaves it as it is.
  if (api.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    api.loadError = "libcurl could not be initialised";
    return;
  }
  api.easyInit = easyInit;
}

// Process-wide because libcurl's global set-up is once per process; after
// the first call it is only read.
const CurlApi& curlApi() {
  static CurlApi api;
  static std::once_flag loaded;
  std::call_once(loaded, [] { loadCurl(api); });
  return api;
}

struct BodySink {
  std::string* body = nullptr;
  std::size_t limit = 0;
  bool overflowed = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t bytes = size * count;
  if (sink->body->size() + bytes > sink->limit) {
    // Returning less than given makes libcurl end the transfer: nothing
    // beyond the limit is ever held.
    sink->overflowed = true;
    return 0;
  }
  sink->body->append(data, bytes);
  return bytes;
}

int checkRunFlag(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return runAllowed() ? 0 : 1; }

// "host:443:addr,[v6addr]", which makes libcurl connect to exactly those.
std::string pinnedAddresses(const HttpsFetchRequest& request) {
  std::string entry = request.host + ":443:";
  for (std::size_t i = 0; i < request.addresses.size(); ++i) {
    if (i != 0) entry += ',';
    const std::string& address = request.addresses[i];
    entry += address.find(':') == std::string::npos ? address : "[" + address + "]";
  }
  return entry;
}

HttpsFetchStatus statusOf(CURLcode code, bool overflowed) {
  switch (code) {
    case CURLE_OK: return HttpsFetchStatus::kOk;
    case CURLE_COULDNT_CONNECT: return HttpsFetchStatus::kConnectFailed;
    case CURLE_OPERATION_TIMEDOUT: return HttpsFetchStatus::kTimeout;
    case CURLE_PEER_FAILED_VERIFICATION: return HttpsFetchStatus::kCertificateInvalid;
    case CURLE_SSL_CONNECT_ERROR: return HttpsFetchStatus::kTlsFailed;
    case CURLE_FILESIZE_EXCEEDED: return HttpsFetchStatus::kTooLarge;
    case CURLE_WRITE_ERROR: return overflowed ? HttpsFetchStatus::kTooLarge : HttpsFetchStatus::kFailed;
    case CURLE_ABORTED_BY_CALLBACK: return HttpsFetchStatus::kStopped;
    default: return HttpsFetchStatus::kFailed;
  }
}

// An owning handle and the lists it points to, freed together.
class EasyHandle {
 public:
  explicit EasyHandle(const CurlApi& api) : api_(api), handle_(api.easyInit()) {}
  ~EasyHandle() {
    if (handle_ != nullptr) api_.easyCleanup(handle_);
    if (resolve_ != nullptr) api_.slistFreeAll(resolve_);
  }
  EasyHandle(const EasyHandle&) = delete;
  EasyHandle& operator=(const EasyHandle&) = delete;

  CURL* get() const { return handle_; }
  void pin(const std::string& entry) { resolve_ = api_.slistAppend(resolve_, entry.c_str()); }
  curl_slist* pinned() const { return resolve_; }

 private:
  const CurlApi& api_;
  CURL* handle_ = nullptr;
  curl_slist* resolve_ = nullptr;
};

std::string infoText(const CurlApi& api, CURL* curl, CURLINFO info) {
  const char* text = nullptr;
  if (api.easyGetinfo(curl, info, &text) != CURLE_OK || text == nullptr) return {};
  return text;
}

void configure(const CurlApi& api, EasyHandle& easy, const HttpsFetchRequest& request, BodySink& sink,
               char* errorBuffer) {
  CURL* curl = easy.get();
  const std::string url = "https://" + request.host + request.path;
  easy.pin(pinnedAddresses(request));
  const auto timeout = static_cast<long>(request.timeoutMs);
  api.easySetopt(curl, CURLOPT_URL, url.c_str());
  api.easySetopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  api.easySetopt(curl, CURLOPT_RESOLVE, easy.pinned());
  // Neither a proxy from the environment nor a redirect may send the
  // request elsewhere (RFC 8461 section 3.3: redirects are not followed).
  api.easySetopt(curl, CURLOPT_PROXY, "");
  api.easySetopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  api.easySetopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
  api.easySetopt(curl, CURLOPT_CAPATH, nullptr);
  api.easySetopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  api.easySetopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  api.easySetopt(curl, CURLOPT_TIMEOUT_MS, timeout);
  api.easySetopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout);
  api.easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
  api.easySetopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBodyBytes));
  api.easySetopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  api.easySetopt(curl, CURLOPT_WRITEDATA, &sink);
  api.easySetopt(curl, CURLOPT_NOPROGRESS, 0L);
  api.easySetopt(curl, CURLOPT_XFERINFOFUNCTION, checkRunFlag);
  api.easySetopt(curl, CURLOPT_USERAGENT, request.userAgent.c_str());
  api.easySetopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
}

}  // namespace

HttpsFetchResult fetchHttps(const HttpsFetchRequest& request) {
  HttpsFetchResult result;
  const auto started = std::chrono::steady_clock::now();
  const CurlApi& api = curlApi();
  if (!api.usable()) {
    result.status = HttpsFetchStatus::kLibraryMissing;
    result.error = api.loadError;
    return result;
  }
  // The error buffer and the body's sink outlive the handle: libcurl may
  // still write an error while the handle is cleaned up.
  BodySink sink{&result.body, request.maxBodyBytes, false};
  char errorBuffer[CURL_ERROR_SIZE] = {};
  {
    EasyHandle easy(api);
    if (easy.get() == nullptr || request.addresses.empty()) {
      result.error = easy.get() == nullptr ? "libcurl could not make a handle" : "no address to connect to";
      return result;
    }
    configure(api, easy, request, sink, errorBuffer);
    const CURLcode code = api.easyPerform(easy.get());
    result.status = statusOf(code, sink.overflowed);
    api.easyGetinfo(easy.get(), CURLINFO_RESPONSE_CODE, &result.httpStatus);
    result.contentType = infoText(api, easy.get(), CURLINFO_CONTENT_TYPE);
    result.location = infoText(api, easy.get(), CURLINFO_REDIRECT_URL);
    result.address = infoText(api, easy.get(), CURLINFO_PRIMARY_IP);
    if (code != CURLE_OK) result.error = errorBuffer[0] != '\0' ? errorBuffer : "the transfer failed";
  }
  if (result.status == HttpsFetchStatus::kTooLarge) result.body.clear();
  result.ms = static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
  return result;
}

const char* httpsFetchStatusName(HttpsFetchStatus status) {
  switch (status) {
    case HttpsFetchStatus::kOk: return "ok";
    case HttpsFetchStatus::kLibraryMissing: return "library_missing";
    case HttpsFetchStatus::kConnectFailed: return "connect_failed";
    case HttpsFetchStatus::kTimeout: return "timeout";
    case HttpsFetchStatus::kCertificateInvalid: return "certificate_invalid";
    case HttpsFetchStatus::kTlsFailed: return "tls_failed";
    case HttpsFetchStatus::kTooLarge: return "too_large";
    case HttpsFetchStatus::kStopped: return "stopped";
    case HttpsFetchStatus::kFailed: return "failed";
  }
  return "";
}

}  // namespace zarvik
