// The host's data-quality commands: quality(), checks() and reference().
#include <cstdio>

#include "Session.h"
#include "TList.h"

namespace kivo::host {

namespace {

using interp::CommandError;
using interp::Parameter;
using interp::Type;
using interp::Value;

void print_text(const std::string& text) {
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
}

}  // namespace

void Session::register_quality_commands() {
  add({"quality", Type::Void, {}, "", [this](const std::vector<Value>&) {
         if (!quality_->available())
           throw CommandError("the monitor library lacks what the checks read: " + quality_inputs_missing_);
         quality_->evaluate(event_rate());
         print_text(quality_->table(event_rate()));
         return Value();
       }});
  add({"checks", Type::Void, {}, "", [this](const std::vector<Value>&) {
         print_text("# data-quality checks in force, from " + quality_->config().origin + "\n" +
                    quality_->config().text);
         return Value();
       }});
  add({"reference", Type::Void, {Parameter{Type::String, "file", std::nullopt}}, "",
       [this](const std::vector<Value>& arguments) {
         std::string error;
         std::optional<quality::ReferenceRun> reference = quality::load_reference(arguments[0].as_string(), error);
         if (!reference) {
           const quality::ReferenceRun* current = quality_->reference();
           throw CommandError(error + "; the reference stays " + (current ? current->path : "none"));
         }
         report("reference run " + reference->path + " loaded (" + std::to_string(static_cast<long>(reference->events)) +
                " events)");
         quality_->set_reference(std::move(*reference));
         quality_->evaluate(event_rate());
         return Value();
       }});
}

void Session::add_extra_objects(TList& list) const { quality_->add_saved_objects(list); }

}  // namespace kivo::host
