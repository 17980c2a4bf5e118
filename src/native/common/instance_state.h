// The state record beside the pid file ("<pid file>.state"): one line that +status reads,
// replaced as a whole (a temporary file renamed into place) at each change, removed at
// every end of the process and kept across a restart, which is the same process.
//
//   state=starting|ready|stopping generation=<n> answered=<ms> watch=<ms>
//
// answered: when the VM last answered the VM watch, in milliseconds of CLOCK_MONOTONIC
// (0: never); watch: the watch time in milliseconds (0: not watched).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct InstanceState {
  std::string state = "starting";
  int32_t generation = 1;
  uint64_t answeredMillis = 0;
  uint64_t watchMillis = 0;
};

std::string hmdStatePath(const std::string& pidFile);
std::string hmdFormatState(const InstanceState& state);
std::optional<InstanceState> hmdParseState(const std::string& line);
// The record at the path; none when it is missing or not a record.
std::optional<InstanceState> hmdReadState(const std::string& path);

// The writer, one record per process. Begin writes the first record (and registers the
// file for removal at the end); the others change one field and write it again; nothing
// is written before Begin.
void hmdStateBegin(const std::string& path, const InstanceState& state);
void hmdStateSet(const char* state);
void hmdStateAnswered(uint64_t monotonicMillis);
// A restart: the record says the next generation starts and stays for it. Returns the
// path, which the next image takes over with hmdStateTakeOver (and removes at its end).
std::string hmdStateKeepForRestart(int32_t nextGeneration);
void hmdStateTakeOver(const std::string& path);
// Back to the start state; for tests.
void hmdStateReset();
