#include "PageViews.h"

#include <sstream>
#include <utility>

namespace kivo::web {

namespace {

std::vector<std::string> split_parts(const std::string& parts) {
  std::vector<std::string> names;
  std::istringstream list(parts);
  std::string name;
  while (std::getline(list, name, ','))
    if (!name.empty()) names.push_back(name);
  return names;
}

}  // namespace

void PageViews::add(const std::string& name) {
  std::lock_guard lock(mutex_);
  views_.emplace(name, std::make_shared<const Snapshot>());
}

void PageViews::publish(const std::string& name, std::shared_ptr<const PageView> view) {
  auto next = std::make_shared<Snapshot>();
  next->view = std::move(view);
  // The replaced snapshot is released after the lock, so no large free happens under it.
  std::shared_ptr<const Snapshot> replaced;
  std::lock_guard lock(mutex_);
  auto found = views_.find(name);
  if (found == views_.end()) return;
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
  std::shared_ptr<const std::string> text;
  {
    std::lock_guard lock(snapshot->texts_mutex);
    std::shared_ptr<const std::string>& cached = snapshot->texts[parts];
    if (!cached) cached = std::make_shared<const std::string>(snapshot->view->json(split_parts(parts)));
    text = cached;
  }
  return version + ",\"view\":" + *text + "}";
}

}  // namespace kivo::web
