// The run registry in the session: the archive's runs handed to it, and the
// prompt's certify(run, verdict, comment).
#include <pwd.h>
#include <unistd.h>

#include "CommandNames.h"
#include "RunCatalogue.h"
#include "RunRecord.h"
#include "Session.h"

namespace kivo::host {

namespace {

using namespace command_names;

// The prompt's user: whoever runs kivo, as the system names them.
std::string login_name() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name != nullptr)
    return entry->pw_name;
  return "uid " + std::to_string(::geteuid());
}

}  // namespace

// On the archive's writer thread, once the run's file is whole.
void Session::record_in_registry(const RunArchive::RecordedRun& run) {
  web::ArchivedRun archived;
  archived.file = run.file;
  archived.bytes = run.bytes;
  for (const auto& [name, title] : run.facts) web::take_named_fact(archived, name, title);
  web::complete_facts(archived);
  if (archived.run < 0) archived.run = run.run;
  run_registry_->record(
      registry::record_of(archived, stand_, run.path.empty() ? std::string() : registry::record_path(run.path)));
}

void Session::register_registry_commands() {
  add({"certify",
       Type::Void,
       {Parameter{Type::Int, "run", std::nullopt}, Parameter{Type::String, "verdict", std::nullopt},
        Parameter{Type::String, "comment", Value::of_string("")}},
       "",
       [this](const std::vector<Value>& arguments) {
         if (!run_registry_)
           throw CommandError("no run registry: start kivo with --archive DIR (and --registry URL for another one)");
         registry::CertificationRequest request;
         request.run = arguments[0].as_int();
         request.verdict = arguments[1].as_string();
         request.comment = arguments[2].as_string();
         if (const std::string problem = web::certification_problem(request.verdict, request.comment);
             !problem.empty())
           throw CommandError(problem);
         request.token = registry::new_token();
         request.stand = stand_;
         request.user = login_name();
         request.at = registry::utc_now();
         run_registry_->certify(request);
         report("registry: the judgement of run " + std::to_string(request.run) + " (" + request.verdict + ") by " +
                request.user + " goes to " + run_registry_->url().shown);
         return Value();
       }});
}

}  // namespace kivo::host
