// +status and +stop: questions to, and the stop of, the running instance that the
// configured pid file names. Neither creates a VM.
//
//   +status[:ready|:live]   one line; 0 running, 1 not running but the pid file remains,
//                           3 not running, 4 unknown (no pid file configured, or it
//                           cannot be read); :ready answers 150 while the instance runs
//                           but is not ready, :live 151 while its VM has not answered the
//                           VM watch within the watch time
//   +stop[:SECONDS][,force] sends SIGTERM and waits (30 s): 0 once the process is gone or
//                           when none runs, 1 with a message at the deadline; with force
//                           SIGTERM again at the deadline (the second interrupt) and as
//                           long again to wait
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "command_line.h"

inline constexpr int32_t kStatusNotReady = 150;
inline constexpr int32_t kStatusNotAnswering = 151;

// The option rows' handler: records the command as typed; false for a malformed one.
bool hmdSetInstanceCommand(bool undo, const std::string& argument, const OptionValue& value);
// Runs the recorded command, if any, against the pid file, and forgets it; none when no
// command was given.
std::optional<int32_t> hmdRunInstanceCommand(const std::optional<std::string>& pidFile);
