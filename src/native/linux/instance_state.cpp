// The state record: written under the stop signals held, so that an end meanwhile leaves
// no temporary file, and under a lock, because the main thread, the VM watch and the
// thread of a stop all write it.
#include "instance_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "process_end.h"
#include "trace.h"

namespace {

std::mutex recordLock;
std::string recordPath;  // empty: nothing is written
InstanceState record;

void writeRecord() {
  StopSignalsHeld held;
  std::string temporary = recordPath + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return;
  const std::string text = hmdFormatState(record) + "\n";
  bool written =
      ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fchmod(fd, 0644) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), recordPath.c_str()) != 0) {
    ::unlink(temporary.c_str());
    ut_tproda("Unable to write the state record '%.*s'", ut_textLimit(), recordPath.c_str());
  }
}

}  // namespace

std::string hmdStatePath(const std::string& pidFile) { return pidFile + ".state"; }

std::string hmdFormatState(const InstanceState& state) {
  return "state=" + state.state + " generation=" + std::to_string(state.generation) +
         " answered=" + std::to_string(state.answeredMillis) + " watch=" + std::to_string(state.watchMillis);
}

std::optional<InstanceState> hmdParseState(const std::string& line) {
  char name[16] = {};
  int generation = 0;
  unsigned long long answered = 0;
  unsigned long long watch = 0;
  int used = 0;
  if (std::sscanf(line.c_str(), "state=%15[a-z] generation=%d answered=%llu watch=%llu%n", name, &generation,
                  &answered, &watch, &used) != 4 ||
      generation < 1) {
    return std::nullopt;
  }
  const std::string state = name;
  if (state != "starting" && state != "ready" && state != "stopping") return std::nullopt;
  return InstanceState{
      .state = state, .generation = generation, .answeredMillis = answered, .watchMillis = watch};
}

std::optional<InstanceState> hmdReadState(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  return hmdParseState(line);
}

void hmdStateBegin(const std::string& path, const InstanceState& state) {
  std::lock_guard<std::mutex> lock(recordLock);
  if (recordPath != path) {
    if (!recordPath.empty()) hmdKeepAtEnd(recordPath);
    recordPath = path;
    hmdRemoveAtEnd(recordPath);
  }
  record = state;
  writeRecord();
}

void hmdStateSet(const char* state) {
  std::lock_guard<std::mutex> lock(recordLock);
  if (recordPath.empty() || record.state == state) return;
  // A stop is not taken back by a readiness that comes late.
  if (record.state == "stopping") return;
  record.state = state;
  writeRecord();
}

void hmdStateAnswered(uint64_t monotonicMillis) {
  std::lock_guard<std::mutex> lock(recordLock);
  if (recordPath.empty()) return;
  record.answeredMillis = monotonicMillis;
  writeRecord();
}

std::string hmdStateKeepForRestart(int32_t nextGeneration) {
  std::lock_guard<std::mutex> lock(recordLock);
  if (recordPath.empty()) return std::string();
  record =
      InstanceState{.state = "starting", .generation = nextGeneration, .answeredMillis = 0, .watchMillis = 0};
  writeRecord();
  hmdKeepAtEnd(recordPath);
  return recordPath;
}

void hmdStateTakeOver(const std::string& path) {
  std::lock_guard<std::mutex> lock(recordLock);
  if (path.empty()) return;
  recordPath = path;
  record = hmdReadState(path).value_or(InstanceState{});
  hmdRemoveAtEnd(recordPath);
}

void hmdStateReset() {
  std::lock_guard<std::mutex> lock(recordLock);
  recordPath.clear();
  record = InstanceState{};
}
