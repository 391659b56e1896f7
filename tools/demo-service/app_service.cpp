#include "tools/demo-service/app_service.h"

#include <fstream>
#include <sstream>

#include "platform/text/utf8.h"
#include "tools/demo-service/sealing.h"

namespace shelvo::demo {
namespace {

std::optional<std::string> readWhole(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  platform::appendJsonEscaped(out, text);
  return out + "\"";
}

}  // namespace

bool isSafeScriptName(const std::string& name) {
  return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

AppService::AppService(const TlsIdentity& identity, AppServiceOptions options)
    : server_(identity.certificate.get(), identity.key.get()), options_(std::move(options)) {
  server_.set_logger(
      [this](const httplib::Request& request, const httplib::Response&) { logRequest(request); });
  server_.Get("/apps", [this](const httplib::Request&, httplib::Response& response) {
    auto list = options_.appList ? readWhole(*options_.appList) : std::optional<std::string>("[]");
    if (!list) {
      response.status = 500;
      return;
    }
    // The parameter keeps the HTTP library from compressing large lists at its slowest setting.
    response.set_content(*list, "application/json; charset=utf-8");
  });
  server_.Get("/apps/update/",
              [this](const httplib::Request& request, httplib::Response& response) {
                if (authorized(request, response))
                  sendScript(options_.scriptsFolder / "update.zsh", response);
              });
  server_.Get(R"(/apps/([^/]+))",
              [this](const httplib::Request& request, httplib::Response& response) {
                if (!authorized(request, response)) return;
                std::string name = request.matches[1];
                if (!isSafeScriptName(name)) {
                  response.status = 404;
                  return;
                }
                sendScript(options_.scriptsFolder / (name + ".zsh"), response);
              });
}

int AppService::bindLoopback(int port) {
  if (port == 0) return server_.bind_to_any_port("127.0.0.1");
  return server_.bind_to_port("127.0.0.1", port) ? port : -1;
}

void AppService::serve() {
  server_.listen_after_bind();
}

void AppService::stop() {
  server_.stop();
}

bool AppService::authorized(const httplib::Request& request, httplib::Response& response) const {
  if (request.get_header_value("Authorization") == "Basic " + options_.credential) return true;
  response.status = 401;
  return false;
}

void AppService::sendScript(const std::filesystem::path& file, httplib::Response& response) const {
  auto script = readWhole(file);
  if (!script) {
    response.status = 404;
    return;
  }
  // A type the HTTP library leaves uncompressed: it would compress with brotli at the slowest
  // setting, and Base64 of ciphertext does not shrink anyway.
  response.set_content(sealText(*script, options_.sealingKey), "application/octet-stream");
}

void AppService::logRequest(const httplib::Request& request) {
  if (!options_.requestLog) return;
  std::string line = "{\"method\":" + jsonString(request.method) +
                     ",\"target\":" + jsonString(request.target) + ",\"headers\":{";
  bool first = true;
  for (const auto& [name, value] : request.headers) {
    if (!first) line += ",";
    first = false;
    line += jsonString(name) + ":" + jsonString(value);
  }
  line += "}}\n";
  std::lock_guard lock(logMutex_);
  std::ofstream(*options_.requestLog, std::ios::app) << line;
}

}  // namespace shelvo::demo
