#include "RegistryWriter.h"

#include <ctime>
#include <nlohmann/json.hpp>
#include <random>

#include "Schema.h"
#include "ThreadPriority.h"

namespace kivo::registry {

namespace {

using nlohmann::json;

constexpr const char* kRunKind = "run";
constexpr const char* kCertificationKind = "certification";

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string certification_json(const CertificationRequest& request) {
  return json{{"token", request.token},     {"stand", request.stand},   {"run", request.run},
              {"verdict", request.verdict}, {"comment", request.comment}, {"user", request.user},
              {"at", request.at}}
      .dump(-1, ' ', false, json::error_handler_t::replace);
}

CertificationRequest certification_of(const std::string& body) {
  const json object = json::parse(body);
  CertificationRequest request;
  request.token = object.at("token").get<std::string>();
  request.stand = object.at("stand").get<std::string>();
  request.run = object.at("run").get<int>();
  request.verdict = object.at("verdict").get<std::string>();
  request.comment = object.at("comment").get<std::string>();
  request.user = object.at("user").get<std::string>();
  request.at = object.at("at").get<std::string>();
  return request;
}

}  // namespace

std::string utc_now() {
  const std::time_t seconds = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string new_token() {
  std::random_device random;
  char token[33];
  std::snprintf(token, sizeof token, "%08x%08x%08x%08x", random(), random(), random(), random());
  return token;
}

RegistryWriter::RegistryWriter(RegistryUrl url, std::string queue_directory, Report report,
                               const std::string& unavailable)
    : url_(std::move(url)), queue_(std::move(queue_directory)), report_(std::move(report)) {
  if (const std::size_t left = queue_.list().size(); left > 0)
    report_("registry: " + plural(left, "row", "rows") + " that an earlier kivo left waiting in " +
            queue_.directory() + " are written to " + url_.shown);
  if (!unavailable.empty()) note_down(masked(url_, unavailable));
  count_pending();
  wake_ = true;
  thread_ = web::with_stop_signals_blocked([this] { return std::thread([this] { run_thread(); }); });
}

RegistryWriter::~RegistryWriter() {
  if (thread_.joinable()) finish(std::chrono::milliseconds(0));
}

void RegistryWriter::record(const RunRecord& record) {
  std::string error;
  if (!queue_.push(kRunKind, record_json(record), error)) {
    const std::lock_guard lock(mutex_);
    if (!told_full_)
      report_("registry: run " + std::to_string(record.run) + " is not queued for " + url_.shown + ": " + error +
              "; kivo --registry URL --rebuild DIR records the archive's runs from their files later");
    told_full_ = true;
  }
  count_pending();
  {
    const std::lock_guard lock(mutex_);
    wake_ = true;
  }
  changed_.notify_all();
}

void RegistryWriter::certify(CertificationRequest request) {
  {
    const std::lock_guard lock(mutex_);
    inbox_.push_back(std::move(request));
    wake_ = true;
  }
  count_pending();
  changed_.notify_all();
}

void RegistryWriter::count_pending() {
  std::size_t waiting = queue_.list().size();
  {
    const std::lock_guard lock(mutex_);
    waiting += inbox_.size();
  }
  pending_ = waiting;
}

// Below event processing, as the display's threads: on a machine of few
// cores a burst of rows after an outage slows the registry, not ingestion.
void RegistryWriter::run_thread() {
  web::yield_to_event_processing();
  bool failing = false;
  for (;;) {
    bool flush_pass = false;
    {
      std::unique_lock lock(mutex_);
      auto ready = [this] { return stopping_ || wake_ || (flushing_ && !flushed_); };
      if (failing)
        changed_.wait_for(lock, kRetryInterval, ready);
      else
        changed_.wait(lock, ready);
      if (stopping_) return;
      wake_ = false;
      flush_pass = flushing_;
    }
    persist_inbox();
    failing = !write_queue();
    {
      const std::lock_guard lock(mutex_);
      if (flush_pass) flushed_ = true;
    }
    changed_.notify_all();
  }
}

void RegistryWriter::persist_inbox() {
  std::deque<CertificationRequest> taken;
  {
    const std::lock_guard lock(mutex_);
    taken.swap(inbox_);
  }
  for (const CertificationRequest& request : taken) {
    std::string error;
    if (!queue_.push(kCertificationKind, certification_json(request), error))
      report_("registry: the judgement of run " + std::to_string(request.run) + " is not kept: " + error);
  }
}

bool RegistryWriter::write_queue() {
  for (;;) {
    const std::vector<PendingQueue::Entry> entries = queue_.list();
    count_pending();
    if (entries.empty()) {
      queue_.tidy();
      const std::lock_guard lock(mutex_);
      if (waited_ > 0)
        report_("registry: " + url_.shown + " is back: " + plural(waited_, "row", "rows") + " that waited written");
      waited_ = 0;
      told_full_ = false;
      return true;
    }
    for (const PendingQueue::Entry& entry : entries) {
      {
        const std::lock_guard lock(mutex_);
        if (stopping_) return true;
      }
      std::string failure;
      if (!write_entry(entry, failure)) {
        database_.reset();
        note_down(failure);
        count_pending();
        return false;
      }
    }
  }
}

Database& RegistryWriter::database() {
  if (!database_) {
    std::unique_ptr<Database> connected = connect(url_, kBusyMs);
    prepare_schema(*connected, url_.shown);
    database_ = std::move(connected);
  }
  return *database_;
}

bool RegistryWriter::write_entry(const PendingQueue::Entry& entry, std::string& failure) {
  std::string body, error;
  if (!queue_.read(entry, body, error)) {
    report_("registry: a waiting row cannot be read (" + error + "); kept in " + queue_.set_aside(entry));
    return true;
  }
  try {
    database();
  } catch (const DatabaseError& problem) {
    failure = masked(url_, problem.what());
    return false;
  }
  try {
    if (entry.kind == kRunKind) {
      RunRecord record;
      if (!parse_record(body, record, error)) {
        report_("registry: a waiting row is " + error + "; kept in " + queue_.set_aside(entry));
        return true;
      }
      store_run(*database_, record, utc_now());
    } else if (entry.kind == kCertificationKind) {
      write_certification(body);
    } else {
      report_("registry: a waiting row of unknown kind '" + entry.kind + "' kept in " + queue_.set_aside(entry));
      return true;
    }
  } catch (const DatabaseError& problem) {
    if (problem.transient()) {
      failure = masked(url_, problem.what());
      return false;
    }
    report_("registry: " + url_.shown + " refuses a row (" + masked(url_, problem.what()) + "); kept in " +
            queue_.set_aside(entry));
    return true;
  } catch (const json::exception& problem) {
    report_("registry: a waiting row cannot be read (" + std::string(problem.what()) + "); kept in " +
            queue_.set_aside(entry));
    return true;
  }
  queue_.remove(entry);
  ++written_;
  note_up();
  return true;
}

// A judgement of a run the registry does not hold is told and dropped: it
// was the prompt's mistake, not the database's.
void RegistryWriter::write_certification(const std::string& body) {
  const CertificationRequest request = certification_of(body);
  try {
    const StoredCertification stored = store_certification(*database_, request);
    report_("registry: run " + std::to_string(stored.run) + " of " + stored.stand + " certified " + stored.verdict +
            " by " + stored.user + (stored.comment.empty() ? "" : " (" + stored.comment + ")"));
  } catch (const DatabaseError& problem) {
    if (problem.transient()) throw;
    report_("registry: the judgement of run " + std::to_string(request.run) + " is not stored: " +
            masked(url_, problem.what()));
  }
}

void RegistryWriter::note_down(const std::string& reason) {
  const std::lock_guard lock(mutex_);
  last_problem_ = reason;
  if (down_) return;
  down_ = true;
  report_("registry: cannot write to " + url_.shown + " (" + reason + "); the runs wait in " + queue_.directory() +
          " and are written when it is back");
}

void RegistryWriter::note_up() {
  const std::lock_guard lock(mutex_);
  if (down_ || waited_ > 0) ++waited_;
  down_ = false;
  last_problem_.clear();
}

void RegistryWriter::finish(std::chrono::milliseconds patience) {
  {
    std::unique_lock lock(mutex_);
    flushing_ = true;
    flushed_ = false;
    changed_.notify_all();
    changed_.wait_for(lock, patience, [this] { return flushed_; });
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  database_.reset();
  persist_inbox();
  count_pending();
  if (const std::size_t left = pending(); left > 0)
    report_("registry: " + plural(left, "row waits", "rows wait") + " in " + queue_.directory() + " for " +
            url_.shown + "; the next kivo with this archive writes them, and kivo --registry URL --rebuild DIR "
            "records the runs from their files");
}

std::vector<std::string> RegistryWriter::describe() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  const std::size_t waiting = pending_.load();
  lines.push_back("registry " + url_.shown + ": " + plural(written_.load(), "row", "rows") + " written, " +
                  (waiting ? plural(waiting, "row waits", "rows wait") + " in " + queue_.directory()
                           : std::string("none waiting")));
  if (!last_problem_.empty()) lines.push_back("registry: " + last_problem_);
  return lines;
}

}  // namespace kivo::registry
