// Directives that shape the launcher's own behaviour (setfromoption, dirmustexist, jpda,
// options, cmdprefix, vmversion), the VM version test and the configured usage lines.
#include "option_directives.h"

#include <cstdint>
#include <cstdio>

#include "app_arguments.h"
#include "config_macros.h"
#include "name_value_list.h"
#include "path_list.h"
#include "trace.h"

namespace {

constexpr int32_t kMinimumVersion = 1003001;  // 1.3.1
constexpr size_t kCmdPrefixMax = 20;

NameValueList configuredUsage;
bool jpdaSupportEnabled = false;
bool jpdaStartPaused = false;
std::optional<std::string> jpdaAddr;
bool strictVMChecks = false;
bool handleShutdown = false;
bool allowri = false;
bool makePathsAbsolute = true;
bool allowJavaOnPath = true;
std::string cmdPrefix;
int32_t requiredVMVersion = kMinimumVersion;
bool VMVersionCanBeHigher = true;
bool VMVersionCanBeLower = false;
std::string requiredVMVersionMessage;

// The keywords of the 'options' directive; each mention flips its flag.
struct OptionKeyword {
  const char* keyword;
  bool* flag;
};
constexpr OptionKeyword optionList[] = {
    {.keyword = "strictvm", .flag = &strictVMChecks},
    {.keyword = "handleexit", .flag = &handleShutdown},
    {.keyword = "allowri", .flag = &allowri},
    {.keyword = "leavepathsrelative", .flag = &makePathsAbsolute},
    {.keyword = "allowjavaonpath", .flag = &allowJavaOnPath},
};

std::string versionMessage(int major, int minor, int micro, const char* suffix) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "Version %d.%d.%d%s is required.", major, minor, micro, suffix);
  return buffer;
}

void setDefaultRequirement() {
  requiredVMVersion = kMinimumVersion;
  VMVersionCanBeHigher = true;
  VMVersionCanBeLower = false;
  requiredVMVersionMessage = versionMessage(1, 3, 1, " or higher");
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one to three digits at pos; -1 when there is no digit.
int readNumber(std::string_view text, size_t& pos) {
  size_t start = pos;
  int value = 0;
  while (pos < text.size() && pos - start < 3 && isDigit(text[pos])) value = value * 10 + (text[pos++] - '0');
  return pos == start ? -1 : value;
}

// Splits the text at ','; empty pieces vanish.
std::vector<std::string_view> splitAtCommas(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    if (comma > start) pieces.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return pieces;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

void cfgOptionDirectivesInit() {
  configuredUsage = NameValueList();
  allowJavaOnPath = true;
  setDefaultRequirement();
}

void cfgOptionDirectivesTerm() {
  configuredUsage = NameValueList();
  jpdaSupportEnabled = false;
  jpdaStartPaused = false;
  jpdaAddr.reset();
  strictVMChecks = false;
  handleShutdown = false;
  allowri = false;
  makePathsAbsolute = true;
  allowJavaOnPath = true;
  cmdPrefix.clear();
  setDefaultRequirement();
  requiredVMVersionMessage.clear();
}

// setfromoption variable=option[:usage text]
// Takes "option value" out of the application arguments and sets the variable to value.
bool cfgSetFromOption(const std::string& argument) {
  size_t equals = argument.find('=');
  if (equals == std::string::npos || equals == 0) {
    ut_tproda("No variable name specified in <%.*s>", ut_textLimit(), argument.c_str());
    return true;
  }
  std::string variable = argument.substr(0, equals);
  std::string rest = argument.substr(equals + 1);
  if (rest.empty() || rest[0] == ':') {
    ut_tproda("No option name specified in <%.*s>", ut_textLimit(), argument.c_str());
    return true;
  }
  size_t colon = rest.find(':');
  std::string option = rest.substr(0, colon);
  if (colon != std::string::npos) {
    size_t text = colon + 1;
    while (text < rest.size() && isSpace(rest[text])) ++text;
    if (text < rest.size()) utlListAdd(configuredUsage, option, std::string_view(rest).substr(text));
  }

  RemovedArgument removed = optRemoveApplicationArgument(option, false, true);
  if (!removed.entry) {
    ut_tproda("Option <%.*s> not on command line", ut_textLimit(), option.c_str());
    return true;
  }
  if (!removed.value) {
    std::fprintf(stderr, "Error: A value must be specified for option '%s'.\n", option.c_str());
    return false;
  }
  cfgAddVar(variable + "=" + *removed.value);
  return true;
}

bool cfgEnsureDirExists(const std::string& argument) {
  std::string path = utlMakeAbsPath(utlFixDirSeparators(argument), makePathsAbsolute);
  if (utlFileExists(path)) return true;
  std::fprintf(stderr, "Error: Can't find '%s'.\n", path.c_str());
  return false;
}

// jpda piece[,piece...]   piece: paused | running | address=[<host>:]<port#>
bool cfgEnableJPDA(const std::string& argument) {
  std::optional<std::string> address;
  for (std::string_view piece : splitAtCommas(argument)) {
    if (piece == "paused") {
      jpdaStartPaused = true;
    } else if (piece == "running") {
      jpdaStartPaused = false;
    } else if (piece.starts_with("address=")) {
      address = std::string(piece.substr(piece.find('=') + 1));
    } else {
      std::string text(piece);
      ut_tproda("Unknown option in jpda directive <%.*s>", ut_textLimit(), text.c_str());
      return false;
    }
  }
  jpdaSupportEnabled = true;
  if (address) jpdaAddr = std::move(address);
  return true;
}

bool cfgOptionsCmd(const std::string& argument) {
  bool allKnown = true;
  for (std::string_view piece : splitAtCommas(argument)) {
    bool known = false;
    for (const OptionKeyword& row : optionList) {
      if (piece == row.keyword) {
        *row.flag = !*row.flag;
        known = true;
        break;
      }
    }
    if (!known) {
      std::string text(piece);
      ut_tproda("Unknown option in 'options' directive <%.*s>", ut_textLimit(), text.c_str());
      allKnown = false;
    }
  }
  return allKnown;
}

bool cfgCmdPrefixCmd(const std::string& argument) {
  cmdPrefix = argument.substr(0, kCmdPrefixMax);
  return true;
}

// vmversion major.minor.micro[+|-]   each number one to three digits.
bool cfgVMVersionCmd(const std::string& argument) {
  std::string_view text(argument);
  size_t pos = 0;
  int numbers[3];
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    numbers[i] = readNumber(text, pos);
    if (numbers[i] < 0) return false;
  }
  const char* suffix = "";
  bool higher = false;
  bool lower = false;
  if (pos < text.size()) {
    if (text.size() - pos > 1) return false;
    if (text[pos] == '+') {
      higher = true;
      suffix = " or higher";
    } else if (text[pos] == '-') {
      lower = true;
      suffix = " or lower";
    } else {
      return false;
    }
  }
  int32_t version = numbers[0] * 1000000 + numbers[1] * 1000 + numbers[2];
  if (version < kMinimumVersion) {
    ut_tproda("%d.%d.%d is less than built in minimum %d.%d.%d", numbers[0], numbers[1], numbers[2], 1, 3, 1);
    return false;
  }
  requiredVMVersion = version;
  VMVersionCanBeHigher = higher;
  VMVersionCanBeLower = lower;
  requiredVMVersionMessage = versionMessage(numbers[0], numbers[1], numbers[2], suffix);
  return true;
}

bool cfgIsJPDASupportEnabled() { return jpdaSupportEnabled; }
bool cfgIsJPDAStartPaused() { return jpdaStartPaused; }
std::optional<std::string> cfgGetJPDAAddr() { return jpdaAddr; }
bool cfgIsStrictVMCheckEnabled() { return strictVMChecks; }
bool cfgIsHandleShutdownEnabled() { return handleShutdown; }
bool cfgIsAllowRIEnabled() { return allowri; }
bool cfgIsAllowJavaOnPathEnabled() { return allowJavaOnPath; }
bool cfgIsMakePathsAbsolute() { return makePathsAbsolute; }
const std::string& cfgGetCmdPrefix() { return cmdPrefix; }

// A VM's version text: "1.4.2_05", "1.8.0_392", or since Java 9 "21", "21.0.1", "25-ea".
// The leading numbers count; a number not followed by '.' and a digit leaves the
// remaining ones 0. Anything may follow the numbers read.
bool cfgIsJVMVersionAcceptable(const char* version, std::string* message) {
  if (message != nullptr) *message = requiredVMVersionMessage;
  if (version == nullptr) return false;
  std::string_view text(version);
  size_t pos = 0;
  int numbers[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (pos + 1 >= text.size() || text[pos] != '.' || !isDigit(text[pos + 1])) break;
      ++pos;
    }
    numbers[i] = readNumber(text, pos);
    if (numbers[i] < 0) return false;
    // A fourth digit in the first or second number is no version we know how to read.
    if (i < 2 && pos < text.size() && isDigit(text[pos])) return false;
  }
  int32_t value = numbers[0] * 1000000 + numbers[1] * 1000 + numbers[2];
  if (value == requiredVMVersion) return true;
  if (value > requiredVMVersion) return VMVersionCanBeHigher;
  return VMVersionCanBeLower;
}

void cfgPrintUsage() {
  for (const NameValue& entry : configuredUsage.entries())
    std::fprintf(stdout, "    %s <value>\t%s\n", entry.name.c_str(), entry.value.c_str());
}
