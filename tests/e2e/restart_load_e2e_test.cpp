// End-to-end test of a long restart chain: an application that asks for a restart a
// hundred times, through its returned status and through System.exit, ends with the last
// generation's status, and its last generation holds what its first one held.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

struct Generation {
  long rssKilobytes = 0;
  std::string fds;  // "{0=...,1=...}", sockets and pipes without their inode numbers
};

Generation parse(const std::string& line) {
  std::smatch m;
  Generation g;
  if (std::regex_search(line, m, std::regex("^gen [0-9]+ rss ([0-9]+) fds (\\{[^}]*\\}) env "))) {
    g.rssKilobytes = std::stol(m[1]);
    g.fds = m[2];
  }
  return g;
}

}  // namespace

TEST(RestartLoad, HundredGenerationsEndWithTheLastStatusAndHoldWhatTheFirstHeld) {
  constexpr int kGenerations = 100;
  AppTree tree;
  tree.copyClasses();
  tree.writeConfig("javahome " + e2e::testJdkHome() + "\nmainclass RunProbe\naddpath ../classes\nrestartonexit 3\n");
  // A descriptor the launcher inherits, as from a service manager: it stays open in every
  // generation.
  const std::string inheritedFile = tree.writeFile("inherited", "");
  int inherited = ::open(inheritedFile.c_str(), O_RDONLY);
  ASSERT_GE(inherited, 3);
  const std::string inheritedEntry = std::to_string(inherited) + "=" + inheritedFile;

  for (const char* how : {"status", "exit"}) {
    const std::string generations = tree.path(std::string("generations-") + how);
    e2e::RunOptions options;
    options.timeoutSeconds = 240;
    auto r = tree.run({"restart", generations, std::to_string(kGenerations), "3", how}, Env(), options);
    ASSERT_FALSE(r.timedOut) << how;
    EXPECT_EQ(r.status, 7) << how << "\n" << r.err;
    std::vector<std::string> lines = e2e::lines(e2e::readFile(generations));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kGenerations)) << how;
    const Generation first = parse(lines.front());
    const Generation second = parse(lines[1]);
    const Generation last = parse(lines.back());
    ASSERT_FALSE(first.fds.empty()) << lines.front();
    for (const std::string& line : lines) EXPECT_NE(line.find(inheritedEntry), std::string::npos) << line;
    // The VM opens a socket of its own earlier in a restarted generation than in the first.
    EXPECT_EQ(last.fds, second.fds) << how;
    auto withoutSockets = [](const std::string& fds) { return std::regex_replace(fds, std::regex(",[0-9]+=socket"), ""); };
    EXPECT_EQ(withoutSockets(last.fds), withoutSockets(first.fds)) << how;
    // Resident memory is the VM's own and varies a little from start to start; a launcher
    // that carried anything over would grow with every generation.
    EXPECT_LT(last.rssKilobytes, first.rssKilobytes + first.rssKilobytes / 20) << how;
    EXPECT_GT(last.rssKilobytes, first.rssKilobytes - first.rssKilobytes / 20) << how;
  }
  ::close(inherited);
}
