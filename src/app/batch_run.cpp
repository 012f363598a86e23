#include "app/batch_run.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "app/batch_input.h"
#include "app/batch_report.h"
#include "app/batch_resume.h"
#include "app/batch_services.h"
#include "app/program_version.h"
#include "base/result_text.h"
#include "base/run_flag.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace zarvik {

namespace {

// Probes kept for reuse: a few thousand providers' MX hosts, some KiB each.
constexpr std::size_t kProbeCacheEntries = 4096;
// After a stop, how long the targets in flight may take to end.
constexpr auto kStopGrace = std::chrono::seconds(10);

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The lines between the reader and the workers: bounded, so that reading
// never runs far ahead of testing.
class LineQueue {
 public:
  explicit LineQueue(std::size_t capacity) : capacity_(capacity) {}

  // False, taking nothing, once a stop was requested.
  bool push(BatchLine line) {
    std::unique_lock lock(mutex_);
    while (items_.size() >= capacity_) {
      if (!runAllowed()) return false;
      notFull_.wait_for(lock, std::chrono::milliseconds(100));
    }
    items_.push_back(std::move(line));
    notEmpty_.notify_one();
    return true;
  }
  // False when the queue is closed and empty, or a stop was requested.
  bool pop(BatchLine& line) {
    std::unique_lock lock(mutex_);
    while (items_.empty()) {
      if (closed_ || !runAllowed()) return false;
      notEmpty_.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (!runAllowed()) return false;
    line = std::move(items_.front());
    items_.pop_front();
    notFull_.notify_one();
    return true;
  }
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    notEmpty_.notify_all();
  }

 private:
  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable notEmpty_;
  std::condition_variable notFull_;
  std::deque<BatchLine> items_;
  bool closed_ = false;
};

// Everything the workers share.
struct BatchRun {
  BatchRun(const BatchSettings& given, JsonLinesOutput output)
      : settings(given),
        shared(given.perAddress, kProbeCacheEntries),
        writer(std::move(output)),
        queue(static_cast<std::size_t>(given.jobs) * 2) {}

  const BatchSettings& settings;
  BatchShared shared;
  BatchWriter writer;
  LineQueue queue;
  std::mutex activeMutex;
  std::condition_variable allIdle;
  std::uint32_t active = 0;  // workers still running
};

// A line that names no target gets an error record of its own.
void refuseLine(const BatchLine& line, const std::string& reason, BatchCollector& collector) {
  ErrorReport error;
  const bool address = line.text.find('@') != std::string::npos;
  error.code = address ? ResultCode::kRecipientUnreadable : ResultCode::kInvalidDomain;
  error.message = "Error: " + reason;
  error.phase = ErrorPhase::kInput;
  error.exitCode = kExitRefusedPermanently;
  collector.runFailed(error);
}

ExitCode testLine(BatchRun& run, const BatchLine& line, BatchCollector& collector) {
  BatchTarget target;
  std::string reason;
  if (line.tooLong) {
    refuseLine(line, "the line is longer than " + std::to_string(kMaxBatchLineBytes) + " bytes", collector);
    return kExitRefusedPermanently;
  }
  if (!parseBatchTarget(line.text, target, reason)) {
    refuseLine(line, reason, collector);
    return kExitRefusedPermanently;
  }
  MxTestRequest request = run.settings.base;
  request.report = &collector;
  if (target.kind == BatchTarget::Kind::kAddress) {
    request.toAddress = SharedString(target.address);
  } else {
    // The envelope is tried for a recipient only.
    request.domain = SharedString(target.domain);
    request.fromAddress = SharedString();
  }
  BatchServices services(run.shared, true);
  OutputSink transcript;  // read by no one: the records tell all
  transcript.setConsole(false);
  return runMxTestWith(request, services, transcript);
}

void work(BatchRun& run) {
  BatchLine line;
  while (run.queue.pop(line)) {
    BatchCollector collector(line.number, line.text);
    const ExitCode exitCode = testLine(run, line, collector);
    // A target cut short by a stop is dropped whole: its records would
    // tell of the stop, not of the target, and --resume takes it up again.
    if (!runAllowed()) break;
    run.writer.write(collector, exitCode);
  }
  std::lock_guard lock(run.activeMutex);
  --run.active;
  run.allIdle.notify_all();
}

// Reads the input, skips other shards' and resumed lines, and hands the
// rest to the workers, starting one per line up to --jobs.
void feed(BatchRun& run, BatchInput& input, const BatchResume& resume, MetaReport& meta,
          std::vector<std::thread>& workers) {
  BatchLine line;
  while (runAllowed() && input.next(line)) {
    const BatchSettings& settings = run.settings;
    if (settings.shardCount != 0 && batchShardOf(line.text, settings.shardCount) != settings.shardIndex) {
      ++meta.skippedByShard;
      continue;
    }
    if (resume.isDone(line.number, line.text)) {
      ++meta.skippedByResume;
      continue;
    }
    ++meta.targets;
    if (workers.size() < settings.jobs) {
      {
        std::lock_guard lock(run.activeMutex);
        ++run.active;
      }
      workers.emplace_back(work, std::ref(run));
    }
    if (!run.queue.push(std::move(line))) break;
  }
  meta.linesRead = input.linesRead();
  run.queue.close();
}

// Prints the progress line once a second while the run goes on.
class Progress {
 public:
  Progress(const BatchWriter& writer, std::uint64_t total, bool live) : writer_(writer), total_(total) {
    if (live) thread_ = std::thread([this] { loop(); });
  }
  ~Progress() { stop(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count(); }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopped_; })) {
      // Built by appending: GCC 12's -Wrestrict misreads "\r" + std::string.
      std::string line = "\r";
      line += batchProgressLine(writer_.done(), total_, seconds(), writer_.errorRecords());
      static_cast<void>(writeStandardError(line.data(), line.size()));
    }
  }

  const BatchWriter& writer_;
  const std::uint64_t total_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  std::thread thread_;
};

// Waits for the workers; after a stop for kStopGrace at most. False when
// some are still busy then.
bool awaitWorkers(BatchRun& run, std::vector<std::thread>& workers) {
  std::unique_lock lock(run.activeMutex);
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  while (run.active != 0) {
    if (!runAllowed() && std::chrono::steady_clock::now() >= deadline) return false;
    run.allIdle.wait_for(lock, std::chrono::milliseconds(100));
  }
  lock.unlock();
  for (std::thread& worker : workers) worker.join();
  return true;
}

MetaReport metaOf(const BatchSettings& settings) {
  MetaReport meta;
  meta.program = std::string(kVersionLine);
  meta.tlsLibrary = tlsLibraryVersionLine().toStdString();
  meta.options = settings.commandLine;
  meta.startedMs = nowMs();
  meta.shardIndex = settings.shardIndex;
  meta.shardCount = settings.shardCount;
  meta.jobs = settings.jobs;
  meta.perAddress = settings.perAddress;
  return meta;
}

void printFinalLine(const BatchWriter& writer, double seconds, bool interrupted) {
  std::string line = "\r";
  line += batchProgressLine(writer.done(), 0, seconds, writer.errorRecords());
  if (interrupted) line += ", interrupted";
  line += "\r\n";
  static_cast<void>(writeStandardError(line.data(), line.size()));
}

}  // namespace

std::string batchProgressLine(std::uint64_t done, std::uint64_t total, double seconds, std::uint64_t errors) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char text[160];
  std::string line = "Batch: " + std::to_string(done);
  if (total != 0) line += " of " + std::to_string(total);
  std::snprintf(text, sizeof text, " done, %.1f/s, %llu errors", rate, static_cast<unsigned long long>(errors));
  line += text;
  if (total != 0 && done <= total && rate > 0) {
    std::snprintf(text, sizeof text, ", about %.0f s left", static_cast<double>(total - done) / rate);
    line += text;
  }
  return line;
}

ExitCode runBatch(const BatchSettings& settings, OutputSink& output) {
  BatchInput input(settings.input);
  if (!input.isOpen()) {
    output.printLine("Error: --batch: cannot read " + SharedString(settings.input));
    return kExitUsageError;
  }
  BatchResume resume;
  std::string error;
  if (!settings.resume.empty() && !resume.load(settings.resume, error)) {
    output.printLine("Error: --resume: " + SharedString(error));
    return kExitUsageError;
  }
  JsonLinesOutput records = settings.jsonFile.empty() ? JsonLinesOutput() : JsonLinesOutput(settings.jsonFile);
  BatchRun run(settings, std::move(records));
  const ResolverOptions options = ResolverOptions::fromFlags(settings.base.addressPreference);
  DnsMxTestServices().gatherLocalHost(options.prefersIPv4(), options.prefersIPv6(), run.shared.localHost);

  MetaReport meta = metaOf(settings);
  const bool live = standardErrorIsTerminal();
  Progress progress(run.writer, live ? countBatchTargets(settings.input) : 0, live);
  std::vector<std::thread> workers;
  feed(run, input, resume, meta, workers);
  const bool ended = awaitWorkers(run, workers);
  progress.stop();
  meta.interrupted = !runAllowed();
  // Every target taken up but without a record: those cut short, and those
  // read ahead into the queue that no worker began.
  meta.unfinished = meta.targets - run.writer.done();
  meta.endedMs = nowMs();
  meta.exitCode = meta.interrupted ? 1 : input.failed() ? 99 : 0;
  run.writer.finish(meta);
  printFinalLine(run.writer, progress.seconds(), meta.interrupted);
  if (!ended) {
    // Workers still in a wait that outlasts the grace: their records are
    // dropped (the writer is finished) and the process ends here.
    std::_Exit(meta.exitCode);
  }
  return static_cast<ExitCode>(meta.exitCode);
}

}  // namespace zarvik
