#ifndef KIVO_HOST_WEB_WEB_DISPLAY_H
#define KIVO_HOST_WEB_WEB_DISPLAY_H

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Access.h"
#include "Activity.h"
#include "ClientTurns.h"
#include "ConnectionGate.h"
#include "DigestAuth.h"
#include "ArchiveListing.h"
#include "LiveFrame.h"
#include "Metrics.h"
#include "ObjectShelf.h"
#include "PageViews.h"
#include "RunCatalogue.h"
#include "RootProtocol.h"
#include "StaticCache.h"
#include "StaticFiles.h"
#include "ViewPublisher.h"
#include "ViewStore.h"
#include "ZoomRequests.h"

struct mg_context;
struct mg_connection;

namespace kivo::web {

// Read-only live display: serves the monitoring page, JSROOT and the latest published
// view over HTTP (civetweb). Event processing only ever hands over copies (publish());
// they are serialised on the display's own thread, and the server threads read the
// serialised view and nothing else.
//
//   /              the page (web/page/index.html), other page files beside it;
//                  /favicon.ico is the page's favicon.svg
//   /jsroot/...    JSROOT from web/node_modules/jsroot (modules, fonts, img, scripts)
//                  Page and JSROOT files carry an ETag (If-None-Match -> 304) and
//                  go gzip-compressed to clients that accept it (StaticCache.h).
//   /update.json   what changed since the version the page holds, and the zoomed
//                  regions it asks for (ViewStore.h):
//                  ?instance=TAG&since=VERSION&zoom=S:X1:X2:Y1:Y2:HELD[,...]
//                  (stave, first and last x and y bins, version of the region held)
//   /canvas.json   the whole latest canvas (ETag per publish, If-None-Match -> 304;
//                  404 before the first)
//   /status.json   {"version":N,"run":R,"events":E,"activity":{...}}; version 0 until
//                  the first publish; at most a second behind the newest update. Versions count from 1 in each kivo process; the
//                  X-KIVO-Instance header and the ETag "INSTANCE-VERSION" tell two
//                  processes apart.
//   /NAME.json     a view beside the canvas, e.g. /quality.json (PageViews.h).
//   /metrics       Prometheus's text format (Metrics.h).
//   /runs.json     with an archive directory, the runs archived there
//                  (ArchiveListing.h); /archive/NAME their files (ArchiveFiles.h).
//                  With a run registry, its runs, filtered by the query
//                  (RunCatalogue.h), or the archive's when it cannot be read.
//   /certify       POST only: a shift's judgement of a run (Certification.h).
//   /h.json, /ITEM/root.json[.gz]  ROOT's web protocol, read-only (RootProtocol.h),
//                  the objects copied on request (ObjectShelf.h); /browse/ is
//                  JSROOT's own browser over it.
//
// JSON responses are gzip-compressed for clients that accept it. Connections are
// kept open between requests (HTTP keep-alive). Only GET and HEAD are
// answered (405 otherwise), and POST at /certify alone. A fixed pool of worker threads serves
// requests with a bounded queue behind them, so a crowd of clients cannot grow the
// process; one address holds a bounded number of connections, each of which has two
// seconds to send its request (ConnectionGate.h), so slow clients cannot hold the
// workers, and one address is answered a bounded number of requests at once and
// a second, the excess waiting its turn (ClientTurns.h).
// With an Access password file every path needs HTTP digest authentication
// (DigestAuth.h); a metrics token opens /metrics alone (MetricsToken.h); with a
// certificate the display is served over HTTPS only.
class WebDisplay {
 public:
  // The view of the data quality beside the canvas (/quality.json, web/page/quality.mjs),
  // served from the start, with its optional parts ("trends", "reference", "tracks").
  static constexpr const char* kQualityView = "quality";

  WebDisplay(std::string bind_address, int port, std::string web_root);
  ~WebDisplay();
  WebDisplay(const WebDisplay&) = delete;
  WebDisplay& operator=(const WebDisplay&) = delete;

  // Whether `address` is a numeric IPv4 or IPv6 address, the only form bound:
  // civetweb would read anything else in its own syntax (a list after ',', any
  // interface for a name it cannot parse).
  static bool valid_bind_address(const std::string& address);

  // Set before start().
  void set_access(kivo::web::Access access) { access_ = std::move(access); }
  // The run archive the page lists and opens; none by default.
  void set_archive(const std::string& directory);
  // The run registry /runs.json reads and /certify writes; none by default.
  void set_catalogue(std::shared_ptr<RunCatalogue> catalogue) { catalogue_ = std::move(catalogue); }
  // Starts listening; on failure error names the address and the reason.
  bool start(std::string& error);
  // Event thread: a frame copied at a canvas update, or one of regions only.
  void publish(std::shared_ptr<LiveFrame> frame) { publisher_.publish(std::move(frame)); }
  // A canvas serialised already, shown as it is.
  void publish_text(std::string canvas_json, int run, long events);
  // Where the rate and freshness in the page header come from.
  void attach(std::shared_ptr<const Activity> activity);
  ZoomRequests& zooms() { return zooms_; }
  // Views beside the canvas: the event thread adds and publishes them.
  PageViews& views() { return views_; }
  // What /metrics serves: the event thread attaches and publishes its figures.
  Metrics& metrics() { return metrics_; }
  // The objects ROOT's web protocol serves: the event thread lists and copies them.
  ObjectShelf& objects() { return objects_; }
  // "http://ADDR:PORT/" (https with a certificate) with the port actually bound
  // (useful when port 0 was asked for); for a wildcard bind address, the first of
  // addresses().
  std::string address() const;
  // Every address the page can be opened at: for a wildcard bind address, one per
  // address of this machine's interfaces.
  std::vector<std::string> addresses() const;

 private:
  static int handle_request(mg_connection* connection, void* self);
  static int connection_taken(const mg_connection* connection, void** data);
  static int request_head_read(mg_connection* connection);
  static int authorize(mg_connection* connection, void* self);
  int respond(mg_connection* connection);
  int respond_update(mg_connection* connection, bool head);
  int respond_canvas(mg_connection* connection, bool head);
  int respond_status(mg_connection* connection, bool head);
  // Whether this status request may ask for the newest view (once a second).
  bool status_may_demand();
  int respond_file(mg_connection* connection, const char* url_path, bool head);
  int respond_runs(mg_connection* connection, bool head);
  // The archive's runs, saying why the registry's are not given.
  std::string archive_runs_json(const std::string& registry_problem);
  int respond_protocol(mg_connection* connection, const ProtocolRequest& request, bool head);
  int respond_archived(mg_connection* connection, const ProtocolRequest& request, bool head);
  int send_object(mg_connection* connection, const std::string& json, const std::string& gzipped,
                  const ProtocolRequest& request, bool head);
  int send_json(mg_connection* connection, const std::string& body, const std::string& headers, bool head);
  std::string activity_json() const;
  bool collect_static_trees(std::string& error);

  std::string bind_address_;
  int port_;
  std::string web_root_;
  kivo::web::Access access_;
  std::unique_ptr<DigestAuth> digest_;  // with a password file
  std::string instance_tag_;
  std::vector<kivo::web::StaticTree> trees_;
  StaticCache static_files_;
  mg_context* context_ = nullptr;
  int bound_port_ = 0;

  ViewStore store_;
  ViewPublisher publisher_{store_};
  ZoomRequests zooms_;
  std::atomic<std::int64_t> last_status_demand_{std::numeric_limits<std::int64_t>::min() / 2};
  mutable std::mutex activity_mutex_;
  std::shared_ptr<const Activity> activity_;

  ConnectionGate gate_;
  ClientTurns turns_;

  PageViews views_;
  Metrics metrics_;
  ObjectShelf objects_;

  std::string archive_directory_;
  std::unique_ptr<ArchiveListing> archive_listing_;
  std::shared_ptr<RunCatalogue> catalogue_;
  std::mutex archived_reads_;
};

}  // namespace kivo::web

#endif
