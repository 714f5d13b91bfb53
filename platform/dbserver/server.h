// The server side of wire protocol 6: listening sockets, clients and the
// answers to their requests.
//
// One thread serves every client through poll(); each request is answered
// whole before the next is read, so every statement runs alone and is
// atomic. A client's frame that is empty, longer than 32768 bytes or not a
// request ("<number>:<argument>") closes that client's connection only.
//
// Clients take turns: one request of each client that has one is answered
// per round of the event loop, so a pipelining client delays the others by
// one statement at most.
//
// Bounds keep one client, or many, from stalling or exhausting the server: a
// client past the client limit gets an error instead of the greeting; no
// request of a client is read while more than 4 MiB of its answers are
// unsent, or while the answers of all clients together pass 64 MiB (past 32
// MiB, those holding more than 1 MiB wait first); while they pass 64 MiB, a
// client whose answers have not moved for the time bound of a statement is
// dropped; a statement that runs too long or whose rows grow too large (8
// MiB by default) fails; when no file descriptor is left for a new client,
// the server serves the others and tries again once one leaves, or a second
// later. TCP clients are served only from the hosts of the access list.
#pragma once

#include <string>

#include "store.h"

struct ServerOptions {
  std::string dir;            // the databases: dir/NAME.db
  std::string socketPath;     // UNIX socket, "" for none
  int port = -1;              // TCP port on 127.0.0.1, -1 for none, 0 any free
  std::string accessList;     // -A: the IPv4 hosts and networks TCP serves; needed with a port
  std::string statementLog;   // file that receives every query, "" for none
  Durability durability = Durability::kSyncNormal;  // -S normal|full
  size_t maxClients = 500;        // -c: clients served at once
  StatementBounds bounds = {10, 8 << 20};  // -t seconds, -a bytes of rows
};

// Serves until SIGTERM or SIGINT, or a Shutdown request. Once listening it
// writes "dbserver ready" (with " port N" when it listens on TCP) and a
// newline to standard output. Returns the exit status: 0, or 1 when it could
// not start (the reason on standard error).
int runServer(const ServerOptions &options);
