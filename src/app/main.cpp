// The program's entry point: reads the switches, starts the network
// services, and runs the MX test; the driver's result is the exit code.

#include <optional>
#include <string>
#include <vector>

#include "app/batch_run.h"
#include "app/defaults_file.h"
#include "app/help.h"
#include "app/mx_test_driver.h"
#include "app/mx_test_options.h"
#include "app/networking.h"
#include "app/program_version.h"
#include "app/run_report.h"
#include "app/run_summary.h"
#include "base/output_sink.h"
#include "base/process_record.h"
#include "base/result_text.h"
#include "base/run_flag.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "tls/client_credentials.h"
#include "tls/tls_setup.h"

namespace zarvik {
namespace {

// The extension options that end the run before the network services
// start: a faulty option (its error line, naming the file and line when it
// came from one), --help and --version. False when the run goes on to the
// test.
//
// --help and --version read no option, so a fault in a file (the defaults
// file, which every run reads, or a response file) does not keep them from
// answering when they came before it; the fault is told after the answer.
// A fault on the command line still ends the run with the usage error.
bool answeredWithoutTest(const MxTestOptions& options, OutputSink& output, ExitCode& result) {
  const ExtensionOptions& extensions = options.extensions;
  const SharedString origin = options.originOf(extensions.faultyToken().view());
  const SharedString errorLine = extensions.errorLine(origin);
  const bool informationAsked = extensions.action() != ExtensionOptions::Action::kTest;
  if (extensions.hasError() && (origin.isEmpty() || !informationAsked)) {
    output.printLine(errorLine);
    result = kExitUsageError;
    return true;
  }
  if (!informationAsked && extensions.json() && extensions.jsonFile().isEmpty() && extensions.summary()) {
    // Standard output carries the JSON lines, which a summary would break.
    output.printLine("Error: --summary needs the transcript on standard output; give --json=<file>");
    result = kExitUsageError;
    return true;
  }
  switch (extensions.action()) {
    case ExtensionOptions::Action::kHelp: printFullHelp(output); break;
    case ExtensionOptions::Action::kVersion: printVersion(output); break;
    case ExtensionOptions::Action::kTest: return false;
  }
  if (extensions.hasError()) output.printLine(errorLine);
  result = kExitInformationShown;
  return true;
}

MxTestRequest requestOf(const MxTestOptions& options) {
  MxTestRequest request;
  request.domain = options.domain;
  request.host = options.host;
  request.fromAddress = options.fromAddress;
  request.toAddress = options.toAddress;
  request.useHelo = options.useHelo;
  request.dnsOverTcp = options.dnsOverTcp;
  request.connectAll = options.connectAll;
  request.forcedAddress = options.forcedAddress;
  request.nameServer = options.nameServer;
  request.certFile = options.certFile;
  request.addressPreference = options.addressPreference();
  request.timeoutMs = options.extensions.timeoutMs();
  if (options.extensions.port() != 0) request.port = options.extensions.port();
  request.tlsOnConnect = options.extensions.tlsOnConnect();
  request.protocols = options.extensions.protocols();
  request.tlsRpt = options.extensions.tlsRpt();
  return request;
}

// The JSON report of --json: to standard output in place of the
// transcript, or appended to the file given.
JsonLinesOutput jsonOutputOf(const ExtensionOptions& extensions, OutputSink& output) {
  if (!extensions.jsonFile().isEmpty()) return JsonLinesOutput(extensions.jsonFile().toStdString());
  output.setConsole(false);
  return JsonLinesOutput();
}

// The trust store of --mta-sts, read before anything else of the run, so
// that a missing file ends it with a clear line.
bool loadMtaStsTrust(const ExtensionOptions& extensions, MxTestRequest& request, OutputSink& output) {
  if (!extensions.mtaSts()) return true;
  const SharedString& file = extensions.mtaStsCa();
  std::string error;
  request.mtaStsTrust = WebPkiTrust::load(file.isEmpty() ? WebPkiTrust::kSystemBundle : file.toStdString(), error);
  if (request.mtaStsTrust) return true;
  output.printLine("Error: " + SharedString(file.isEmpty() ? "MTA-STS trust store" : "--mta-sts-ca") + ": " +
                   SharedString(error));
  return false;
}

// The batch-only options need --batch, and --batch takes its targets from
// the list alone; false, with the error printed, when they do not fit.
bool batchOptionsFit(const MxTestOptions& options, OutputSink& output) {
  const ExtensionOptions& extensions = options.extensions;
  const SharedString alone = extensions.batchOptionWithoutBatch();
  SharedString error;
  if (!alone.isEmpty()) {
    error = "Error: " + alone + " needs --batch";
  } else if (extensions.batch() &&
             (!options.domain.isEmpty() || !options.host.isEmpty() || !options.toAddress.isEmpty())) {
    error = "Error: --batch takes the targets from its list; give no -d, -h or -t";
  } else if (extensions.batch() && extensions.summary()) {
    error = "Error: --summary does not go with --batch, which writes the JSON report alone";
  }
  if (error.isEmpty()) return true;
  output.printLine(error);
  return false;
}

// A batch run, with the switches every target shares.
ExitCode runBatchWith(const MxTestOptions& options, const std::vector<std::string>& commandLine, OutputSink& output) {
  const ExtensionOptions& extensions = options.extensions;
  MxTestRequest request = requestOf(options);
  if (!loadMtaStsTrust(extensions, request, output)) return kExitUsageError;
  // Nothing may reach standard output before the records but an error
  // that ends the run.
  const ResultCode tlsResult = configureTls(options.caFile, options.cipherList, options.tlsMethod);
  if (failed(tlsResult)) {
    output.printLine(formatResult(tlsResult));
    return kExitUsageError;
  }
  if (!request.certFile.isEmpty()) request.clientCredentials = readUsableClientCredentials(request.certFile);
  BatchSettings settings;
  settings.input = extensions.batchFile().toStdString();
  settings.resume = extensions.resumeFile().toStdString();
  settings.jobs = extensions.jobs();
  settings.perAddress = extensions.perAddress();
  settings.shardIndex = extensions.shardIndex();
  settings.shardCount = extensions.shardCount();
  settings.jsonFile = extensions.jsonFile().toStdString();
  settings.commandLine = commandLine;
  settings.base = request;
  return runBatch(settings, output);
}

// Everything after validation: the output file, the reports, the TLS
// settings of the switches, and the test itself.
ExitCode runWith(const MxTestOptions& options, OutputSink& output) {
  if (!options.outputFile.isEmpty()) output.setOutputFilePath(options.outputFile);
  const ExtensionOptions& extensions = options.extensions;
  MxTestRequest request = requestOf(options);
  if (!loadMtaStsTrust(extensions, request, output)) return kExitUsageError;
  RunReports reports;
  std::optional<JsonRunReport> json;
  if (extensions.json()) reports.add(json.emplace(jsonOutputOf(extensions, output)));
  RunSummary summary;
  if (extensions.summary()) reports.add(summary);

  // A CA file that cannot be read or an unknown protocol selector is
  // reported, and the test goes on with the contexts as they stand.
  const ResultCode tlsResult = configureTls(options.caFile, options.cipherList, options.tlsMethod);
  if (failed(tlsResult)) output.printLine(formatResult(tlsResult));

  if (!reports.isEmpty()) request.report = &reports;
  const ExitCode result = runMxTest(request, output);
  if (extensions.summary()) summary.print(output, result);
  return result;
}

// With --json, a run that names nothing to test still ends with a record:
// an error of the input.
void reportNothingToTest(const ExtensionOptions& extensions, OutputSink& output) {
  if (!extensions.json()) return;
  ErrorReport error;
  error.code = ResultCode::kInvalidDomain;
  error.message = "Error: No domain or host or From e-mail address given!";
  error.phase = ErrorPhase::kInput;
  error.exitCode = kExitRefusedPermanently;
  JsonRunReport json(jsonOutputOf(extensions, output));
  json.runFailed(error);
}

// The whole run, from the command line to the exit code.
int runProgram(int argc, char** argv) {
  // Before anything opens a file or socket: a closed standard output must
  // not hand its number to the mail host's connection.
  (void)reopenClosedStandardDescriptors();
  // Switches that name nothing to test end the run as a refusal, after the help.
  ExitCode result = kExitRefusedPermanently;
  {
    ProcessRecord process;
    OutputSink output;
    (void)installTerminationHandlers(&RunFlag);
    {
      const MxTestOptions options(argc, argv,
                                  chooseDefaultsFile(process.defaultsPath(), SharedString(kSystemDefaultsPath)));
      if (!answeredWithoutTest(options, output, result)) {
        startNetworking();
        const bool batch = options.extensions.batch() || !options.extensions.batchOptionWithoutBatch().isEmpty();
        // With the JSON lines on standard output no text may go there; a
        // batch run prints only the error that ends it.
        if (!batch && options.extensions.json() && options.extensions.jsonFile().isEmpty()) output.setConsole(false);
        if (batch) {
          result = batchOptionsFit(options, output)
                       ? runBatchWith(options, std::vector<std::string>(argv + 1, argv + argc), output)
                       : kExitUsageError;
        } else if (options.validate(output)) {
          result = runWith(options, output);
        } else {
          reportNothingToTest(options.extensions, output);
        }
        stopNetworking();
      }
    }
  }
  return result;
}

}  // namespace
}  // namespace zarvik

int main(int argc, char** argv) { return zarvik::runProgram(argc, argv); }
