#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <list>
#include <vector>

#include "store.h"

namespace {

// A client's next request waits while more than this of its answers is
// unsent, so a client that sends and never reads costs at most this plus one
// answer.
constexpr size_t kUnsentMax = 4 << 20;
// The answers of all clients together: past half of this, clients that hold
// more than a quarter of their own bound wait; past all of it, every client
// waits, so memory stays bounded whatever the number of clients.
constexpr size_t kTotalUnsentMax = 64 << 20;
// Requests received and not yet answered: reading a client waits while it
// holds this much, so a pipelining client is taken a frame at a time.
constexpr size_t kReceivedMax = 2 * (kMaxPayload + 4);
constexpr const char *kGreeting = "0:6:dbserver, a stand-in on SQLite\n";
constexpr const char *kOk = "0:\n";
constexpr const char *kEnd = "-100:\n";
// Request command numbers, part of the wire format.
enum Command {
  kQuit = 1,
  kInitDb = 2,
  kQuery = 3,
  kDbList = 4,
  kTableList = 5,
  kFieldList = 6,
  kCreateDb = 7,
  kDropDb = 8,
  kReloadAcl = 9,
  kShutdown = 10,
};

volatile sig_atomic_t stopSignal = 0;

void onStopSignal(int) { stopSignal = 1; }

typedef std::chrono::steady_clock Clock;

// How long the server looks for a next request without sleeping.
constexpr std::chrono::microseconds kSpin(50);

struct Client {
  int fd = -1;
  Clock::time_point lastSent;  // when its answers last moved (or it had none)
  std::string in;          // bytes received, not yet answered
  std::string out;         // bytes to send from outSent on
  size_t outSent = 0;
  bool loggedIn = false;   // the login line has come
  std::string db;          // the selected database, "" none
  bool quitting = false;   // close once out is sent
  size_t unsent() const { return out.size() - outSent; }
  // A whole request is waiting in in.
  bool hasFrame() const {
    if (in.size() < 4) return false;
    const unsigned char *h = reinterpret_cast<const unsigned char *>(in.data());
    uint32_t length = h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<uint32_t>(h[3]) << 24);
    return length == 0 || length > kMaxPayload || in.size() - 4 >= length;
  }
};

// An IPv4 network of the access list, in host order.
struct Network {
  uint32_t address, mask;
};

// A frame is written in place: its length header first as room, filled in
// when its payload is complete.
size_t openFrame(std::string &out) {
  out.append(4, '\0');
  return out.size() - 4;
}

// Fills in the length of the frame opened at frame and returns it.
size_t closeFrame(std::string &out, size_t frame) {
  size_t length = out.size() - frame - 4;
  for (int i = 0; i < 4; i++) out[frame + i] = static_cast<char>((length >> (8 * i)) & 0xff);
  return length;
}

void appendFrame(std::string &out, const std::string &payload) {
  size_t frame = openFrame(out);
  out += payload;
  closeFrame(out, frame);
}

std::string errorPayload(const std::string &message) {
  std::string text = message.substr(0, 1000);
  for (char &c : text)
    if (c == '\n') c = ' ';
  return "-1:" + text + "\n";
}

// One value of a row: its length, ':' and its bytes; "-2:" for NULL.
void appendColumn(std::string &packet, const char *data, size_t size) {
  if (!data) {
    packet += "-2:";
    return;
  }
  char length[24];
  packet.append(length, static_cast<size_t>(std::to_chars(length, length + sizeof length, size).ptr - length));
  packet += ':';
  packet.append(data, size);
}

void appendColumn(std::string &packet, const std::string &text) { appendColumn(packet, text.data(), text.size()); }

// The frame of a field description: table, name, type, length, and Y or N
// for not null and for primary key.
void appendFieldFrame(std::string &out, const FieldInfo &f) {
  size_t frame = openFrame(out);
  char number[24];
  appendColumn(out, f.table);
  appendColumn(out, f.name);
  appendColumn(out, number, static_cast<size_t>(std::to_chars(number, number + sizeof number, f.type).ptr - number));
  appendColumn(out, number, static_cast<size_t>(std::to_chars(number, number + sizeof number, f.length).ptr - number));
  appendColumn(out, f.notNull ? "Y" : "N", 1);
  appendColumn(out, f.primaryKey ? "Y" : "N", 1);
  closeFrame(out, frame);
}

// Reads the access list of TCP clients: one IPv4 address or network
// ("127.0.0.1", "127.0.0.0/8") a line; blank lines and '#' comments are
// skipped. false with *error naming the line when one is neither, or when
// the file cannot be read.
bool readAccessList(const std::string &path, std::vector<Network> *out, std::string *error) {
  FILE *f = fopen(path.c_str(), "r");
  if (!f) {
    *error = "cannot read the access list " + path + ": " + strerror(errno);
    return false;
  }
  char line[256];
  bool ok = true;
  for (int number = 1; ok && fgets(line, sizeof line, f); number++) {
    std::string text = line;
    text = text.substr(0, text.find('#'));
    size_t first = text.find_first_not_of(" \t\r\n"), last = text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos) continue;
    text = text.substr(first, last - first + 1);
    std::string address = text.substr(0, text.find('/'));
    long bits = 32;
    if (address.size() < text.size()) {
      char *end = nullptr;
      std::string prefix = text.substr(address.size() + 1);
      bits = strtol(prefix.c_str(), &end, 10);
      if (prefix.empty() || *end || bits < 0 || bits > 32) bits = -1;
    }
    in_addr a;
    if (bits < 0 || inet_pton(AF_INET, address.c_str(), &a) != 1) {
      *error = path + ":" + std::to_string(number) + ": not an IPv4 address or network: " + text;
      ok = false;
      break;
    }
    uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
    out->push_back({ntohl(a.s_addr) & mask, mask});
  }
  fclose(f);
  return ok;
}

class Server {
 public:
  explicit Server(const ServerOptions &options) : options_(options), databases_(options.dir, options.durability) {}
  ~Server();
  int run();

 private:
  bool listenUnix();
  bool listenTcp();
  void acceptClients(int listener);
  bool serve(Client &c, short events);
  bool receive(Client &c);
  bool flush(Client &c);
  bool processFrame(Client &c);
  // Requests are read and answered only while this holds, so neither a
  // client's answers nor all clients' answers grow past their bounds.
  bool takesRequests(const Client &c) const;
  void dropStalledClients();
  bool allowed(int fd) const;
  bool handleRequest(Client &c, const std::string &payload);
  void reply(Client &c, const std::string &payload) { appendFrame(c.out, payload); }
  void replyError(Client &c, const std::string &message) { appendFrame(c.out, errorPayload(message)); }
  sqlite3 *currentDatabase(Client &c);
  void query(Client &c, const std::string &text);
  void listing(Client &c, const std::vector<std::string> &names);
  void fieldList(Client &c, const std::string &table);
  void logStatement(const std::string &text);

  ServerOptions options_;
  Databases databases_;
  std::vector<int> listeners_;
  std::list<Client> clients_;
  int logFd_ = -1;
  bool shutdownRequested_ = false;
  bool acceptPaused_ = false;  // out of file descriptors: wait for a client to leave or a second
  Clock::time_point pausedAt_;
  bool toldPause_ = false;     // this pause is in the log already
  size_t unsentTotal_ = 0;     // unsent answers of all clients
  Clock::time_point lastRequest_;  // when a request was last answered
  int tcpListener_ = -1;
  std::vector<Network> access_;
  bool unixBound_ = false;
  int port_ = -1;
};

Server::~Server() {
  for (Client &c : clients_) close(c.fd);
  for (int fd : listeners_) close(fd);
  if (unixBound_) unlink(options_.socketPath.c_str());
  if (logFd_ >= 0) close(logFd_);
}

bool Server::listenUnix() {
  const std::string &path = options_.socketPath;
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    fprintf(stderr, "dbserver: socket path too long: %s\n", path.c_str());
    return false;
  }
  memcpy(addr.sun_path, path.data(), path.size());
  // A socket left by an earlier run is removed; a live one or another kind
  // of file is not touched.
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      fprintf(stderr, "dbserver: %s exists and is no socket\n", path.c_str());
      return false;
    }
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live = probe >= 0 && connect(probe, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    if (probe >= 0) close(probe);
    if (live) {
      fprintf(stderr, "dbserver: a server already listens on %s\n", path.c_str());
      return false;
    }
    unlink(path.c_str());
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, SOMAXCONN) != 0) {
    fprintf(stderr, "dbserver: cannot listen on %s: %s\n", path.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  unixBound_ = true;
  listeners_.push_back(fd);
  return true;
}

bool Server::listenTcp() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int on = 1;
  sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(options_.port));
  socklen_t len = sizeof addr;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    fprintf(stderr, "dbserver: cannot listen on 127.0.0.1:%d: %s\n", options_.port, strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  port_ = ntohs(addr.sin_port);
  tcpListener_ = fd;
  listeners_.push_back(fd);
  return true;
}

void Server::acceptClients(int listener) {
  for (;;) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The listener stays readable: polling it now would spin. Accepting
        // is tried again once a client leaves, or a second from now.
        acceptPaused_ = true;
        pausedAt_ = Clock::now();
        if (!toldPause_)
          fprintf(stderr, "dbserver: %s with %zu clients: new ones wait until one leaves\n", strerror(errno),
                  clients_.size());
        toldPause_ = true;
      }
      return;  // EAGAIN, or out of descriptors
    }
    if (toldPause_) fprintf(stderr, "dbserver: accepting new clients again\n");
    toldPause_ = false;  // the next pause is a new one, and told again
    // A fresh connection has room for this little.
    const char *refused = listener == tcpListener_ && !allowed(fd) ? "Access denied"
                          : clients_.size() >= options_.maxClients ? "Too many clients"
                                                                   : nullptr;
    if (refused) {
      std::string refusal;
      appendFrame(refusal, errorPayload(refused));
      send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
      close(fd);
      continue;
    }
    Client c;
    c.fd = fd;
    c.lastSent = Clock::now();
    reply(c, kGreeting);
    unsentTotal_ += c.unsent();
    clients_.push_back(std::move(c));
  }
}

// True when the peer of a TCP connection is in a network of the access list.
bool Server::allowed(int fd) const {
  sockaddr_in peer;
  socklen_t len = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0 || peer.sin_family != AF_INET) return false;
  uint32_t address = ntohl(peer.sin_addr.s_addr);
  for (const Network &n : access_)
    if ((address & n.mask) == n.address) return true;
  return false;
}

bool Server::takesRequests(const Client &c) const {
  if (c.quitting || c.unsent() > kUnsentMax || unsentTotal_ > kTotalUnsentMax) return false;
  return unsentTotal_ <= kTotalUnsentMax / 2 || c.unsent() <= kUnsentMax / 4;
}

// While all answers together are past their bound, a client whose answers
// have not moved for the time bound of a statement is dropped, so clients
// that never read cannot keep the others waiting for ever.
void Server::dropStalledClients() {
  if (unsentTotal_ <= kTotalUnsentMax) return;
  const Clock::time_point now = Clock::now();
  const auto limit = std::chrono::duration<double>(options_.bounds.seconds > 0 ? options_.bounds.seconds : 10);
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (it->unsent() > 0 && now - it->lastSent > limit) {
      fprintf(stderr, "dbserver: a client read none of its %zu bytes of answers for %g seconds: dropped\n",
              it->unsent(), limit.count());
      unsentTotal_ -= it->unsent();
      close(it->fd);
      it = clients_.erase(it);
      acceptPaused_ = false;
    } else {
      ++it;
    }
  }
}

// One turn of a client: sends what it can, reads when the client may send
// more, answers one request. false when the client is to be dropped.
bool Server::serve(Client &c, short events) {
  bool open = true;
  if ((events & POLLOUT) && !flush(c)) return false;
  // Reading waits while answers are unsent past the bounds or requests are
  // waiting: c.in stays small too.
  if ((events & (POLLIN | POLLHUP | POLLERR)) && takesRequests(c) && c.in.size() < kReceivedMax)
    open = receive(c);
  // One request a turn, so a client's pipeline never keeps the others
  // waiting for more than one statement.
  if (!processFrame(c) || (c.unsent() && !flush(c))) return false;
  return (open || c.hasFrame()) && !(c.quitting && c.unsent() == 0);
}

// Reads what the client sent, one buffer at most; false when it closed or
// failed.
bool Server::receive(Client &c) {
  char buf[65536];
  for (;;) {
    ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n > 0) {
      c.in.append(buf, static_cast<size_t>(n));
      return true;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      return false;
    }
  }
}

// Sends what can be sent now; false when the client is gone.
bool Server::flush(Client &c) {
  while (c.outSent < c.out.size()) {
    ssize_t n = send(c.fd, c.out.data() + c.outSent, c.out.size() - c.outSent, MSG_NOSIGNAL);
    if (n > 0) {
      c.outSent += static_cast<size_t>(n);
      unsentTotal_ -= static_cast<size_t>(n);
      c.lastSent = Clock::now();
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      return false;
    }
  }
  if (c.unsent() == 0) {
    // A large answer's buffer is given back once it is sent.
    if (c.out.capacity() > kUnsentMax) std::string().swap(c.out);
    c.out.clear();
    c.outSent = 0;
  } else if (c.outSent >= c.unsent()) {
    // The sent part goes once it outweighs the rest, so each byte is moved
    // a few times at most.
    c.out.erase(0, c.outSent);
    c.outSent = 0;
  }
  return true;
}

// Answers the first request received when the bounds let it; false when
// the client is to be dropped (a malformed frame).
bool Server::processFrame(Client &c) {
  if (!takesRequests(c) || !c.hasFrame()) return true;
  const unsigned char *h = reinterpret_cast<const unsigned char *>(c.in.data());
  uint32_t length = h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<uint32_t>(h[3]) << 24);
  if (length == 0 || length > kMaxPayload) return false;
  std::string payload = c.in.substr(4, length);
  c.in.erase(0, 4 + length);
  size_t before = c.unsent();
  if (before == 0) c.lastSent = Clock::now();
  bool ok = handleRequest(c, payload);
  unsentTotal_ += c.unsent() - before;
  lastRequest_ = Clock::now();
  return ok;
}

sqlite3 *Server::currentDatabase(Client &c) {
  if (c.db.empty()) {
    replyError(c, "No database selected");
    return nullptr;
  }
  std::string error;
  sqlite3 *db = databases_.open(c.db, &error);
  if (!db) replyError(c, error);
  return db;
}

void Server::logStatement(const std::string &text) {
  if (logFd_ < 0) return;
  std::string line = text + "\n";
  // One write per line, so lines of an appending file never interleave.
  if (write(logFd_, line.data(), line.size()) < 0)
    fprintf(stderr, "dbserver: cannot write the statement log: %s\n", strerror(errno));
}

void Server::query(Client &c, const std::string &text) {
  logStatement(text);
  sqlite3 *db = currentDatabase(c);
  if (!db) return;
  Statement statement;
  QueryResult result;
  std::string error;
  if (!translateStatement(text, &statement, &error)) {
    replyError(c, error);
    return;
  }
  // Only the database's own tables are named: not the engine's schema,
  // pragma or table-valued names.
  bool definition = statement.sql.rfind("CREATE ", 0) == 0 || statement.sql.rfind("DROP ", 0) == 0;
  if (!definition && !databases_.hasTable(db, statement.table)) {
    replyError(c, "Only one table per statement, without join, alias or nested select");
    return;
  }
  // The rows go into the answer as they are read, each a frame after the
  // count of columns, which the first row gives. A failure on the way (a
  // row too long for a frame, a bound crossed) takes back what was added of
  // the answer and turns it into an error reply instead of a broken answer.
  size_t start = c.out.size();
  bool counted = false;
  result.sink = [&](const ColumnText *values, int count, std::string *failure) {
    if (!counted) reply(c, "1:" + std::to_string(count) + "\n");
    counted = true;
    size_t frame = openFrame(c.out);
    for (int i = 0; i < count; i++) appendColumn(c.out, values[i].data, values[i].size);
    if (closeFrame(c.out, frame) <= kMaxPayload) return true;
    *failure = "Row too long for a packet";
    return false;
  };
  bool ran = runStatement(db, statement, &result, &error, options_.bounds, databases_.statements(db));
  if (definition) databases_.forgetTables(db);
  if (!ran) {
    c.out.resize(start);
    replyError(c, error);
    return;
  }
  if (!result.hasColumns) {
    reply(c, std::to_string(result.changes) + "\n");
    return;
  }
  if (!counted) reply(c, "1:" + std::to_string(result.fields.size()) + "\n");
  reply(c, kEnd);
  for (const FieldInfo &f : result.fields) appendFieldFrame(c.out, f);
  reply(c, kEnd);
}

void Server::listing(Client &c, const std::vector<std::string> &names) {
  for (const std::string &name : names) {
    std::string packet;
    appendColumn(packet, name);
    reply(c, packet);
  }
  reply(c, kEnd);
}

void Server::fieldList(Client &c, const std::string &table) {
  sqlite3 *db = currentDatabase(c);
  if (!db) return;
  std::vector<FieldInfo> fields;
  std::string error;
  if (!tableFields(db, table, &fields, &error)) {
    replyError(c, error);
    return;
  }
  for (const FieldInfo &f : fields) appendFieldFrame(c.out, f);
  reply(c, kEnd);
}

// Answers one request; false when the frame is no request.
bool Server::handleRequest(Client &c, const std::string &payload) {
  if (!c.loggedIn) {
    // The first frame is the client's login name; anyone is welcome.
    c.loggedIn = true;
    reply(c, kOk);
    return true;
  }
  size_t digits = 0;
  while (digits < payload.size() && digits < 9 && payload[digits] >= '0' && payload[digits] <= '9') digits++;
  if (digits == 0 || digits >= payload.size() || payload[digits] != ':') return false;
  int command = static_cast<int>(strtol(payload.substr(0, digits).c_str(), nullptr, 10));
  std::string arg = payload.substr(digits + 1);
  if (!arg.empty() && arg.back() == '\n') arg.pop_back();
  std::string error;
  switch (command) {
    case kQuit:
      c.quitting = true;
      break;
    case kInitDb:
      if (databases_.open(arg, &error)) {
        c.db = arg;
        reply(c, kOk);
      } else {
        replyError(c, error);
      }
      break;
    case kQuery:
      query(c, arg);
      break;
    case kDbList:
      listing(c, databases_.list());
      break;
    case kTableList: {
      sqlite3 *db = currentDatabase(c);
      std::vector<std::string> names;
      if (!db) break;
      if (tableNames(db, &names, &error)) listing(c, names);
      else replyError(c, error);
      break;
    }
    case kFieldList:
      fieldList(c, arg);
      break;
    case kCreateDb:
      if (databases_.create(arg, false, &error)) reply(c, kOk);
      else replyError(c, error);
      break;
    case kDropDb:
      if (databases_.drop(arg, &error)) reply(c, kOk);
      else replyError(c, error);
      break;
    case kReloadAcl:
      reply(c, kOk);
      break;
    case kShutdown:
      reply(c, kOk);
      shutdownRequested_ = true;
      break;
    default:
      replyError(c, "Unknown command " + std::to_string(command));
      break;
  }
  return true;
}

int Server::run() {
  if (!options_.statementLog.empty()) {
    logFd_ = open(options_.statementLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (logFd_ < 0) {
      fprintf(stderr, "dbserver: cannot open %s: %s\n", options_.statementLog.c_str(), strerror(errno));
      return 1;
    }
  }
  if (options_.port >= 0) {
    // Whoever reaches the port reads and writes every account: TCP is
    // served only to the networks an access list names.
    std::string error;
    if (options_.accessList.empty()) error = "-p needs an access list (-A FILE) of the hosts allowed";
    else readAccessList(options_.accessList, &access_, &error);
    if (!error.empty()) {
      fprintf(stderr, "dbserver: %s\n", error.c_str());
      return 1;
    }
  }
  if (!options_.socketPath.empty() && !listenUnix()) return 1;
  if (options_.port >= 0 && !listenTcp()) return 1;

  // SIGTERM and SIGINT are let through only while waiting in ppoll, so a
  // stop request is never missed between the check and the wait.
  sigset_t blocked, waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGINT);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = onStopSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (port_ >= 0) printf("dbserver ready port %d\n", port_);
  else printf("dbserver ready\n");
  fflush(stdout);

  while (!stopSignal && !shutdownRequested_) {
    // Clients come first: one that left in this wake makes room for a new
    // one accepted in it.
    std::vector<pollfd> fds;
    bool waiting = false;  // a request read earlier is to be answered in this round
    for (const Client &c : clients_) {
      bool takes = takesRequests(c);
      short events = c.unsent() ? POLLOUT : 0;
      if (takes && c.in.size() < kReceivedMax) events |= POLLIN;
      waiting |= takes && c.hasFrame();
      fds.push_back({c.fd, events, 0});
    }
    if (acceptPaused_ && Clock::now() - pausedAt_ >= std::chrono::seconds(1)) acceptPaused_ = false;
    for (int fd : listeners_) fds.push_back({fd, static_cast<short>(acceptPaused_ ? 0 : POLLIN), 0});
    const timespec now = {0, 0}, second = {1, 0};
    const timespec *timeout = waiting ? &now : acceptPaused_ || unsentTotal_ > kTotalUnsentMax ? &second : nullptr;
    // A client's next request usually follows its answer within
    // microseconds, and sleeping in ppoll to be woken for it costs several
    // times that: for a short while after a request the server looks
    // without waiting.
    if (!timeout && Clock::now() - lastRequest_ < kSpin) timeout = &now;
    int n = ppoll(fds.data(), fds.size(), timeout, &waitMask);
    if (n < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "dbserver: poll: %s\n", strerror(errno));
      return 1;
    }
    size_t i = 0;
    for (auto it = clients_.begin(); i < fds.size() - listeners_.size(); i++) {
      if (serve(*it, fds[i].revents)) {
        ++it;
      } else {
        unsentTotal_ -= it->unsent();
        close(it->fd);
        it = clients_.erase(it);
        acceptPaused_ = false;
      }
    }
    for (int fd : listeners_)
      if (fds[i++].revents & POLLIN) acceptClients(fd);
    dropStalledClients();
  }
  // Answers still waiting (the one to Shutdown among them) go out if they can.
  for (Client &c : clients_) flush(c);
  return 0;
}

}  // namespace

int runServer(const ServerOptions &options) {
  Server server(options);
  return server.run();
}
