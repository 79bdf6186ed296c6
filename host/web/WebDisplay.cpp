#include "WebDisplay.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string_view>
#include <thread>
#include <utility>

#include "ArchiveFiles.h"
#include "Certification.h"
#include "Gzip.h"
#include "HttpExchange.h"
#include "LiveCanvas.h"
#include "MetricsToken.h"
#include "RequestHead.h"
#include "RootJSON.h"
#include "RootObjectReader.h"
#include "TObject.h"
#include "ThreadPriority.h"
#include "monitor_plugin.h"

namespace kivo::web {

namespace {

// Enough workers that a crowd of slow clients leaves some free, each client
// having a few seconds to send its whole request before it is dropped.
constexpr const char* kServerThreads = "100";
constexpr const char* kListenBacklog = "128";
constexpr const char* kConnectionQueue = "64";
constexpr const char* kRequestTimeoutMs = "5000";
constexpr const char* kMaxRequestSize = "16384";
constexpr unsigned kFeatureIpv6 = 8;  // mg_check_feature bit
constexpr std::chrono::milliseconds kKnockInterval{20};
// JSON shorter than this goes out as it is.
constexpr std::size_t kCompressFrom = 1024;
// How long a request waits for a canvas update that is being serialised, and
// for the event thread to copy a region a page has just zoomed into.
constexpr std::chrono::milliseconds kFreshViewWait{300};
constexpr std::chrono::milliseconds kRegionWait{1000};
// /status.json asks for the newest view at most this often, so that a crowd
// polling it cannot make the display serialise every canvas update.
constexpr std::chrono::milliseconds kStatusFreshness{1000};
// How long a root.json request waits for the event thread to copy its object.
constexpr std::chrono::milliseconds kObjectWait{1500};
// The refresh JSROOT's monitoring starts with in the browser view.
constexpr int kMonitoringMs = 1000;

// Subdirectories of the JSROOT package the page needs; each is served under /jsroot/<name>/.
constexpr const char* kJsrootParts[] = {"modules", "fonts", "img", "scripts"};

std::string url_host(const std::string& address) {
  if (address.find(':') != std::string::npos) return "[" + address + "]";
  return address;
}

std::string listening_spec(const std::string& address, int port) {
  return url_host(address) + ":" + std::to_string(port);
}

// civetweb's accept loop notices a stop request only between polls of up to two seconds;
// a connection to the listener ends the poll at once.
void knock(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return;
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    connect(fd, found->ai_addr, found->ai_addrlen);
    close(fd);
  }
  freeaddrinfo(found);
}

// civetweb's messages are not printed; the first one logged while starting on this thread
// names the cause of a start failure ("cannot bind to ...: Address already in use"),
// where the error text only says that the ports could not be set up.
thread_local std::string first_log_message;

int keep_first_log_message(const mg_connection*, const char* message) {
  if (first_log_message.empty()) first_log_message = message;
  return 1;
}

// civetweb ends a system error as "98 (Address already in use)"; the number
// tells an operator nothing the text does not.
std::string without_error_number(const std::string& message) {
  static const std::regex error_number(R"( \d+ \((.*)\)$)");
  return std::regex_replace(message, error_number, " $1");
}

}  // namespace

WebDisplay::WebDisplay(std::string bind_address, int port, std::string web_root)
    : bind_address_(std::move(bind_address)),
      port_(port),
      web_root_(std::move(web_root)),
      instance_tag_(std::to_string(std::chrono::system_clock::now().time_since_epoch().count())),
      store_(instance_tag_) {
  // The page asks for it from the start; it reads version 0 until the host publishes one.
  views_.add(kQualityView, {"trends", "reference", "tracks"});
}

WebDisplay::~WebDisplay() {
  if (context_ == nullptr) return;
  std::atomic<bool> stopped{false};
  std::thread stopper([this, &stopped] {
    mg_stop(context_);
    stopped = true;
  });
  while (!stopped) {
    knock(bind_address_, bound_port_);
    std::this_thread::sleep_for(kKnockInterval);
  }
  stopper.join();
  mg_exit_library();
}

bool WebDisplay::collect_static_trees(std::string& error) {
  trees_.clear();
  auto page = kivo::web::make_static_tree("/", web_root_ + "/page");
  if (!page) {
    error = "web display: page files not found in " + web_root_ + "/page";
    return false;
  }
  trees_.push_back(std::move(*page));
  for (const char* part : kJsrootParts) {
    auto tree = kivo::web::make_static_tree(std::string("/jsroot/") + part + "/",
                                            web_root_ + "/node_modules/jsroot/" + part);
    if (tree) trees_.push_back(std::move(*tree));
  }
  // Without JSROOT's modules the page loads but can never draw a canvas.
  if (!std::filesystem::is_regular_file(web_root_ + "/node_modules/jsroot/modules/main.mjs")) {
    error = "web display: JSROOT not found in " + web_root_ + "/node_modules/jsroot (run ./run.sh setup)";
    return false;
  }
  return true;
}

bool WebDisplay::valid_bind_address(const std::string& address) {
  in6_addr parsed{};
  return inet_pton(AF_INET, address.c_str(), &parsed) == 1 ||
         inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

bool WebDisplay::start(std::string& error) {
  const std::string where = listening_spec(bind_address_, port_);
  if (context_ != nullptr) {
    error = "web display on " + where + ": already started";
    return false;
  }
  if (!valid_bind_address(bind_address_)) {
    error = "web display on " + where + ": not a numeric IPv4 or IPv6 address";
    return false;
  }
  if (port_ < 0 || port_ > 65535) {
    error = "web display on " + where + ": port out of range 0..65535";
    return false;
  }
  if (bind_address_.find(':') != std::string::npos && mg_check_feature(kFeatureIpv6) == 0) {
    error = "web display on " + where + ": this civetweb has no IPv6 support; bind an IPv4 address";
    return false;
  }
  if (!collect_static_trees(error)) return false;

  const bool tls = !access_.certificate.empty();
  if (tls) {
    if (const std::string problem = kivo::web::enable_tls(); !problem.empty()) {
      error = "web display on " + where + ": cannot serve HTTPS: " + problem;
      return false;
    }
  }
  const std::string ports = where + (tls ? "s" : "");
  const std::string keep_alive_ms = std::to_string(kKeepAliveSeconds * 1000);
  std::vector<const char*> options = {"listening_ports",    ports.c_str(),
                                      "num_threads",        kServerThreads,
                                      "listen_backlog",     kListenBacklog,
                                      "connection_queue",   kConnectionQueue,
                                      "request_timeout_ms", kRequestTimeoutMs,
                                      "max_request_size",   kMaxRequestSize,
                                      "enable_keep_alive",  "yes",
                                      "keep_alive_timeout_ms", keep_alive_ms.c_str(),
                                      // No leave for other sites' pages to read the display, and
                                      // no preflight answered before authentication.
                                      "access_control_allow_origin",  "",
                                      "access_control_allow_methods", "",
                                      "access_control_allow_headers", ""};
  if (tls)
    options.insert(options.end(), {"ssl_certificate", access_.certificate.c_str(), "ssl_protocol_version",
                                   kTlsFromVersion12, "ssl_cipher_list", kTls12Ciphers});
  options.push_back(nullptr);
  mg_callbacks callbacks{};
  callbacks.log_message = keep_first_log_message;
  callbacks.init_connection = &WebDisplay::connection_taken;
  callbacks.begin_request = &WebDisplay::request_head_read;
  callbacks.init_ssl = prepare_tls_context;
  callbacks.init_thread = [](const mg_context*, int) -> void* {
    yield_to_event_processing();
    return nullptr;
  };
  mg_init_data init{&callbacks, this, options.data()};
  char reason[256] = "";
  unsigned code = 0;
  mg_error_data failure{&code, reason, sizeof reason};

  mg_init_library(0);
  first_log_message.clear();
  // The server's threads inherit the signal mask of the thread that starts them.
  context_ = with_stop_signals_blocked([&] { return mg_start2(&init, &failure); });
  if (context_ == nullptr) {
    mg_exit_library();
    error = !first_log_message.empty() ? without_error_number(first_log_message)
            : reason[0] != '\0'          ? std::string(reason)
                                          : std::string("cannot start");
    if (error.find(where) == std::string::npos) error = "web display on " + where + ": " + error;
    return false;
  }
  mg_server_port port{};
  if (mg_get_server_ports(context_, 1, &port) == 1) bound_port_ = port.port;
  gate_.start(bind_address_, bound_port_);
  if (!access_.password_file.empty()) digest_ = std::make_unique<DigestAuth>(access_.password_file, access_.realm);
  if (digest_ || !access_.metrics_token.empty())
    mg_set_auth_handler(context_, "/", &WebDisplay::authorize, this);
  mg_set_request_handler(context_, "/", &WebDisplay::handle_request, this);
  return true;
}

void WebDisplay::set_archive(const std::string& directory) {
  archive_directory_ = directory;
  archive_listing_ = directory.empty() ? nullptr : std::make_unique<ArchiveListing>(directory);
}

std::string WebDisplay::address() const { return addresses().front(); }

std::vector<std::string> WebDisplay::addresses() const {
  const std::string scheme = access_.certificate.empty() ? "http://" : "https://";
  const std::string port = std::to_string(bound_port_ != 0 ? bound_port_ : port_);
  std::vector<std::string> urls;
  for (const std::string& host : kivo::web::openable_hosts(bind_address_)) urls.push_back(scheme + host + ":" + port + "/");
  return urls;
}

void WebDisplay::publish_text(std::string canvas_json, int run, long events) {
  ViewTexts texts;
  texts.run = run;
  texts.events = events;
  texts.has_canvas = true;
  texts.layout = std::move(canvas_json);
  store_.publish(std::move(texts));
}

void WebDisplay::attach(std::shared_ptr<const Activity> activity) {
  std::lock_guard lock(activity_mutex_);
  activity_ = std::move(activity);
}

std::string WebDisplay::activity_json() const {
  std::shared_ptr<const Activity> activity;
  {
    std::lock_guard lock(activity_mutex_);
    activity = activity_;
  }
  return activity ? Activity::json(activity->read()) : "null";
}

int WebDisplay::handle_request(mg_connection* connection, void* self) {
  auto* display = static_cast<WebDisplay*>(self);
  const std::string client = mg_get_request_info(connection)->remote_addr;
  if (!display->turns_.enter(client))
    return send_error(connection, 503, "too many requests from this address", "Retry-After: 1\r\n");
  const int status = display->respond(connection);
  display->turns_.leave(client);
  return status;
}

int WebDisplay::connection_taken(const mg_connection* connection, void** data) {
  *data = nullptr;
  static_cast<WebDisplay*>(mg_get_user_data(mg_get_context(connection)))->gate_.connection_taken();
  return 0;
}

// Before any handler and before authentication, for every path: a head
// whose framing could be read two ways ends its connection, and a path that
// decodes to a NUL or another control character names nothing served.
int WebDisplay::request_head_read(mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  static_cast<WebDisplay*>(request->user_data)->gate_.request_read(request->remote_addr, request->remote_port);
  if (const std::string problem = framing_problem(*request); !problem.empty()) {
    // civetweb's own error answer closes the connection after it.
    mg_send_http_error(connection, 400, "request refused: %s", problem.c_str());
    return 400;
  }
  if (request->local_uri_raw == nullptr) return 0;  // not a path of this server: civetweb answers
  const std::optional<std::string> path = decoded_path(*request);
  if (!path) return send_error(connection, 400, "bad request path");
  if (has_control_character(*path)) return send_error(connection, 404, "not found");
  return 0;  // civetweb goes on with the request
}

// Every path needs the password: the page, JSROOT and the canvas alike; the
// metrics token opens /metrics.
int WebDisplay::authorize(mg_connection* connection, void* self) {
  WebDisplay* display = static_cast<WebDisplay*>(self);
  if (const std::optional<int> decided = authorize_metrics(connection, display->access_)) return *decided;
  return display->digest_->admit(connection) ? 1 : 0;
}

int WebDisplay::respond(mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  const std::string_view method(request->request_method);
  const char* path = request->local_uri_raw;
  if (path != nullptr && std::strcmp(path, kCertifyPath) == 0)
    return respond_certify(connection, catalogue_.get(),
                           {digest_ != nullptr, kivo::web::is_loopback(bind_address_)});
  if (method != "GET" && method != "HEAD") {
    return send_error(connection, 405, "read-only display: only GET and HEAD are allowed",
                      "Allow: GET, HEAD\r\n");
  }
  const bool head = method == "HEAD";
  if (path == nullptr || path[0] != '/') return send_error(connection, 400, "bad request path");
  if (std::strcmp(path, "/update.json") == 0) return respond_update(connection, head);
  if (std::strcmp(path, "/canvas.json") == 0) return respond_canvas(connection, head);
  if (std::strcmp(path, "/status.json") == 0) return respond_status(connection, head);
  if (std::strcmp(path, kMetricsPath) == 0) return metrics_.respond(connection, head);
  if (std::strcmp(path, "/runs.json") == 0) return respond_runs(connection, head);
  std::optional<ProtocolRequest> protocol;
  std::string problem;
  if (parse_protocol_path(path, protocol, problem)) {
    if (!protocol) return send_error(connection, 404, problem);
    if (!valid_compact(query_text(connection, "compact")))
      return send_error(connection, 400, "compact: not one of TBufferJSON's levels (0-3, +10, +20, +30, +100)");
    return respond_protocol(connection, *protocol, head);
  }
  if (std::strcmp(path, "/browse") == 0 || std::strcmp(path, "/browse/") == 0)
    return respond_file(connection, "/browse/index.html", head);
  if (std::string_view(path).starts_with(kArchivePrefix) && archive_listing_)
    return send_archive_file(connection, archive_directory_, std::string_view(path).substr(kArchivePrefix.size()), head);
  if (auto view = views_.respond(path, query_number(connection, "since"), query_text(connection, "parts")))
    return send_text(connection, 200, "application/json", *view, "Cache-Control: no-store\r\n", head);
  if (std::strcmp(path, "/") == 0) return respond_file(connection, "/index.html", head);
  if (std::strcmp(path, "/favicon.ico") == 0) return respond_file(connection, "/favicon.svg", head);
  return respond_file(connection, path, head);
}

int WebDisplay::send_json(mg_connection* connection, const std::string& body, const std::string& headers,
                          bool head) {
  if (body.size() >= kCompressFrom && accepts_gzip(mg_get_header(connection, "Accept-Encoding"))) {
    const std::string compressed = gzip(body);
    if (!compressed.empty()) {
      return send_text(connection, 200, "application/json", compressed,
                       headers + "Content-Encoding: gzip\r\nVary: Accept-Encoding\r\n", head);
    }
  }
  return send_text(connection, 200, "application/json", body, headers + "Vary: Accept-Encoding\r\n", head);
}

int WebDisplay::respond_update(mg_connection* connection, bool head) {
  ViewRequest request;
  const std::string problem = parse_view_request(mg_get_request_info(connection)->query_string, request);
  if (!problem.empty()) return send_error(connection, 400, "update.json: " + problem);
  const std::string client = mg_get_request_info(connection)->remote_addr;
  metrics_.page_clients().polled(client);
  std::vector<MapRegion> taken;
  for (const auto& [region, held] : request.regions)
    if (zooms_.ask(region, client)) taken.push_back(region);
  publisher_.demand(kFreshViewWait);
  publisher_.wait_for(
      [&] { return std::all_of(taken.begin(), taken.end(), [&](const MapRegion& r) { return store_.has_region(r); }); },
      kRegionWait);
  return send_json(connection, store_.update(request, activity_json()), "Cache-Control: no-store\r\n", head);
}

int WebDisplay::respond_canvas(mg_connection* connection, bool head) {
  publisher_.demand(kFreshViewWait);
  const auto [status, canvas] = store_.canvas();
  if (!canvas) {
    return send_error(connection, 404, "waiting for first canvas", "Cache-Control: no-store\r\n");
  }
  const std::string etag = "\"" + instance_tag_ + "-" + std::to_string(status.version) + "\"";
  const std::string headers = "ETag: " + etag + "\r\nCache-Control: no-cache\r\nX-KIVO-Run: " +
                              std::to_string(status.run) + "\r\nX-KIVO-Events: " +
                              std::to_string(status.events) + "\r\n";
  if (etag_matches(mg_get_header(connection, "If-None-Match"), etag)) return send_not_modified(connection, headers);
  return send_json(connection, *canvas, headers, head);
}

bool WebDisplay::status_may_demand() {
  const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::int64_t last = last_status_demand_.load();
  return now - last >= std::chrono::nanoseconds(kStatusFreshness).count() &&
         last_status_demand_.compare_exchange_strong(last, now);
}

int WebDisplay::respond_status(mg_connection* connection, bool head) {
  if (status_may_demand()) publisher_.demand(kFreshViewWait);
  const ViewStore::Status status = store_.status();
  const std::string body = "{\"version\":" + std::to_string(status.version) + ",\"run\":" +
                           std::to_string(status.run) + ",\"events\":" + std::to_string(status.events) +
                           ",\"activity\":" + activity_json() + "}";
  return send_json(connection, body, "Cache-Control: no-store\r\nX-KIVO-Instance: " + instance_tag_ + "\r\n",
                   head);
}

// Without an archive the list is empty: the page then says so.
int WebDisplay::respond_runs(mg_connection* connection, bool head) {
  if (!catalogue_) {
    const std::string body =
        archive_listing_ ? archive_listing_->json() : std::string("{\"runs\":[],\"archive\":false}");
    return send_json(connection, body, "Cache-Control: no-store\r\n", head);
  }
  RunsQuery query;
  if (const std::string problem = parse_runs_query(mg_get_request_info(connection)->query_string, query);
      !problem.empty())
    return send_error(connection, 400, "runs.json: " + problem);
  std::string error;
  const std::optional<std::string> listed = catalogue_->runs_json(query, error);
  return send_json(connection, listed ? *listed : archive_runs_json(error), "Cache-Control: no-store\r\n", head);
}

// The archive's files do not say what the filters ask of the registry: they
// are listed whole.
std::string WebDisplay::archive_runs_json(const std::string& registry_problem) {
  nlohmann::json listed = nlohmann::json::parse(archive_listing_ ? archive_listing_->json() : "{\"runs\":[]}");
  listed["archive"] = archive_listing_ != nullptr;
  listed["registry"] = {{"ok", false}, {"problem", registry_problem}};
  return listed.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int WebDisplay::respond_protocol(mg_connection* connection, const ProtocolRequest& request, bool head) {
  const std::string runs_prefix = std::string(kRunsFolder) + "/";
  if (request.item.starts_with(runs_prefix)) return respond_archived(connection, request, head);
  if (request.kind == ProtocolRequest::Kind::hierarchy) {
    if (!request.item.empty()) return send_error(connection, 404, "no such folder: " + request.item);
    const std::vector<ArchivedRun> runs = archive_listing_ ? archive_listing_->runs() : std::vector<ArchivedRun>{};
    return send_json(connection, hierarchy_json(*objects_.listing(), runs, kMonitoringMs), "Cache-Control: no-store\r\n",
                     head);
  }
  const auto listing = objects_.listing();
  const auto entry = std::find_if(listing->begin(), listing->end(),
                                  [&](const ShelfEntry& e) { return e.path == request.item; });
  if (entry == listing->end()) return send_error(connection, 404, "no such item: " + request.item);
  if (entry->class_name == "TCanvas") {
    publisher_.demand(kFreshViewWait);
    const auto canvas = store_.canvas().text;
    if (!canvas) return send_error(connection, 404, "waiting for first canvas", "Cache-Control: no-store\r\n");
    return send_object(connection, *canvas, request.gzip ? gzip(*canvas) : std::string(), request, head);
  }
  const auto text = objects_.json(request.item, kObjectWait);
  if (!text) return send_error(connection, 503, "kivo has not copied " + request.item + " yet; try again", "Retry-After: 1\r\n");
  return send_object(connection, text->json, request.gzip ? text->gzipped() : std::string(), request, head);
}

// root.json.gz goes compressed whatever the client says, as THttpServer sends it.
int WebDisplay::send_object(mg_connection* connection, const std::string& json, const std::string& gzipped,
                            const ProtocolRequest& request, bool head) {
  if (request.gzip && !gzipped.empty())
    return send_text(connection, 200, "application/json", gzipped, "Cache-Control: no-store\r\nContent-Encoding: gzip\r\n",
                     head);
  return send_json(connection, json, "Cache-Control: no-store\r\n", head);
}

int WebDisplay::respond_archived(mg_connection* connection, const ProtocolRequest& request, bool head) {
  if (!archive_listing_) return send_error(connection, 404, "kivo has no run archive (--archive DIR)");
  const std::string rest = request.item.substr(kRunsFolder.size() + 1);
  const std::string file = rest.substr(0, rest.find('/'));
  const std::string object = rest.size() > file.size() ? rest.substr(file.size() + 1) : std::string();
  const std::string path = archive_file_path(archive_directory_, file);
  if (path.empty()) return send_error(connection, 404, "no such archived run: " + file);
  if (request.kind == ProtocolRequest::Kind::hierarchy) {
    if (!object.empty()) return send_error(connection, 404, "no such folder: " + request.item);
    rootcompat::FileKeys keys;
    std::string error;
    if (!rootcompat::ReadFileKeys(path, keys, error)) return send_error(connection, 500, file + ": " + error);
    return send_json(connection, file_hierarchy_json(file, keys), "Cache-Control: no-store\r\n", head);
  }
  // One archived object read at a time: a hit map is tens of megabytes to inflate and write.
  std::lock_guard one_at_a_time(archived_reads_);
  std::string error;
  const std::unique_ptr<TObject> read = rootcompat::ReadFileObject(path, object, error);
  if (!read) return send_error(connection, error.starts_with("holds no object") ? 404 : 500, file + ": " + error);
  const std::string json = rootcompat::ToJSON(*read);
  return send_object(connection, json, request.gzip ? gzip(json) : std::string(), request, head);
}

int WebDisplay::respond_file(mg_connection* connection, const char* url_path, bool head) {
  const auto path = kivo::web::resolve_static_file(trees_, url_path);
  const auto file = path ? static_files_.get(*path) : nullptr;
  if (!file) return send_error(connection, 404, "not found");
  return send_static_file(connection, *file, head);
}

}  // namespace kivo::web
