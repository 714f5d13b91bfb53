// Test driver: runs the start-up routine and prints every setting, the ids
// and resource limits that follow it, then performs the actions given on the
// command line in their order.
//
//   configdump [-d level] [-u id] [-2] [-c] [action ...]
//   -d level  debug-level before start-up (shows the resource-limit traces)
//   -u id     switch group and user id to id before start-up
//   -2        call initConfig a second time
//   -c        start-up as a program that computes money (last option)
// Actions (after start-up, in order):
//   -m key        print getMessage(key)
//   -M lang:key   print getMessage(key, lang)
//   -s lang       setLanguage(lang), print currentLanguage()
//   -e text       error("%s", text)
//   -f text       fatal(1, "%s", text)
//   -l text       logMessage("%s", text)
//   -D level:text debug(level, "%s", text)
//   -p name       print homePath(name)
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core.h"

namespace {

void printSettings() {
  for (const ConfigKey *row = configKeys; row->key; ++row) {
    switch (row->type) {
      case CF_PATH:
      case CF_COMMAND:
      case CF_ADDRESS:
      case CF_STRING: {
        const char *v = *static_cast<char **>(row->target);
        if (v)
          printf("%s=[%s]\n", row->key, v);
        else
          printf("%s unset\n", row->key);
        break;
      }
      case CF_BOOLEAN:
        printf("%s=%d\n", row->key, *static_cast<char *>(row->target));
        break;
      case CF_INTEGER:
        printf("%s=%d\n", row->key, *static_cast<int32_t *>(row->target));
        break;
      case CF_REAL:
        printf("%s=%.10g\n", row->key, *static_cast<double *>(row->target));
        break;
    }
  }
}

void printLimit(const char *name, int resource) {
  struct rlimit rl;
  getrlimit(resource, &rl);
  printf("limit %s %llu %llu\n", name, static_cast<unsigned long long>(rl.rlim_cur),
         static_cast<unsigned long long>(rl.rlim_max));
}

// The text after the first ":" of arg (the whole arg when there is none); the
// part before it goes to head.
const char *splitAt(const char *arg, std::string *head) {
  const char *colon = strchr(arg, ':');
  if (!colon) {
    head->clear();
    return arg;
  }
  head->assign(arg, colon - arg);
  return colon + 1;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::pair<int, const char *>> actions;
  bool twice = false;
  int opt;
  while ((opt = getopt(argc, argv, "d:u:2cm:M:s:e:f:l:D:p:")) != -1) {
    switch (opt) {
      case 'd':
        debugLevel = static_cast<int32_t>(strtol(optarg, nullptr, 10));
        break;
      case 'u': {
        uid_t id = static_cast<uid_t>(strtoul(optarg, nullptr, 10));
        if (setgid(id) != 0 || setuid(id) != 0) {
          perror("configdump: switching ids");
          return 2;
        }
        break;
      }
      case '2':
        twice = true;
        break;
      case 'c':
        if (const char *fault = initMoneyConfig()) fatal(1, "%s", fault);
        break;
      case '?':
        fputs("usage: configdump [-d level] [-u id] [-2] [-c] [action ...]\n", stderr);
        return 2;
      default:
        actions.emplace_back(opt, optarg);
    }
  }
  initConfig();
  if (twice) initConfig();
  printSettings();
  printf("ids=%d/%d/%d/%d\n", static_cast<int>(geteuid()), static_cast<int>(getegid()),
         static_cast<int>(getuid()), static_cast<int>(getgid()));
  printLimit("data", RLIMIT_DATA);
  printLimit("stack", RLIMIT_STACK);
  printLimit("nofile", RLIMIT_NOFILE);
  printf("current=[%s]\n", currentLanguage());
  fflush(stdout);
  for (const auto &[what, arg] : actions) {
    std::string head;
    switch (what) {
      case 'm':
        printf("message=[%s]\n", getMessage(arg));
        break;
      case 'M': {
        const char *key = splitAt(arg, &head);
        printf("message=[%s]\n", getMessage(key, head.c_str()));
        break;
      }
      case 's':
        setLanguage(arg);
        printf("current=[%s]\n", currentLanguage());
        break;
      case 'e':
        error("%s", arg);
        break;
      case 'f':
        fflush(stdout);
        fatal(1, "%s", arg);
      case 'l':
        logMessage("%s", arg);
        break;
      case 'D': {
        const char *text = splitAt(arg, &head);
        debug(static_cast<int>(strtol(head.c_str(), nullptr, 10)), "%s", text);
        break;
      }
      case 'p':
        printf("path=[%s]\n", homePath(arg));
        break;
    }
    fflush(stdout);
  }
  return 0;
}
