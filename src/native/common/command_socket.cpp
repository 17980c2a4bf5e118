// Hands one command to an instance that is already running: a fresh TCP connection
// carrying exactly the command's bytes, ended by closing it. Nothing is read back.
#include "command_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// The first IPv4 address of the host, or false when it cannot be resolved.
bool resolveIPv4(const char* host, in_addr& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host == nullptr || getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

// The whole text, however many calls the kernel needs, and at least one call, so that
// even an empty command finds out whether the connection stands. MSG_NOSIGNAL: a
// connection that was refused must fail the send, not raise SIGPIPE and end the launcher.
bool sendAll(int fd, std::string_view text) {
  do {
    ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (sent < 0) return false;
    text.remove_prefix(static_cast<size_t>(sent));
  } while (!text.empty());
  return true;
}

}  // namespace

bool sendCommand(const char* host, int port, std::string_view command) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  if (port < 1 || port > 65535) return false;
  if (!resolveIPv4(host, address.sin_addr)) return false;
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));

  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    std::fputs("Can't create socket\n", stderr);
    return false;
  }
  // A refused connection shows itself in the send that follows.
  (void)connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (!sendAll(fd, command)) {
    std::fputs("Can't send message\n", stderr);
    close(fd);
    return false;
  }
  if (close(fd) != 0) {
    std::fputs("Error on closing socket\n", stderr);
    return false;
  }
  return true;
}
