// The signals the launcher handles itself, and which of them the command line asked
// to ignore.
#include "signals.h"

#include <strings.h>

#include <array>
#include <csignal>
#include <string>

#include "trace.h"

namespace {

// One row per handled signal, in the order handlers are installed and restored. The
// name is the lower-case spelling +sig accepts (in any letter case).
struct SignalRow {
  int32_t number;
  const char* name;
};

constexpr std::array<SignalRow, 4> signals = {{
    {.number = SIGHUP, .name = "hup"},
    {.number = SIGINT, .name = "int"},
    {.number = SIGQUIT, .name = "quit"},
    {.number = SIGTERM, .name = "term"},
}};
constexpr size_t numSignals = signals.size();

// What changes per row before installation: whether the launcher's handler is replaced
// by "ignore" (+sig, or a launcher started under nohup). Parallel to the table.
std::array<bool, numSignals> ignored{};

// The row index of the name, ignoring case; numSignals when there is none.
size_t findSignal(std::string_view name) {
  for (size_t i = 0; i < numSignals; ++i) {
    const std::string_view rowName = signals[i].name;
    if (name.size() == rowName.size() && strncasecmp(name.data(), rowName.data(), name.size()) == 0) return i;
  }
  return numSignals;
}

}  // namespace

bool hmdSetSignalIgnore(std::string_view name) {
  const size_t i = findSignal(name);
  if (i == numSignals) return false;
  ignored[i] = true;
  ut_tproda("Ignoring sig%s", signals[i].name);
  return true;
}

bool hmdIsSignalIgnored(std::string_view name) {
  const size_t i = findSignal(name);
  return i != numSignals && ignored[i];
}

void hmdSignalsReset() { ignored.fill(false); }

int32_t hmdBeforeCreateJVM() { return 0; }

int32_t hmdAfterCreateJVM() { return 0; }

int32_t hmdAfterDestoryJVM() { return 0; }
