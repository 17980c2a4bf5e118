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
  tree.writeConfig("javahome " + e2e::testJdkHome() +
                   "\nmainclass RunProbe\naddpath ../classes\nrestartonexit 3\n");
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
    // The VM opens a socket of its own, at a number that depends on its threads' timing
    // (and later in the first generation); everything else is the same, number for number.
    auto withoutSockets = [](const std::string& fds) {
      return std::regex_replace(fds, std::regex(",[0-9]+=socket"), "");
    };
    auto sockets = [](const std::string& fds) {
      size_t count = 0;
      for (size_t at = fds.find("=socket"); at != std::string::npos; at = fds.find("=socket", at + 1))
        ++count;
      return count;
    };
    EXPECT_EQ(withoutSockets(last.fds), withoutSockets(first.fds)) << how;
    EXPECT_EQ(sockets(last.fds), sockets(first.fds)) << how << "\n" << last.fds << "\n" << first.fds;
    EXPECT_EQ(sockets(last.fds), sockets(second.fds)) << how;
    // Resident memory is the VM's own and varies a little from start to start (and with
    // what the machine reclaims meanwhile); a launcher that carried anything over would
    // grow with every generation. The first ten generations against the last ten.
    long early = 0;
    long late = 0;
    std::string all;
    for (size_t i = 0; i < lines.size(); ++i) {
      long rss = parse(lines[i]).rssKilobytes;
      if (i < 10) early += rss;
      if (i >= lines.size() - 10) late += rss;
      all += " " + std::to_string(rss);
    }
    EXPECT_LT(late, early + early / 10) << how << all;
    EXPECT_GT(late, early - early / 10) << how << all;
    EXPECT_GT(first.rssKilobytes, 0) << lines.front();
    EXPECT_GT(last.rssKilobytes, 0) << lines.back();
  }
  ::close(inherited);
}
