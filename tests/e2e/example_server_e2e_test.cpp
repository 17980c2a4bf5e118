// End-to-end test of the example server through its own configuration: a privileged port
// bound as root and root given up, shell mode, a thread dump, an orderly stop on SIGTERM,
// and a restart on its configured code.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

// The example's configuration on the test installation.
void installExample(const AppTree& tree) {
  tree.copyClasses();
  tree.writeConfig("javahome " + e2e::testJdkHome() + "\n" +
                   e2e::readFile(std::string(EXAMPLES_DIR) + "/server/bin/server.config"));
}

bool sendLine(int port, const std::string& line) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  ::close(fd);
  return sent;
}

// The Uid:, Gid: and Groups: lines of a running process, blanks folded.
std::string identity(pid_t pid) {
  std::string out;
  for (const std::string& line : e2e::lines(e2e::readFile("/proc/" + std::to_string(pid) + "/status"))) {
    if (line.rfind("Uid:", 0) != 0 && line.rfind("Gid:", 0) != 0 && line.rfind("Groups:", 0) != 0) continue;
    std::string folded;
    for (char c : line) {
      if (c == '\t' || c == ' ') {
        if (!folded.empty() && folded.back() != ' ') folded += ' ';
      } else {
        folded += c;
      }
    }
    while (!folded.empty() && folded.back() == ' ') folded.pop_back();
    out += folded + "\n";
  }
  return out;
}

}  // namespace

TEST(ExampleServer, GivesUpRootServesDumpsAndStopsOnTerm) {
  if (geteuid() != 0) GTEST_SKIP() << "binding the privileged port needs root";
  AppTree tree("server");
  installExample(tree);
  e2e::Child server = tree.start({});
  ASSERT_TRUE(server.waitUntil([&] { return server.out().find("ready port=907 ") != std::string::npos; }))
      << server.out() << server.err();

  // Seen from outside: no root id and no root group is left.
  EXPECT_EQ(identity(server.pid()),
            "Uid: 65534 65534 65534 65534\nGid: 65534 65534 65534 65534\nGroups: 65534\n");

  // A second start in shell mode hands its file to the running server.
  e2e::RunOptions inRoot;
  inRoot.cwd = tree.root();
  auto shell = tree.run({"+shell", "one.txt"}, Env(), inRoot);
  EXPECT_EQ(shell.status, 0) << shell.err;
  EXPECT_TRUE(server.waitForLine("opened " + tree.root() + "/one.txt")) << server.out();

  // SIGQUIT prints the threads and the server goes on.
  ASSERT_TRUE(server.signal(SIGQUIT));
  EXPECT_TRUE(server.waitUntil([&] { return server.out().find("Full thread dump") != std::string::npos; }))
      << server.out();
  EXPECT_TRUE(sendLine(907, "open /x\n"));
  EXPECT_TRUE(server.waitForLine("opened /x")) << server.out();

  ASSERT_TRUE(server.signal(SIGTERM));
  e2e::RunResult r = server.wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "cleanup(true)")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "stopped status=0")) << r.out;
}

TEST(ExampleServer, RestartsOnItsCode) {
  AppTree tree("server");
  installExample(tree);
  e2e::RunOptions options;
  if (std::optional<uid_t> nobody = e2e::unprivilegedUid()) options.uid = *nobody;
  const int port = 18907;
  e2e::Child server = tree.start({"-Dvantrel.socket=" + std::to_string(port)}, Env(), options);
  const std::string ready = "ready port=" + std::to_string(port) + " pid=" + std::to_string(server.pid());
  ASSERT_TRUE(server.waitForLine(ready)) << server.out() << server.err();
  ASSERT_TRUE(sendLine(port, "restart\n"));
  // The same process, started afresh by the launcher.
  EXPECT_TRUE(server.waitForLine(ready, 2)) << server.out() << server.err();
  ASSERT_TRUE(server.signal(SIGTERM));
  e2e::RunResult r = server.wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(e2e::countLines(r.out, "stopped status=3"), 1u) << r.out;
  EXPECT_EQ(e2e::countLines(r.out, "stopped status=0"), 1u) << r.out;
}
