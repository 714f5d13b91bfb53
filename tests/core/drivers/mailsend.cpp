// Test driver: sends one mail through the configured mailer.
//
//   mailsend TO SUBJECT [BODYBYTES]   pipe to the mailer; prints the status
//                                     that mailClose returned
//   mailsend --stream TO SUBJECT      header to standard output only
// A SUBJECT of "-" passes no subject. Prints "alive" when it gets to the end.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"

int main(int argc, char **argv) {
  initConfig();
  bool own = argc > 1 && strcmp(argv[1], "--stream") == 0;
  int first = own ? 2 : 1;
  if (argc < first + 2) {
    fprintf(stderr, "usage: mailsend [--stream] TO SUBJECT [BODYBYTES]\n");
    return 2;
  }
  const char *to = argv[first];
  const char *subject = strcmp(argv[first + 1], "-") == 0 ? nullptr : argv[first + 1];
  if (own) {
    mailOpen(to, subject, stdout);
    printf("alive\n");
    return 0;
  }
  FILE *mail = mailOpen(to, subject, nullptr);
  if (!mail) {
    printf("no stream\nalive\n");
    return 0;
  }
  long bytes = argc > first + 2 ? strtol(argv[first + 2], nullptr, 10) : 0;
  if (bytes > 0) {
    for (long i = 0; i < bytes; ++i) fputc(i % 64 == 63 ? '\n' : 'x', mail);
  } else {
    fputs("Rate of USD for 03/2024 is missing.\n", mail);
  }
  printf("status %d\nalive\n", mailClose(mail));
  return 0;
}
