// STUB: placeholder until the module is written.
#include "command_socket.h"

#include <cstdlib>

bool sendCommand(const char*, int, std::string_view) { return {}; }
