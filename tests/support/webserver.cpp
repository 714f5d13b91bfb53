#include "webserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "process.h"

namespace testsupport {

namespace {

// Seconds to wait for the server to come up or to end, and for an answer.
constexpr int kWaitSeconds = 30;
// Another test may take the port between choosing and binding it.
constexpr int kStartAttempts = 5;
const char kProtectedPath[] = "/auth/cgi";
const char kOpenPath[] = "/open/cgi";

// A port of 127.0.0.1 that is free right now, or -1.
int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

// A connected socket to 127.0.0.1:port, or -1.
int connectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string base64(const std::string &text) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < text.size(); i += 3) {
    unsigned n = static_cast<unsigned char>(text[i]) << 16;
    if (i + 1 < text.size()) n |= static_cast<unsigned char>(text[i + 1]) << 8;
    if (i + 2 < text.size()) n |= static_cast<unsigned char>(text[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < text.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < text.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

// A value in lighttpd's configuration syntax.
std::string confValue(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string lighttpdProgram() {
  return fileExists("/usr/sbin/lighttpd") ? "/usr/sbin/lighttpd" : "lighttpd";
}

}  // namespace

WebServer::WebServer(const std::string &dir, const Options &options) : dir_(dir), options_(options) {
  makeDirs(dir_);
}

WebServer::~WebServer() { stop(); }

std::string WebServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string WebServer::protectedUrl(const std::string &query) const {
  return base() + kProtectedPath + (query.empty() ? "" : "?" + query);
}

std::string WebServer::openUrl(const std::string &query) const {
  return base() + kOpenPath + (query.empty() ? "" : "?" + query);
}

std::string WebServer::cgiErrors() const { return readFile(dir_ + "/cgi.log"); }

std::string WebServer::serverLog() const { return readFile(dir_ + "/error.log"); }

int WebServer::children() const {
  int n = 0;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
    // "pid (name) state ppid ...": the name may hold blanks and parentheses.
    std::string stat = readFile(entry.path().string() + "/stat");
    size_t name = stat.rfind(')');
    int ppid = 0;
    if (name != std::string::npos && sscanf(stat.c_str() + name + 1, " %*c %d", &ppid) == 1 && ppid == pid_) ++n;
  }
  return n;
}

bool WebServer::start() {
  if (running()) return true;
  for (int attempt = 0; attempt < kStartAttempts; ++attempt)
    if (startOnce()) return true;
  fprintf(stderr, "lighttpd did not come up:\n%s\n", serverLog().c_str());
  return false;
}

bool WebServer::startOnce() {
  port_ = freePort();
  if (port_ < 0) return false;
  std::string program = options_.program.find('/') == std::string::npos ? binPath(options_.program)
                                                                          : options_.program;
  std::string env = "\"TZ\" => \"UTC\", \"PATH\" => \"/usr/sbin:/usr/bin:/sbin:/bin\"";
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
    if (const char *value = getenv(name)) env += ", " + confValue(name) + " => " + confValue(value);
  for (const auto &[name, value] : options_.env) env += ", " + confValue(name) + " => " + confValue(value);

  makeDirs(dir_ + "/htdocs");
  writeFile(dir_ + "/users", options_.users);
  writeFile(dir_ + "/lighttpd.conf",
            "server.modules = (\"mod_alias\", \"mod_setenv\", \"mod_auth\", \"mod_authn_file\", \"mod_cgi\")\n"
            "server.document-root = " + confValue(dir_ + "/htdocs") + "\n"
            "server.bind = \"127.0.0.1\"\n"
            "server.port = " + std::to_string(port_) + "\n"
            "server.errorlog = " + confValue(dir_ + "/error.log") + "\n"
            "server.breakagelog = " + confValue(dir_ + "/cgi.log") + "\n"
            "alias.url = (\"" + kProtectedPath + "\" => " + confValue(program) + ", \"" + kOpenPath +
            "\" => " + confValue(program) + ")\n"
            "cgi.assign = (\"\" => \"\")\n"
            "setenv.add-environment = (" + env + ")\n"
            "auth.backend = \"plain\"\n"
            "auth.backend.plain.userfile = " + confValue(dir_ + "/users") + "\n"
            "auth.require = (\"/auth/\" => (\"method\" => \"basic\", \"realm\" => \"korvix\","
            " \"require\" => \"valid-user\"))\n");

  // The overlay over /etc: what the test gives, on an empty work directory.
  std::string upper = dir_ + "/etc", work = dir_ + "/etc-work";
  std::error_code ec;
  std::filesystem::remove_all(upper, ec);
  std::filesystem::remove_all(work, ec);
  makeDirs(upper);
  makeDirs(work);
  for (const auto &[name, text] : options_.etc) writeFile(upper + "/" + name, text);
  std::vector<std::string> args = etcOverlayCommand(upper, work);
  args.insert(args.end(), {lighttpdProgram(), "-D", "-f", dir_ + "/lighttpd.conf"});
  pid_ = spawnChild(args, nullptr);
  if (pid_ < 0) return false;

  time_t deadline = time(nullptr) + kWaitSeconds;
  while (time(nullptr) <= deadline) {
    int fd = connectTo(port_);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) break;  // ended: the port was taken
    usleep(10000);
  }
  stopChild(pid_, kWaitSeconds);
  pid_ = -1;
  return false;
}

void WebServer::stop() {
  if (!running()) return;
  stopChild(pid_, kWaitSeconds);
  pid_ = -1;
}

HttpResponse httpGet(const std::string &url, const std::string &user, const std::string &password) {
  HttpResponse response;
  const std::string scheme = "http://127.0.0.1:";
  if (url.compare(0, scheme.size(), scheme) != 0) return response;
  size_t slash = url.find('/', scheme.size());
  int port = static_cast<int>(strtol(url.c_str() + scheme.size(), nullptr, 10));
  std::string path = slash == std::string::npos ? "/" : url.substr(slash);
  int fd = connectTo(port);
  if (fd < 0) return response;

  std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  if (!user.empty()) request += "Authorization: Basic " + base64(user + ":" + password) + "\r\n";
  request += "\r\n";
  std::string answer;
  if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    time_t deadline = time(nullptr) + kWaitSeconds;
    char buf[65536];
    while (time(nullptr) <= deadline) {
      pollfd p = {fd, POLLIN, 0};
      int r = poll(&p, 1, 200);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      answer.append(buf, n);
    }
  }
  close(fd);

  size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos) return response;
  response.headers = answer.substr(0, end + 2);
  response.body = answer.substr(end + 4);
  size_t space = answer.find(' ');
  if (space < end) response.status = static_cast<int>(strtol(answer.c_str() + space + 1, nullptr, 10));
  return response;
}

}  // namespace testsupport
