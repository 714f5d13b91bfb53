// Test support: a relay between the programs and the stand-in database
// server that loses answers on purpose. It listens on a UNIX socket of its
// own and passes frames both ways; after the server has answered every
// n-th writing statement (INSERT, UPDATE, DELETE) it closes the program's
// connection instead of passing the answer on, as a server killed between
// its commit and its answer would. A server that is down when a program
// connects is waited for, so the relay also carries programs across the
// server's restarts.
//
//   testsupport::DropProxy proxy(tmp.sub("proxy.sock"), db.socketPath(), 7);
//   ASSERT_TRUE(proxy.start());
//   ... "sql-socket " + proxy.socketPath() ...
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace testsupport {

class DropProxy {
 public:
  // every: the answer of every such writing statement is lost (counted over
  // all connections; 0 for none); limit: at most that many lost, -1 for no
  // limit.
  DropProxy(const std::string &socketPath, const std::string &serverSocket, int every, int limit = -1);
  ~DropProxy();  // stops relaying and closes every connection
  DropProxy(const DropProxy &) = delete;
  DropProxy &operator=(const DropProxy &) = delete;

  bool start();
  const std::string &socketPath() const { return path_; }
  int dropped() const { return dropped_; }

  // Called when an answer is held back, before the program's connection is
  // closed (from a thread of the relay): say, to kill the server then.
  std::function<void()> onDrop;

 private:
  void acceptLoop();
  void relay(int client);

  std::string path_, server_;
  int every_, limit_;
  int listen_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::atomic<int> writes_{0}, dropped_{0}, active_{0};
  std::thread acceptor_;
};

}  // namespace testsupport
