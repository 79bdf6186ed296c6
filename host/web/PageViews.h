// Views the page shows beside the canvas (data quality, trends, ...). The
// event thread publishes each as an immutable snapshot; the server's threads
// serialise it when a page asks, at most once per version and set of parts,
// and never touch the monitor's objects.
//
//   /NAME.json?since=V&parts=A,B
//       {"version":N} when the page holds version N already, else
//       {"version":N,"view":...} with the parts asked for. Version 0: nothing
//       published yet (no "view").
//
// Only the parts a view declares count: others are ignored, so that the texts
// kept per snapshot are at most one per subset of the declared parts, whatever
// clients ask.
#ifndef KIVO_HOST_WEB_PAGE_VIEWS_H
#define KIVO_HOST_WEB_PAGE_VIEWS_H

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::web {

// One snapshot of a view.
class PageView {
 public:
  virtual ~PageView() = default;
  // The view as a JSON value; `parts` names the optional parts to include.
  virtual std::string json(const std::vector<std::string>& parts) const = 0;
};

class PageViews {
 public:
  // Makes /NAME.json answer, with version 0 until the first publish;
  // `parts` are the optional parts its snapshots can include.
  void add(const std::string& name, std::vector<std::string> parts);
  // Replaces the snapshot of view `name` (added before) with the next version.
  void publish(const std::string& name, std::shared_ptr<const PageView> view);
  // The answer to `path` ("/NAME.json") with query `since` and `parts`, or
  // nullopt when no view is served there.
  std::optional<std::string> respond(std::string_view path, long since, const std::string& parts) const;

 private:
  struct Snapshot {
    std::shared_ptr<const std::vector<std::string>> parts;  // declared by add()
    long version = 0;
    std::shared_ptr<const PageView> view;
    mutable std::mutex texts_mutex;
    mutable std::map<std::vector<std::string>, std::shared_ptr<const std::string>> texts;  // by parts asked
  };
  std::shared_ptr<const Snapshot> latest(const std::string& name) const;

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const Snapshot>> views_;
};

}  // namespace kivo::web

#endif
