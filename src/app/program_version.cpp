#include "app/program_version.h"

#include <openssl/crypto.h>

#include "app/version.h"
#include "base/output_sink.h"

namespace zarvik {

const std::string_view kVersionLine = "Zarvik v" ZARVIK_VERSION;

SharedString tlsLibraryVersionLine() { return SharedString(OpenSSL_version(OPENSSL_VERSION)); }

void printVersion(OutputSink& output) {
  output.printLine(SharedString(kVersionLine));
  output.printLine(tlsLibraryVersionLine());
}

}  // namespace zarvik
