#include "mailagent.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <string>

#include "config.h"
#include "language.h"
#include "misc.h"

namespace {

const char kDefaultMailer[] = "/usr/sbin/sendmail -f%s ";
const char kProduct[] = "Vendrel's universal statistic server";
const char kVersion[] = "1.3.11";
const char kVersionSuffix[] = "";

// The command line of the mailer, as in a buffer of 2000 bytes.
constexpr size_t kCommandMax = 2000 - 1;

// Open mail pipes, and the SIGPIPE action to restore when the last closes.
int openPipes = 0;
struct sigaction savedPipeAction;

const char *text(const char *s) { return s ? s : ""; }

// Appends address in single quotes: the shell gives it back as one word,
// exactly as written, whatever it holds.
void appendQuoted(std::string *line, const char *address) {
  *line += '\'';
  for (const char *p = text(address); *p; ++p) {
    if (*p == '\'')
      *line += "'\\''";
    else
      *line += *p;
  }
  *line += '\'';
}

// Appends every address of a recipient setting as an argument of its own: it
// may name several, separated by blanks, tabs or commas.
void appendRecipients(std::string *line, const char *addresses) {
  const char *p = text(addresses);
  for (;;) {
    p += strspn(p, " \t,");
    if (!*p) return;
    size_t n = strcspn(p, " \t,");
    *line += ' ';
    appendQuoted(line, std::string(p, n).c_str());
    p += n;
  }
}

std::string mailCommand(const char *to) {
  std::string line;
  const char *format = mailer ? mailer : kDefaultMailer;
  const char *slot = strstr(format, "%s");
  if (slot) {
    line.assign(format, slot - format);
    appendQuoted(&line, addrSender);
    line += slot + 2;
  } else {
    line = format;
  }
  if (debugAllMail) {
    appendRecipients(&line, debugAllMail);
  } else {
    line += ' ';
    appendQuoted(&line, to);
    appendRecipients(&line, addrCarbon);
  }
  return line;
}

void ignorePipeSignal() {
  if (openPipes++ > 0) return;
  struct sigaction ignore;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &savedPipeAction);
}

void restorePipeSignal() {
  if (openPipes > 0 && --openPipes == 0) sigaction(SIGPIPE, &savedPipeAction, nullptr);
}

}  // namespace

FILE *mailOpen(const char *to, const char *subject, FILE *stream) {
  if (!stream) {
    std::string command = mailCommand(to);
    if (command.size() > kCommandMax) {
      error("Mail to `%s' not sent: the mailer command is longer than %zu characters", text(to),
            kCommandMax);
      return nullptr;
    }
    stream = popen(command.c_str(), "w");
    if (!stream) fatal(1, "Can't pipe to `%s'\n", command.c_str());
    // Started before SIGPIPE is ignored, so the mailer keeps the default.
    ignorePipeSignal();
  }
  if (!subject) subject = getMessage("mail_info");
  // The system's texts are KOI8-R: the Russian ones, the rate mails' subject
  // and body in every language, and the English ones, which are ASCII and so
  // KOI8-R as well. The body is 8-bit text.
  fprintf(stream,
          "From: Statistic Server <%s>\nTo: %s\nReply-To: \"%s\" <%s>\nSender: %s\n"
          "X-Mailer: %s, v%s%s\nOrganization: %s\nSubject: %s\n"
          "MIME-Version: 1.0\nContent-Type: text/plain; charset=koi8-r\n"
          "Content-Transfer-Encoding: 8bit\n\n",
          text(addrFrom), text(to), text(nameAdmin), text(addrAdmin), text(addrSender), kProduct,
          kVersion, kVersionSuffix, text(organization), subject);
  debug(10, "Mail stream fd=%d", fileno(stream));
  return stream;
}

int mailClose(FILE *stream) {
  if (!stream) return -1;
  bool broken = fflush(stream) != 0 || ferror(stream);
  int status = pclose(stream);
  restorePipeSignal();
  if (status == -1) {
    error("Mail not sent: the mailer's status cannot be had");
    return -1;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    error("Mail not sent: the mailer exited with status %d", WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    error("Mail not sent: the mailer was killed by signal %d", WTERMSIG(status));
  } else if (broken) {
    error("Mail not sent: the mailer stopped reading it");
    return -1;
  }
  return status;
}
