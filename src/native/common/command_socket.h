// Hands a command to an instance that is already running, over a local TCP connection.
#pragma once

#include <string_view>

// One connection carrying exactly the command's bytes; true when it was sent and the
// connection closed cleanly.
bool sendCommand(const char* host, int port, std::string_view command);
