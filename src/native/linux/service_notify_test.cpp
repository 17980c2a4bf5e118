// The notification protocol against a socket the test binds, the environment taken out
// at start and put back for a re-execution, and the pid file's rules.
#include "service_notify.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pid_file.h"
#include "process_end.h"
#include "test_support.h"

namespace {

using testsupport::ScopedEnv;

// A bound datagram socket; receive() gives what arrived, none after 2 s.
class Receiver {
 public:
  explicit Receiver(const std::string& address) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    std::memcpy(un.sun_path, address.data(), address.size());
    bool abstract = address[0] == '@';
    if (abstract) un.sun_path[0] = '\0';
    socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() + (abstract ? 0 : 1));
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&un), length), 0) << std::strerror(errno);
    timeval timeout{.tv_sec = 2, .tv_usec = 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~Receiver() { close(fd_); }
  std::string receive() const {
    char buffer[4096];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n < 0 ? std::string("(nothing)") : std::string(buffer, static_cast<size_t>(n));
  }

 private:
  int fd_ = -1;
};

// What a re-execution hands the new image: its environment list, applied here as the new
// image would find it.
void handOver() {
  for (const std::string& entry : hmdReexecEnvironment()) {
    const size_t at = entry.find('=');
    const std::string name = entry.substr(0, at);
    if (name == "NOTIFY_SOCKET" || name.rfind("LAUNCHER_", 0) == 0 || name.rfind("WATCHDOG_", 0) == 0) {
      setenv(name.c_str(), entry.substr(at + 1).c_str(), 1);
    }
  }
  hmdProcessEndReset();
}

class ServiceNotify : public testing::Test {
 protected:
  void TearDown() override {
    hmdServiceReset();
    hmdRemovePidFile();
  }
  const testsupport::TempDir temp;
};

TEST_F(ServiceNotify, SendsToAPathOrAnAbstractNameAndTakesTheVariableOut) {
  const std::string addresses[] = {temp.root() + "/notify.sock",
                                   "@launcher-unit-" + std::to_string(getpid())};
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    Receiver receiver(address);
    ScopedEnv socket("NOTIFY_SOCKET", address);
    ScopedEnv generation("LAUNCHER_SERVICE_GENERATION", std::nullopt);
    hmdServiceTakeEnvironment();
    EXPECT_EQ(std::getenv("NOTIFY_SOCKET"), nullptr);
    EXPECT_EQ(hmdGetNotifySocket(), address);
    EXPECT_TRUE(hmdNotify("READY=1\nSTATUS=Running"));
    EXPECT_EQ(receiver.receive(), "READY=1\nSTATUS=Running");

    // Put back for a restart, with the next generation, which the new image takes out.
    hmdServiceBeforeReexec(true);
    handOver();
    EXPECT_EQ(receiver.receive().substr(0, 26), "RELOADING=1\nMONOTONIC_USEC");
    EXPECT_STREQ(std::getenv("NOTIFY_SOCKET"), address.c_str());
    EXPECT_STREQ(std::getenv("LAUNCHER_SERVICE_GENERATION"), "2");
    hmdServiceTakeEnvironment();
    EXPECT_EQ(std::getenv("LAUNCHER_SERVICE_GENERATION"), nullptr);
    hmdServiceProcessEnds(3);
    EXPECT_EQ(receiver.receive(), "STOPPING=1\nSTATUS=Exited with status 3");
  }
}

// The re-execution that completes the library path keeps the generation and does not
// announce the process a second time; a restart's new generation does.
TEST_F(ServiceNotify, AReexecutionAnnouncesOnceAndARestartAgain) {
  const std::string address = temp.root() + "/notify.sock";
  Receiver receiver(address);
  ScopedEnv socket("NOTIFY_SOCKET", address);
  ScopedEnv generation("LAUNCHER_SERVICE_GENERATION", std::nullopt);
  const std::string pid = std::to_string(getpid());
  hmdServiceTakeEnvironment();
  hmdServiceConfigRead();
  EXPECT_EQ(receiver.receive(), "MAINPID=" + pid + "\nSTATUS=Starting");
  hmdServiceBeforeReexec(false);
  handOver();
  EXPECT_STREQ(std::getenv("LAUNCHER_SERVICE_GENERATION"), "1+");
  hmdServiceTakeEnvironment();
  hmdServiceConfigRead();
  hmdNotify("marker");
  EXPECT_EQ(receiver.receive(), "marker");

  hmdServiceBeforeReexec(true);
  handOver();
  EXPECT_EQ(receiver.receive().substr(0, 12), "RELOADING=1\n");
  hmdServiceTakeEnvironment();
  hmdServiceConfigRead();
  EXPECT_EQ(receiver.receive(), "MAINPID=" + pid + "\nSTATUS=Starting (generation 2)");
  hmdServiceStopBegins();
  EXPECT_EQ(receiver.receive(), "STOPPING=1\nSTATUS=Stopping");
  hmdServiceProcessEnds(0);
  EXPECT_EQ(receiver.receive(), "STATUS=Exited with status 0");
}

TEST_F(ServiceNotify, UnusableSocketsAndWatchdogVariables) {
  struct Case {
    std::optional<std::string> socket;
    std::optional<std::string> usec;
    std::optional<std::string> pid;
    bool notifies;
    uint64_t interval;
  };
  const std::string self = std::to_string(getpid());
  const std::string tooLong = "/" + std::string(107, 'x');
  const Case cases[] = {
      {std::nullopt, "200000", std::nullopt, false, 0},  // no socket: no watchdog either
      {"relative.sock", "200000", std::nullopt, false, 0},
      {"@", std::nullopt, std::nullopt, false, 0},
      {tooLong, std::nullopt, std::nullopt, false, 0},
      {"/run/x.sock", "200000", std::nullopt, true, 100000},
      {"/run/x.sock", "200000", self, true, 100000},
      {"/run/x.sock", "200000", "1", true, 0},
      {"/run/x.sock", "20x", std::nullopt, true, 0},
      {"/run/x.sock", "1", std::nullopt, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.socket.value_or("(unset)") + " " + c.usec.value_or("-") + " " + c.pid.value_or("-"));
    ScopedEnv socket("NOTIFY_SOCKET", c.socket);
    ScopedEnv usec("WATCHDOG_USEC", c.usec);
    ScopedEnv pid("WATCHDOG_PID", c.pid);
    hmdServiceTakeEnvironment();
    EXPECT_EQ(hmdGetNotifySocket().has_value(), c.notifies);
    EXPECT_EQ(hmdGetWatchdogInterval(), c.interval);
    EXPECT_EQ(std::getenv("NOTIFY_SOCKET"), nullptr);
  }
  ScopedEnv socket("NOTIFY_SOCKET", temp.root() + "/nobody.sock");
  hmdServiceTakeEnvironment();
  EXPECT_FALSE(hmdNotify("READY=1"));
}

TEST_F(ServiceNotify, PidFileIsReplacedUnlessALiveLauncherHoldsIt) {
  const std::string path = temp.root() + "/app.pid";
  const std::string own = std::to_string(getpid()) + "\n";
  auto content = [&] {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  // This test program is the "launcher" here: a child of it runs the same file.
  pid_t twin = fork();
  if (twin == 0) {
    pause();
    _exit(0);
  }
  struct Case {
    std::string before;
    bool written;
  };
  const Case cases[] = {
      {"", true},
      {"garbage\n", true},
      {std::to_string(gone) + "\n", true},
      {"1\n", true},  // a live process of another program
      {own, true},    // this process, before a re-execution
      {std::to_string(twin) + "\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    std::ofstream(path, std::ios::trunc) << c.before;
    std::string err;
    EXPECT_EQ(testsupport::withStderr(err, [&] { return hmdWritePidFile(path); }), c.written);
    EXPECT_EQ(content(), c.written ? own : c.before);
    if (!c.written) {
      EXPECT_EQ(err, "Error: The pid file '" + path + "' names process " + std::to_string(twin) +
                         ", which runs this launcher already.\n");
    }
  }
  kill(twin, SIGKILL);
  waitpid(twin, nullptr, 0);

  ASSERT_TRUE(hmdWritePidFile(path));
  hmdRemovePidFile();
  EXPECT_FALSE(std::filesystem::exists(path));
  // Taken over by another instance meanwhile: its file stays.
  ASSERT_TRUE(hmdWritePidFile(path));
  std::ofstream(path, std::ios::trunc) << "1\n";
  hmdRemovePidFile();
  hmdRemoveFilesAtEnd();  // what the end of the process removes next
  EXPECT_EQ(content(), "1\n");

  std::string err;
  EXPECT_FALSE(
      testsupport::withStderr(err, [&] { return hmdWritePidFile(temp.root() + "/missing/app.pid"); }));
  EXPECT_EQ(err, "Error: Unable to write the pid file '" + temp.root() +
                     "/missing/app.pid': No such file or directory.\n");
  EXPECT_EQ(std::filesystem::directory_iterator(temp.root())->path(), path);  // no temporary left
}

}  // namespace
