// The manual pages render without a warning, under the names their files
// give, and name every option that their program's usage text names.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <future>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pages.h"
#include "process.h"

using namespace testsupport;

namespace {

// Runs a tool found through PATH, outside any overlay.
RunResult tool(std::vector<std::string> args) {
  RunSpec call;
  call.program = "/usr/bin/env";
  call.args = std::move(args);
  call.overlay = false;
  call.env = {{"MANWIDTH", "80"}};
  return run(call);
}

bool isWordChar(char c) { return isalnum(static_cast<unsigned char>(c)) != 0; }

// The options a usage text names. A '-' at the start of a word (after a
// blank, '[', '{', '|' or '(') and a letter, digit or '#' name the option of
// that one character ("-uuser" is -u); "--" and letters name a long option.
// A lone "-" (standard input or output) and "--" alone name none.
std::set<std::string> usageOptions(const std::string &text) {
  std::set<std::string> found;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '-' || (i > 0 && !strchr(" \t\n[{|(", text[i - 1]))) continue;
    size_t end = i + 1;
    if (text[end] == '-') {
      while (++end < text.size() && (isWordChar(text[end]) || text[end] == '-')) {
      }
      if (end > i + 2) found.insert(text.substr(i, end - i));
    } else if (isWordChar(text[end]) || text[end] == '#') {
      found.insert(text.substr(i, 2));
    }
    i = end;
  }
  return found;
}

// True when option stands in text as a word of its own.
bool namesOption(const std::string &text, const std::string &option) {
  for (size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
    size_t end = at + option.size();
    bool startsWord = at == 0 || !(isWordChar(text[at - 1]) || text[at - 1] == '-');
    if (startsWord && (end == text.size() || !isWordChar(text[end]))) return true;
  }
  return false;
}

std::string upper(std::string text) {
  for (char &c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

// What the tools make of one page.
struct Rendering {
  RunResult strict;  // groff with every warning, no output
  RunResult shown;   // man -l
  RunResult entry;   // lexgrog: the whatis entry
};

Rendering render(const std::string &page) {
  std::string path = sourcePath("man/" + page);
  return {tool({"groff", "-man", "-ww", "-z", path}), tool({"man", "--warnings", "-l", path}),
          tool({"lexgrog", path})};
}

TEST(ManualPages, RenderWithoutWarningsUnderTheirFileNames) {
  std::vector<std::string> list = pages::all();
  ASSERT_FALSE(list.empty());
  // The pages are rendered side by side: each takes the tools most of a second.
  std::vector<std::future<Rendering>> renderings;
  for (const std::string &page : list) renderings.push_back(std::async(std::launch::async, render, page));
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string &page = list[i];
    SCOPED_TRACE(page);
    Rendering r = renderings[i].get();
    EXPECT_EQ(r.strict.status, 0);
    EXPECT_EQ(r.strict.err, "");
    EXPECT_EQ(r.shown.status, 0);
    EXPECT_EQ(r.shown.err, "");
    // The header is NAME(SECTION) as the file is named, so that `man NAME`
    // finds what the page calls itself.
    std::filesystem::path file(page);
    std::string title = upper(file.stem().string()) + "(" + file.extension().string().substr(1) + ")";
    EXPECT_EQ(r.shown.out.compare(0, title.size(), title), 0) << r.shown.out.substr(0, 80);
    // whatis and apropos read the NAME line.
    EXPECT_EQ(r.entry.status, 0) << r.entry.out << r.entry.err;
  }
}

TEST(ManualPages, NameEveryOptionOfTheirProgramsUsage) {
  TempDir home;
  for (const std::string &page : pages::all()) {
    if (page.rfind("man1/", 0) != 0) continue;
    SCOPED_TRACE(page);
    std::string program = pages::program(page);
    ASSERT_TRUE(fileExists(binPath(program))) << "the page names no program that is built";
    RunSpec call;
    call.program = program;
    call.args = {"-H"};
    call.etc = {{"korvix-1.3.conf", configFor(home.path())}};
    RunResult usage = run(call);
    std::string text = usage.out + usage.err;
    ASSERT_NE(text, "");
    std::set<std::string> options = usageOptions(text);
    if (text.find("sage") != std::string::npos) {
      EXPECT_FALSE(options.empty()) << text;
    }
    std::string shown = tool({"groff", "-man", "-Tascii", "-P-cbou", sourcePath("man/" + page)}).out;
    for (const std::string &option : options) EXPECT_TRUE(namesOption(shown, option)) << option;
  }
}

// A reference "NAME(N)" to a page of this system (a korvix page or a program
// that is built) must lead to a page that is there, under that section.
TEST(ManualPages, ReferOnlyToPagesThatExist) {
  std::vector<std::string> list = pages::all();
  std::set<std::string> present(list.begin(), list.end());
  const std::regex reference(R"(^\.BR? +([^ ]+) +\(([1-9])\))");
  for (const std::string &page : list) {
    SCOPED_TRACE(page);
    std::istringstream source(readFile(sourcePath("man/" + page)));
    for (std::string line; std::getline(source, line);) {
      std::smatch m;
      if (!std::regex_search(line, m, reference)) continue;
      std::string name = std::regex_replace(m[1].str(), std::regex(R"(\\-)"), "-");
      bool ours = name.rfind("korvix", 0) == 0 || fileExists(binPath(name));
      if (!ours) continue;
      std::string target = "man" + m[2].str() + "/" + name + "." + m[2].str();
      EXPECT_TRUE(present.count(target)) << line;
    }
  }
}
