#include "tools/board/board_server.h"

#include <httplib.h>

#include <atomic>
#include <charconv>
#include <chrono>

#include "tools/board/board_figures.h"

namespace board {

extern const std::string_view kAsset_index_html;
extern const std::string_view kAsset_board_css;
extern const std::string_view kAsset_board_js;

namespace {

using namespace std::chrono_literals;

// How long a watch waits before the figures are looked at again anyway: the day and the last
// hour move on without any record.
constexpr int kWatchMs = 1000;
constexpr auto kRefreshEvery = 30s;
// The day's figures at most this often, and while the store is away, tried again this often.
constexpr auto kFiguresGap = 1s;
constexpr auto kRetryGap = 1500ms;
// A comment line keeps a quiet stream open through proxies and tells a dead browser apart.
constexpr auto kStreamKeepAlive = 15s;
constexpr int kWorkers = 160;
constexpr int kMaxStreams = 128;
constexpr int kHistoryRows = 200;
constexpr std::size_t kMaxImeiBytes = 64;
constexpr int kMaxParetoDays = 366;
constexpr auto kParetoAge = 60s;

constexpr const char* kContentSecurity =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

bool NeedsToken(const std::string& path) {
  return path.rfind("/api/", 0) == 0 || path == "/events";
}

// Compares every byte whatever the first difference, so timing tells nothing of the token.
bool SameText(const std::string& a, const std::string& b) {
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return difference == 0;
}

void Json(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(text, "application/json; charset=utf-8");
}

void Error(httplib::Response& res, int status, const std::string& message) {
  Json(res, status, JsonText({{"error", message}}));
}

}  // namespace

BoardServer::BoardServer(BoardOptions options, std::string chartJs)
    : options_(std::move(options)),
      chartJs_(std::move(chartJs)),
      http_(std::make_unique<httplib::Server>()) {
  Routes();
}

BoardServer::~BoardServer() {
  Stop();
  if (refresher_.joinable()) refresher_.join();
  if (watcher_.joinable()) watcher_.join();
}

bool BoardServer::Bind(std::string* error) {
  if (!http_->bind_to_port(options_.host.c_str(), options_.port)) {
    *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
             " (taken, or not an address of this machine)";
    return false;
  }
  return true;
}

void BoardServer::Serve() {
  {
    std::lock_guard lock(mutex_);
    fullDue_ = true;
  }
  refresher_ = std::thread([this] { KeepFiguresCurrent(); });
  watcher_ = std::thread([this] { WatchUnits(); });
  http_->listen_after_bind();
  Stop();
  refresher_.join();
  watcher_.join();
}

void BoardServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  fullWanted_.notify_all();
  http_->stop();
}

bool BoardServer::Authorized(const std::string& given) const {
  return options_.token.empty() || SameText(given, options_.token);
}

void BoardServer::Routes() {
  auto& http = *http_;
  http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  http.set_payload_max_length(1024);
  http.set_read_timeout(5, 0);
  http.set_default_headers({{"Content-Security-Policy", kContentSecurity},
                            {"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"X-Frame-Options", "DENY"}});
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      Error(res, 405, "the board only shows: GET");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!NeedsToken(req.path)) return httplib::Server::HandlerResponse::Unhandled;
    std::string given = req.get_param_value("token");
    const std::string header = req.get_header_value("Authorization");
    if (header.rfind("Bearer ", 0) == 0) given = header.substr(7);
    if (Authorized(given)) return httplib::Server::HandlerResponse::Unhandled;
    Error(res, 401, "a token is needed: open the board as /?token=...");
    return httplib::Server::HandlerResponse::Handled;
  });
  http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) Error(res, res.status, "not here");
  });

  auto asset = [&http](const char* path, std::string_view body, const char* type) {
    http.Get(path, [body, type](const httplib::Request&, httplib::Response& res) {
      res.set_content(body.data(), body.size(), type);
    });
  };
  asset("/", kAsset_index_html, "text/html; charset=utf-8");
  asset("/board.css", kAsset_board_css, "text/css; charset=utf-8");
  asset("/board.js", kAsset_board_js, "text/javascript; charset=utf-8");
  http.Get("/chart.js", [this](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "max-age=86400");
    res.set_content(chartJs_, "text/javascript; charset=utf-8");
  });

  for (const char* part :
       {"figures", "hourly", "yields", "last-hour", "gps", "last-units", "config"}) {
    http.Get(std::string("/api/") + part,
             [this, part](const httplib::Request&, httplib::Response& res) {
               const std::string text = Part(part);
               if (text.empty()) return Error(res, 503, "the figures are being read");
               Json(res, 200, text);
             });
  }
  http.Get("/api/pareto", [this](const httplib::Request& req, httplib::Response& res) {
    int status = 200;
    const std::string days = req.has_param("days") ? req.get_param_value("days") : "1";
    const std::string text = days == "1" ? Part("pareto") : OnDemand("pareto", days, &status);
    if (text.empty()) return Error(res, 503, "the figures are being read");
    Json(res, status, text);
  });
  http.Get("/api/unit", [this](const httplib::Request& req, httplib::Response& res) {
    int status = 200;
    const std::string text = OnDemand("unit", req.get_param_value("imei"), &status);
    Json(res, status, text);
  });

  http.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
    if (openStreams_.load() >= kMaxStreams) return Error(res, 503, "too many boards open");
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");  // a reverse proxy passes each event at once
    ++openStreams_;
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, sent = std::uint64_t{0}](std::size_t, httplib::DataSink& sink) mutable {
          std::string chunk = sent == 0 ? "retry: 1000\n\n" : "";
          std::unique_lock lock(mutex_);
          changed_.wait_for(lock, kStreamKeepAlive,
                            [&] { return stopping_ || (version_ != sent && version_ != 0); });
          if (stopping_) return false;
          if (version_ != sent && version_ != 0) {
            sent = version_;
            chunk += "event: figures\ndata: " + parts_["figures"] + "\n\n";
          } else {
            chunk += ": still here\n\n";
          }
          lock.unlock();
          return sink.write(chunk.data(), chunk.size());
        },
        [this](bool) { --openStreams_; });
  });
}

std::string BoardServer::Part(const std::string& name) {
  std::lock_guard lock(mutex_);
  const auto found = parts_.find(name);
  return found == parts_.end() ? std::string() : found->second;
}

std::string BoardServer::OnDemand(const std::string& what, const std::string& value,
                                  int* httpStatus) {
  int days = 0;
  if (what == "pareto") {
    const auto [end, problem] = std::from_chars(value.data(), value.data() + value.size(), days);
    if (problem != std::errc() || end != value.data() + value.size() || days < 1 ||
        days > kMaxParetoDays) {
      *httpStatus = 400;
      return JsonText({{"error", "days wants 1.." + std::to_string(kMaxParetoDays)}});
    }
  } else if (value.empty() || value.size() > kMaxImeiBytes) {
    *httpStatus = 400;
    return JsonText({{"error", "imei wants 1.." + std::to_string(kMaxImeiBytes) + " bytes"}});
  }
  std::lock_guard lock(queryMutex_);
  // A period's Pareto is read once a minute at most, however many boards show it.
  const auto now = std::chrono::steady_clock::now();
  if (const auto cached = paretoCache_.find(days);
      what == "pareto" && cached != paretoCache_.end() && now - cached->second.first < kParetoAge) {
    return cached->second.second;
  }
  records::StoreStatus status;
  if (!queryReader_) queryReader_ = records::OpenFigureReader(options_.records, &status);
  nlohmann::json out;
  if (queryReader_ && what == "pareto") {
    records::Pareto pareto;
    const auto window = LocalDays(std::time(nullptr), days);
    status = queryReader_->FailurePareto(window, &pareto);
    out = ParetoJson(pareto);
    out["fromUtc"] = window.fromUtc;
    out["toUtc"] = window.toUtc;
    if (status.ok) paretoCache_[days] = {now, JsonText(out)};
  } else if (queryReader_) {
    std::vector<records::UnitSummary> units;
    status = queryReader_->UnitHistory(value, kHistoryRows, &units);
    out = {{"imei", value}, {"units", UnitsJson(units)}};
  }
  if (!status.ok) {
    queryReader_.reset();
    *httpStatus = 503;
    return JsonText({{"error", status.message}});
  }
  return JsonText(out);
}

// Every change wakes this thread: the new units go out at once (a small read), and the day's
// figures, which take long on a big store, are asked of the other thread.
void BoardServer::WatchUnits() {
  auto watch = records::OpenChangeWatch(options_.records);
  std::unique_ptr<records::FigureReader> reader;
  auto lastFull = std::chrono::steady_clock::now();
  while (!Stopping()) {
    bool changed = false;
    const bool watching = watch->Wait(kWatchMs, &changed).ok;
    const bool stale = std::chrono::steady_clock::now() - lastFull >= kRefreshEvery;
    if (!changed && watching && !stale) continue;
    records::StoreStatus status;
    if (!reader) reader = records::OpenFigureReader(options_.records, &status);
    std::vector<records::UnitSummary> units;
    if (reader) status = reader->LastUnits(kLastUnits, &units);
    if (!status.ok) reader.reset();
    std::unique_lock lock(mutex_);
    if (status.ok && !current_.is_null()) {
      current_["lastUnits"] = UnitsJson(units);
      PublishLocked();
      lock.unlock();
      changed_.notify_all();
      lock.lock();
    }
    fullDue_ = true;
    lastFull = std::chrono::steady_clock::now();
    fullWanted_.notify_all();
  }
}

void BoardServer::KeepFiguresCurrent() {
  std::unique_ptr<records::FigureReader> reader;
  while (true) {
    {
      std::unique_lock lock(mutex_);
      fullWanted_.wait(lock, [this] { return stopping_ || fullDue_; });
      if (stopping_) return;
      fullDue_ = false;
    }
    records::StoreStatus status;
    if (!reader) reader = records::OpenFigureReader(options_.records, &status);
    nlohmann::json figures;
    if (reader) status = ReadFigures(*reader, options_, std::time(nullptr), &figures);
    if (!status.ok) reader.reset();
    {
      std::lock_guard lock(mutex_);
      if (status.ok) {
        // The units the watching thread read may be newer than these.
        if (current_.contains("lastUnits")) figures["lastUnits"] = current_["lastUnits"];
        current_ = std::move(figures);
      } else if (current_.is_null()) {
        current_ = nlohmann::json::object();
      }
      current_["store"] = {{"ok", status.ok}, {"error", status.message}};
      storeOk_ = status.ok;
      // Tried again after a pause while the store is away, so its return shows at once.
      if (!status.ok) fullDue_ = true;
      PublishLocked();
    }
    changed_.notify_all();
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, status.ok ? kFiguresGap : kRetryGap, [this] { return stopping_; });
  }
}

bool BoardServer::Stopping() {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void BoardServer::PublishLocked() {
  nlohmann::json& figures = current_;
  figures["config"] = {{"lang", options_.lang},
                       {"threshold", options_.yieldThresholdPercent},
                       {"fixWithinSeconds", options_.gps.fixWithinSeconds},
                       {"minSatellitesUsed", options_.gps.minSatellitesUsed},
                       {"strongSignalDbHz", options_.gps.strongSignalDbHz}};
  std::map<std::string, std::string> parts;
  for (const auto& [key, name] : std::map<std::string, std::string>{{"hourly", "hourly"},
                                                                    {"yields", "yields"},
                                                                    {"lastHour", "last-hour"},
                                                                    {"pareto", "pareto"},
                                                                    {"gps", "gps"},
                                                                    {"lastUnits", "last-units"},
                                                                    {"config", "config"}}) {
    if (figures.contains(key)) parts[name] = JsonText(figures[key]);
  }
  figures["version"] = ++version_;
  parts["figures"] = JsonText(figures);
  parts_ = std::move(parts);
}

}  // namespace board
