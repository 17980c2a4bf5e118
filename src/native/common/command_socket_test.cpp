// Tests of the command sent to a running instance.
#include "command_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

// A listener on 127.0.0.1 at an ephemeral port; port 0 when it could not be set up.
int listenLocal(int& port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    port = 0;
    return fd;
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Everything one connection carries until the sender closes it.
std::string receiveOne(int listener) {
  int fd = accept(listener, nullptr, nullptr);
  if (fd < 0) return "<accept failed>";
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

}  // namespace

TEST(CommandSocket, DeliversExactlyTheCommandAndCloses) {
  int port = 0;
  int listener = listenLocal(port);
  ASSERT_NE(port, 0);
  std::string received;
  std::thread server([&] { received = receiveOne(listener); });
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(sendCommand("127.0.0.1", port, "open /x"));
  std::string err = ::testing::internal::GetCapturedStderr();
  server.join();
  close(listener);
  EXPECT_EQ(received, "open /x");
  EXPECT_EQ(err, "");
}

TEST(CommandSocket, NobodyListeningFailsWithMessage) {
  int port = 0;
  int listener = listenLocal(port);
  ASSERT_NE(port, 0);
  close(listener);  // the port is now free and refuses connections
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(sendCommand("127.0.0.1", port, "open /x"));
  EXPECT_FALSE(sendCommand("127.0.0.1", port, ""));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Can't send message\nCan't send message\n");
}

TEST(CommandSocket, UnresolvableHostFailsSilently) {
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(sendCommand("no-such-host.invalid", 1234, "open /x"));
  EXPECT_FALSE(sendCommand("127.0.0.1", 70000, "open /x"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}
