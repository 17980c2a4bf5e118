// End-to-end tests of the command line: the usage text a rejected command line prints,
// and shell mode handing its files to a running instance.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

const std::string kClassPathArgs = " <directories and zip/jar files separated by path separators>";

std::string usageText(const AppTree& tree, const std::string& conditionalRows) {
  return "Usage: " + tree.launcher() +
         " <+options> <args>\n\n"
         "where options include:\n"
         "    +help\n\tPrints this help message\n" +
         conditionalRows +
         "    +debug\n\tRuns with debugging information enabled\n"
         "    +config <config filename>\n\tUses the specified configuration file instead of the default\n"
         "    +javahome <directory>\n\tSpecifies the installation directory of the Java VM\n"
         "    -D<name>=<value>\n\tSets a Java system property\n"
         "    -verbose[:{class|gc|jni}]\n\tEnables verbose output from the Java VM\n"
         "    -X\n\tPrints a summary of non-standard command options\n"
         "    +classicvm\n\tSelects the Classic VM\n"
         "    +hotspotvm\n\tSelects the HotSpot VM\n"
         "    +clientvm\n\tSelects the HotSpot Client VM 2.0 [JDK 1.3]\n"
         "    +servervm\n\tSelects the HotSpot Server VM 2.0 [JDK 1.3]\n"
         "    +classpath\n\tSame as +classpath/a\n"
         "    +classpath/a" +
         kClassPathArgs +
         "\n\tAppends to the classpath from the config file\n"
         "    +classpath/p" +
         kClassPathArgs +
         "\n\tPrepends to the classpath from the config file\n"
         "    +classpath/r" +
         kClassPathArgs + "\n\tReplaces the classpath from the config file\n";
}

// A listener on 127.0.0.1 at an ephemeral port that collects what each of the expected
// connections carries until its sender closes it.
class Listener {
 public:
  explicit Listener(size_t connections) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 8) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, connections] {
      for (size_t i = 0; i < connections; ++i) {
        int client = accept(fd_, nullptr, nullptr);
        if (client < 0) return;
        std::string text;
        char buffer[512];
        ssize_t n;
        while ((n = read(client, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        close(client);
        received_.push_back(text);
      }
    });
  }
  ~Listener() {
    if (thread_.joinable()) {
      shutdown(fd_, SHUT_RDWR);
      thread_.join();
    }
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }
  // Waits for the expected connections; call only when they were all made.
  std::vector<std::string> received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::vector<std::string> received_;
};

// A port that refuses connections: bound once, then released.
int refusingPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

}  // namespace

TEST(CommandLineE2E, RejectedCommandLinePrintsTheUsageText) {
  AppTree tree;
  tree.writeConfig("");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"+config"}, {"a", "+javahome"}, {"+jpda:foo"}, {"+sig", "usr1"}}) {
    auto r = tree.run(args);
    EXPECT_EQ(r.status, 0) << args[0] << "\n" << r.err;
    EXPECT_EQ(r.out, usageText(tree, "")) << args[0];
  }
}

TEST(CommandLineE2E, UsageTextShowsConditionalRowsThatAreConfigured) {
  AppTree tree;
  tree.writeConfig("usageclass a.Usage\nversionclass a.Version\n");
  auto r = tree.run({"+config"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, usageText(tree,
                             "    +usage\n\tPrints a summary of command syntax and options\n"
                             "    +version\n\tPrints product copyright and version information\n"));
}

TEST(CommandLineE2E, BrokenConfigurationWinsOverRejectedCommandLine) {
  AppTree tree;
  tree.writeConfig("bogus\n");
  auto r = tree.run({"+config"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("bogus"), std::string::npos) << r.err;
}

TEST(CommandLineE2E, ShellModeHandsFilesToARunningInstance) {
  AppTree tree;
  Listener listener(2);
  ASSERT_NE(listener.port(), 0);
  tree.writeConfig("socket " + std::to_string(listener.port()) + "\n");
  std::string first = tree.writeFile("docs/one.txt", "1");
  std::string second = tree.writeFile("two.txt", "2");
  e2e::RunOptions options;
  options.cwd = tree.path("docs");
  auto r = tree.run({"+shell", "one.txt", second}, Env(), options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(listener.received(), (std::vector<std::string>{"open " + first, "open " + second}));
}

TEST(CommandLineE2E, ShellModeWithNobodyListeningStartsTheApplication) {
  AppTree tree;
  int port = refusingPort();
  ASSERT_NE(port, 0);
  tree.writeConfig("socket " + std::to_string(port) + "\njavahome " + e2e::testJdkHome() + "\n");
  tree.writeFile("one.txt", "1");
  auto r = tree.run({"+shell", "one.txt", "two.txt"});
  EXPECT_NE(r.err.find("Can't send message\n"), std::string::npos) << r.err;
  // It went on to start the application itself, which has no main class.
  EXPECT_NE(r.err.find("Main class is undefined.\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.status, 1);
}

// Relative file names are based on the working directory however long its name is; when
// there is none (it was removed), nothing is handed over and a new instance starts.
TEST(CommandLineE2E, ShellModeNamesOnlyFilesTheUserNamed) {
  AppTree tree;
  std::string deep = "docs";
  while (deep.size() < 1500) deep += "/" + std::string(100, 'd');
  std::string file = tree.writeFile(deep + "/one.txt", "1");
  {
    Listener listener(1);
    ASSERT_NE(listener.port(), 0);
    tree.writeConfig("socket " + std::to_string(listener.port()) + "\n");
    e2e::RunOptions options;
    options.cwd = tree.path(deep);
    auto r = tree.run({"+shell", "one.txt"}, Env(), options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listener.received(), (std::vector<std::string>{"open " + file}));
  }

  Listener listener(1);
  ASSERT_NE(listener.port(), 0);
  tree.writeConfig("socket " + std::to_string(listener.port()) + "\njavahome " + e2e::testJdkHome() + "\n");
  tree.makeDir("gone");
  e2e::RunOptions options;
  options.cwd = tree.path("gone");
  auto r = e2e::runProgram("/bin/sh", {"sh", "-c", "rmdir \"$PWD\" && exec \"$0\" +shell one.txt", tree.launcher()},
                           Env(), options);
  EXPECT_NE(r.err.find("Main class is undefined.\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.status, 1);
  // Nothing reached the listener before this probe.
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(listener.port()));
  ASSERT_EQ(connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(write(probe, "probe", 5), 5);
  close(probe);
  EXPECT_EQ(listener.received(), (std::vector<std::string>{"probe"}));
}

// With a configured command prefix the options are spelt with it: --+help gives the help,
// a plain +help, or a -D that lacks the prefix, reaches the application, and the
// configured arguments keep their place in front of the command line's.
TEST(CommandLineE2E, ConfiguredCommandPrefixSpellsTheOptions) {
  AppTree tree;
  const std::string jdk = e2e::testJdkHome();
  tree.writeConfig("cmdprefix --\njavahome " + jdk + "\nmainclass PrintArgs\napparg conf1\n");
  Env env = Env().set("LD_LIBRARY_PATH", jdk + "/lib/server:" + jdk + "/lib");

  auto r = tree.run({"--+help"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out.rfind("Usage: " + tree.launcher() + " <+options> <args>\n\nwhere options include:\n    --+help\n",
                  0),
      0u)
      << r.out;

  std::string extra = tree.makeDir("extra");
  r = tree.run({"a", "+help", "--+javacmd", "-Dq=1", "--+classpath/p", extra, "--+jpda", "b"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> script = e2e::lines(r.out);
  ASSERT_FALSE(script.empty()) << r.out;
  const std::string& command = script.back();
  // Only the application's arguments follow the class; -Dq=1 is not a VM option here,
  // and --+jpda, without JPDA support configured, belongs to the application.
  EXPECT_EQ(command.substr(command.find(" PrintArgs ")), " PrintArgs conf1 a +help -Dq=1 --+jpda b")
      << command;
  EXPECT_EQ(command.find("-Dq=1"),
            command.find(" PrintArgs ") + std::string(" PrintArgs conf1 a +help ").size());
  EXPECT_NE(command.find(" -Djava.class.path=" + extra + " "), std::string::npos) << command;
}
