#include "app/run_report.h"

#include "app/json_report.h"

namespace zarvik {

// A line that cannot be written is lost like a transcript line on a full
// disk: the run itself goes on.
void JsonRunReport::probeDone(const ProbeReport& report) {
  static_cast<void>(output_.writeLine(probeReportLine(report)));
}

void JsonRunReport::domainDone(const DomainReport& report) {
  static_cast<void>(output_.writeLine(domainReportLine(report)));
}

void JsonRunReport::runFailed(const ErrorReport& report) {
  static_cast<void>(output_.writeLine(errorReportLine(report)));
}

void RunReports::probeDone(const ProbeReport& report) {
  for (RunReport* each : reports_) each->probeDone(report);
}

void RunReports::domainDone(const DomainReport& report) {
  for (RunReport* each : reports_) each->domainDone(report);
}

void RunReports::runFailed(const ErrorReport& report) {
  for (RunReport* each : reports_) each->runFailed(report);
}

}  // namespace zarvik
