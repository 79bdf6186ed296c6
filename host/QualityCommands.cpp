// The host's data-quality commands (quality(), checks() and reference()) and
// the data-quality view of the live page.
#include <algorithm>
#include <cstdio>

#include "CommandNames.h"
#include "Session.h"
#include "TList.h"
#include "WebDisplay.h"

namespace kivo::host {

namespace {

using namespace command_names;

void print_text(const std::string& text) {
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
}

// The page's /quality.json: the panel always, the trends, the reference
// distributions and the tracks when the page shows them.
class QualityPage : public web::PageView {
 public:
  explicit QualityPage(std::shared_ptr<const quality::QualityView> view) : view_(std::move(view)) {}
  std::string json(const std::vector<std::string>& parts) const override {
    const auto asked = [&parts](const char* part) { return std::find(parts.begin(), parts.end(), part) != parts.end(); };
    return view_->json(asked("trends"), asked("reference"), asked("tracks"));
  }

 private:
  std::shared_ptr<const quality::QualityView> view_;
};

}  // namespace

void Session::register_quality_commands() {
  add({"quality", Type::Void, {}, "", [this](const std::vector<Value>&) {
         if (!quality_->available())
           throw CommandError("the monitor library lacks what the checks read: " + quality_inputs_missing_);
         judge_now();
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
         judge_now();
         return Value();
       }});
}

void Session::publish_quality() {
  if (!display_) return;
  display_->views().publish(web::WebDisplay::kQualityView, std::make_shared<QualityPage>(quality_->view(event_rate())));
  display_->metrics().publish(metrics_feed_.figures(*quality_));
  // The verdicts are objects of the hierarchy too: listed after each judgement.
  list_objects();
}

}  // namespace kivo::host
