// Outgoing mail to the administrator through the local mail transfer agent.
//
// The mailer setting is a command holding one "%s" for the sender address;
// the command line is that text with the sender in place of its first "%s"
// (nothing else in it is special), a blank and the recipients. Every address
// goes onto the line in single quotes, so no address can run a command; the
// to argument is one address, while carbon-copy and debug-allmail may list
// several, separated by blanks, tabs or commas, each its own argument. The line is run through the shell with a pipe to
// its standard input. The header block written before the body:
//
//   From: Statistic Server <from>
//   To: to
//   Reply-To: "admin-name" <admin>
//   Sender: sender
//   X-Mailer: Vendrel's universal statistic server, v1.3.11
//   Organization: organization
//   Subject: subject
//   MIME-Version: 1.0
//   Content-Type: text/plain; charset=koi8-r
//   Content-Transfer-Encoding: 8bit
//   (empty line)
#pragma once

#include <cstdio>

// Writes the header block to stream and returns it. With a null stream the
// mailer is started first and its pipe is used: the recipients are
// debug-allmail alone when set, else to and carbon-copy (when set). A null
// subject is the catalogue text of "mail_info". The caller writes the body
// and then calls mailClose on a pipe started here. While such a pipe is open,
// SIGPIPE is ignored, so a mailer that ends early cannot kill the process.
// Returns null (after an error line) when the command line does not fit in
// 1999 characters; ends the process when the pipe cannot be made.
FILE *mailOpen(const char *to, const char *subject, FILE *stream);
// Closes a pipe from mailOpen and waits for the mailer. Returns its
// termination status as pclose reports it (0 when delivered), -1 when the
// status cannot be had or the mail could not be written whole; every failure
// is reported through error().
int mailClose(FILE *stream);
