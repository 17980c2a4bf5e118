// The two argument lists of the command line (the launcher's recognised options and
// the arguments handed to the Java main class), the settling of conditional options
// once the configuration is known, and the +jpda and +sig options.
#include "app_arguments.h"

#include <algorithm>

#include "option_directives.h"
#include "signals.h"
#include "trace.h"

namespace {

// The launcher argument list: accepted options, each directly followed by its value.
std::vector<std::string> argv;
// The application argument list, in the order the main class receives it.
std::vector<std::string> appArgv;

bool jpdaEnabled = false;
bool jpdaStartPaused = false;
bool jpdaHadSuspendFlag = false;
std::optional<std::string> jpdaAddr;

// The first entry equal to the name, or beginning with it when prefixMatch is set;
// letter case counts.
std::vector<std::string>::iterator findEntry(std::vector<std::string>& list, std::string_view name,
                                             bool prefixMatch) {
  return std::find_if(list.begin(), list.end(), [&](const std::string& entry) {
    if (entry.size() < name.size() || entry.compare(0, name.size(), name) != 0) return false;
    return prefixMatch || entry.size() == name.size();
  });
}

// Pieces of text between commas; empty pieces are dropped.
std::vector<std::string> splitAtCommas(std::string_view text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    if (comma > start) pieces.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return pieces;
}

}  // namespace

void optAppArgumentsReset() {
  argv.clear();
  argv.shrink_to_fit();
  appArgv.clear();
  appArgv.shrink_to_fit();
  jpdaEnabled = false;
  jpdaStartPaused = false;
  jpdaHadSuspendFlag = false;
  jpdaAddr.reset();
}

void optDropCommandLineArguments(size_t configuredCount) {
  argv.clear();
  if (appArgv.size() > configuredCount) appArgv.resize(configuredCount);
  jpdaEnabled = false;
  jpdaStartPaused = false;
  jpdaHadSuspendFlag = false;
  jpdaAddr.reset();
}

void optAddApplicationArgument(std::string_view text) { appArgv.emplace_back(text); }

void optInsertApplicationArgumentN(std::string_view text, int position) {
  const int count = static_cast<int>(appArgv.size());
  position = std::clamp(position, 1, count + 1);
  appArgv.emplace(appArgv.begin() + (position - 1), text);
}

void optInsertApplicationArgument(std::string_view text) { optInsertApplicationArgumentN(text, 1); }

std::optional<std::string> optRemoveApplicationArgumentN(int position) {
  if (position < 1 || static_cast<size_t>(position) > appArgv.size()) return std::nullopt;
  auto it = appArgv.begin() + (position - 1);
  std::string removed = std::move(*it);
  appArgv.erase(it);
  return removed;
}

// An option asked for with its value but standing last keeps its place: the caller
// gets the option alone and the list is unchanged.
RemovedArgument optRemoveApplicationArgument(std::string_view name, bool prefixMatch, bool wantValue) {
  RemovedArgument found;
  auto it = findEntry(appArgv, name, prefixMatch);
  if (it == appArgv.end()) return found;
  found.entry = *it;
  if (wantValue) {
    if (it + 1 == appArgv.end()) return found;
    found.value = *(it + 1);
    appArgv.erase(it, it + 2);
  } else {
    appArgv.erase(it);
  }
  return found;
}

void optAddArgument(std::string_view text) { argv.emplace_back(text); }

// Unlike the application list, an option standing last is removed even when its value
// was asked for.
RemovedArgument optRemoveArgument(std::string_view name, bool prefixMatch, bool wantValue) {
  RemovedArgument found;
  auto it = findEntry(argv, name, prefixMatch);
  if (it == argv.end()) return found;
  found.entry = *it;
  if (wantValue && it + 1 != argv.end()) {
    found.value = *(it + 1);
    argv.erase(it, it + 2);
  } else {
    argv.erase(it);
  }
  return found;
}

int optGetApplicationArgCount() { return static_cast<int>(appArgv.size()); }

const std::vector<std::string>& optGetApplicationArgList() { return appArgv; }

const std::vector<std::string>& optGetArgumentList() { return argv; }

// The parser put every accepted conditional option into both lists. Now that the
// configuration is known, one occurrence per row is settled: a row whose predicate holds
// keeps it as a launcher option; otherwise it becomes an application argument and its
// handler takes back what it did. The options are spelt with the command prefix.
void optConvertDisabledArguments() {
  size_t count = 0;
  const JavaOption* table = optGetOptionTable(count);
  for (size_t i = 0; i < count; ++i) {
    const JavaOption& row = table[i];
    if (row.isEnabled == nullptr) continue;
    const bool takesValue = row.handlerArg == 1;
    const std::string name = cfgGetCmdPrefix() + row.name;
    if (row.isEnabled()) {
      optRemoveApplicationArgument(name, row.prefixMatch, takesValue);
      continue;
    }
    RemovedArgument found = optRemoveArgument(name, row.prefixMatch, takesValue);
    if (!found.entry) continue;
    if (takesValue) {
      ut_tproda("Converted disabled arg <%.*s %.*s> into an application arg", ut_textLimit(),
                found.entry->c_str(), ut_textLimit(1), found.value.value_or("").c_str());
    } else {
      ut_tproda("Converted disabled arg <%.*s> into an application arg", ut_textLimit(),
                found.entry->c_str());
    }
    if (row.handler != nullptr) {
      OptionValue value;
      value.text = found.value ? &*found.value : nullptr;
      value.number = row.handlerArg >= 2 ? row.handlerArg - 2 : 0;
      row.handler(true, *found.entry, value);
    }
  }
}

// +jpda[:[{paused|running}][,address=[<host>:]<port#>]]: the bare option in any letter
// case, or the colon form spelt exactly. A rejected argument changes no setting.
bool optSetJPDA(bool undo, const std::string& argument, const OptionValue&) {
  static constexpr std::string_view kOption = "+jpda";
  static constexpr std::string_view kWithColon = "+jpda:";
  if (undo) {
    jpdaEnabled = false;
    return true;
  }
  // The parser matched the command prefix in front of the option.
  const std::string_view option =
      std::string_view(argument).substr(std::min(cfgGetCmdPrefix().size(), argument.size()));
  if (option.size() == kOption.size()) {
    jpdaEnabled = true;
    return true;
  }
  if (option.compare(0, kWithColon.size(), kWithColon) != 0) {
    ut_tproda("Invalid +jpda argument <%.*s>", ut_textLimit(), argument.c_str());
    return false;
  }

  bool startPaused = jpdaStartPaused;
  bool hadSuspendFlag = jpdaHadSuspendFlag;
  std::optional<std::string> address;
  for (const std::string& piece : splitAtCommas(option.substr(kWithColon.size()))) {
    if (piece == "paused") {
      startPaused = true;
      hadSuspendFlag = true;
    } else if (piece == "running") {
      startPaused = false;
      hadSuspendFlag = true;
    } else if (piece.rfind("address=", 0) == 0) {
      address = piece.substr(piece.find('=') + 1);
    } else {
      ut_tproda("Unknown option in +jpda argument <%.*s>", ut_textLimit(), piece.c_str());
      return false;
    }
  }
  jpdaStartPaused = startPaused;
  jpdaHadSuspendFlag = hadSuspendFlag;
  if (address) jpdaAddr = std::move(address);
  jpdaEnabled = true;
  return true;
}

// +sig name[,name...]: each name marks a handled signal as ignored; the first unknown
// name rejects the option, the names before it stay marked.
bool optSetSig(bool, const std::string&, const OptionValue& value) {
  if (value.text == nullptr) return true;
  for (const std::string& name : splitAtCommas(*value.text)) {
    if (!hmdSetSignalIgnore(name)) return false;
  }
  return true;
}

bool optIsJPDAEnabled() { return jpdaEnabled; }

bool optIsJPDAStartPaused() { return jpdaHadSuspendFlag ? jpdaStartPaused : cfgIsJPDAStartPaused(); }

std::optional<std::string> optGetJPDAAddr() { return jpdaAddr ? jpdaAddr : cfgGetJPDAAddr(); }
