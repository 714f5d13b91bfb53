#include "node.h"

#include <gtest/gtest.h>

namespace {

testsupport::DbServer::Options serverOptions() {
  testsupport::DbServer::Options o;
  o.statementLog = true;
  return o;
}

}  // namespace

Node::Node() : home(tmp.sub("home")), db(tmp.sub("db"), serverOptions()) {
  testsupport::makeDirs(home + "/locks");
  testsupport::makeDirs(home + "/userbase");
  testsupport::makeDirs(home + "/prices");
  file(".month", "202403");
  file("languages.cf", "en messages.en\nru messages.ru\n");
  file("messages.en", "currency roubles\nsgrp_misc \"Other services\"\nservices_in \"Services in %02u/%u\"\n");
  // KOI8-R: "руб." and "Прочие услуги".
  file("messages.ru", "currency \"\xd2\xd5\xc2.\"\nsgrp_misc \"\xf0\xd2\xcf\xde\xc9\xc5 \xd5\xd3\xcc\xd5\xc7\xc9\"\n");
  if (!db.start()) ADD_FAILURE() << "database server did not start";
}

void Node::file(const std::string &rel, const std::string &text) const {
  testsupport::writeFile(home + "/" + rel, text);
}

void Node::user(const std::string &rel, const std::string &userCf) const {
  file("userbase/" + rel + "/user.cf", userCf);
}

testsupport::RunResult Node::run(testsupport::RunSpec spec) const {
  std::string mailer = testsupport::sourcePath("platform/mailcapture/capture-mail") + " " +
                       tmp.sub("mail") + " -f%s\n";
  spec.etc = {{"korvix-1.3.conf", testsupport::configFor(home, db.config() + "mailer " + mailer +
                                                                   "language en\n" + extraConfig)}};
  return testsupport::run(spec);
}

testsupport::RunResult Node::tallymill(const std::vector<std::string> &args,
                                       const std::string &input) const {
  testsupport::RunSpec spec;
  spec.program = "tallymill";
  spec.args = args;
  spec.input = input;
  return run(spec);
}

testsupport::RunResult Node::job(const std::vector<std::string> &args, const std::string &first) const {
  testsupport::RunSpec spec;
  spec.program = testsupport::sourcePath("scripts/cron-job");
  spec.args = {testsupport::sourcePath("examples/korvix.cron")};
  spec.args.insert(spec.args.end(), args.begin(), args.end());
  std::string path = testsupport::binPath(".") + ":" + testsupport::sourcePath("examples") + ":/usr/bin:/bin";
  spec.env = {{"PATH", first.empty() ? path : first + ":" + path}, {"T", tmp.sub("traffic")}};
  return run(spec);
}

std::string Node::query(const std::string &sql) const { return db.query(sql); }

std::vector<std::string> Node::mails() const {
  std::vector<std::string> all;
  for (int n = 1; testsupport::fileExists(tmp.sub("mail/mail-" + std::to_string(n))); ++n)
    all.push_back(testsupport::readFile(tmp.sub("mail/mail-" + std::to_string(n))));
  return all;
}
