// Fuzzes the command-line parser: the input is split at NUL bytes into an argument
// vector, which is parsed, settled as after reading the configuration, and released.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "command_line.h"
#include "config_reader.h"
#include "jvm_options.h"
#include "signals.h"
#include "trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);

  jopInit();
  optInit();
  cfgInit();
  const std::vector<std::string> given = args;
  const bool parsed = optParseArgument(args);
  // The vector is either what the parse was given (a value missing), nothing, or a
  // tail of it that begins with a stopping option.
  if (!args.empty() && args != given) {
    if (args.size() > given.size() ||
        !std::equal(args.begin(), args.end(), given.end() - static_cast<std::ptrdiff_t>(args.size()))) {
      __builtin_trap();
    }
    if (!parsed) __builtin_trap();
  }
  optConvertDisabledArguments();
  (void)optIsOptionOn("+help", true);
  (void)optGetJPDAAddr();
  cfgTerm();
  optTerm();
  jopTerm();
  hmdSignalsReset();
  ut_treset(nullptr);
  return 0;
}
