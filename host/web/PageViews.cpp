#include "PageViews.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace kivo::web {

namespace {

// The declared parts named in the comma-separated `asked`, in the order of
// `declared`, each once.
std::vector<std::string> parts_asked(const std::vector<std::string>& declared, const std::string& asked) {
  std::vector<std::string> names;
  std::istringstream list(asked);
  std::string name;
  while (std::getline(list, name, ','))
    if (std::find(declared.begin(), declared.end(), name) != declared.end()) names.push_back(name);
  std::vector<std::string> ordered;
  for (const std::string& part : declared)
    if (std::find(names.begin(), names.end(), part) != names.end()) ordered.push_back(part);
  return ordered;
}

}  // namespace

void PageViews::add(const std::string& name, std::vector<std::string> parts) {
  auto first = std::make_shared<Snapshot>();
  first->parts = std::make_shared<const std::vector<std::string>>(std::move(parts));
  std::lock_guard lock(mutex_);
  views_.emplace(name, std::move(first));
}

void PageViews::publish(const std::string& name, std::shared_ptr<const PageView> view) {
  auto next = std::make_shared<Snapshot>();
  next->view = std::move(view);
  // The replaced snapshot is released after the lock, so no large free happens under it.
  std::shared_ptr<const Snapshot> replaced;
  std::lock_guard lock(mutex_);
  auto found = views_.find(name);
  if (found == views_.end()) return;
  next->parts = found->second->parts;
  next->version = found->second->version + 1;
  replaced = std::exchange(found->second, std::move(next));
}

std::shared_ptr<const PageViews::Snapshot> PageViews::latest(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto found = views_.find(name);
  return found == views_.end() ? nullptr : found->second;
}

std::optional<std::string> PageViews::respond(std::string_view path, long since, const std::string& parts) const {
  constexpr std::string_view kSuffix = ".json";
  if (!path.starts_with('/') || !path.ends_with(kSuffix)) return std::nullopt;
  const auto snapshot = latest(std::string(path.substr(1, path.size() - 1 - kSuffix.size())));
  if (!snapshot) return std::nullopt;
  const std::string version = "{\"version\":" + std::to_string(snapshot->version);
  if (snapshot->version == since || !snapshot->view) return version + "}";
  const std::vector<std::string> asked = parts_asked(*snapshot->parts, parts);
  std::shared_ptr<const std::string> text;
  {
    std::lock_guard lock(snapshot->texts_mutex);
    std::shared_ptr<const std::string>& cached = snapshot->texts[asked];
    if (!cached) cached = std::make_shared<const std::string>(snapshot->view->json(asked));
    text = cached;
  }
  return version + ",\"view\":" + *text + "}";
}

}  // namespace kivo::web
