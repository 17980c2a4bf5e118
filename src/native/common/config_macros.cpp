// Macro expansion of configuration lines, the configuration variables, set and export.
//
// A macro is
//
//   '$' keyword '(' name [ ':' default ] ')'
//
// with the keyword one of var, sys, file, regThenEnv, envThenReg, env, reg (any letter
// case). The name runs from the first '(' after the '$' to the first ':' or ')' after it;
// the default from that ':' to the ')', so it may hold ':' but neither may hold ')'.
// Values are appended as they are and never scanned again: macros do not nest. There is
// no escape: a '$' that does not start a well-formed, known macro is kept, together with
// the whole rest of the line, unexpanded.
#include "config_macros.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "app_arguments.h"
#include "jvm_options.h"
#include "launcher_location.h"
#include "path_list.h"
#include "trace.h"

namespace {

constexpr size_t kInitialLineBufferSize = 1024;
constexpr size_t kMacroPartLimit = 4096;
constexpr size_t kPathLimit = 1024;
std::string lineBuffer;
NameValueList configVars;
std::vector<std::string> exportedNames;

enum class MacroKind { kVar, kFile, kRegThenEnv, kEnvThenReg, kEnv, kReg };

struct MacroKeyword {
  const char* text;  // compared, '(' included, without regard to case
  MacroKind kind;
};

constexpr MacroKeyword kKeywords[] = {
    {.text = "$var(", .kind = MacroKind::kVar},
    {.text = "$sys(", .kind = MacroKind::kVar},
    {.text = "$file(", .kind = MacroKind::kFile},
    {.text = "$regThenEnv(", .kind = MacroKind::kRegThenEnv},
    {.text = "$envThenReg(", .kind = MacroKind::kEnvThenReg},
    {.text = "$env(", .kind = MacroKind::kEnv},
    {.text = "$reg(", .kind = MacroKind::kReg},
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

struct MacroParts {
  bool wellFormed = false;
  std::string name;
  std::string defaultValue;
  size_t end = 0;  // offset after the ')'
};

// Splits the macro at the start of the text (which begins with '$').
MacroParts cfgGetMacroValueName(std::string_view text) {
  MacroParts parts;
  size_t open = text.find('(');
  if (open == std::string_view::npos) return parts;
  size_t close = text.find(')', open + 1);
  if (close == std::string_view::npos) return parts;
  std::string_view inner = text.substr(open + 1, close - open - 1);
  size_t colon = inner.find(':');
  std::string_view name = inner.substr(0, colon);
  std::string_view defaultValue = colon == std::string_view::npos ? std::string_view() : inner.substr(colon + 1);
  parts.name = name.substr(0, kMacroPartLimit);
  parts.defaultValue = defaultValue.substr(0, kMacroPartLimit);
  parts.end = close + 1;
  parts.wellFormed = !parts.name.empty();
  return parts;
}

std::optional<std::string> environmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string currentDirectory() {
  char buffer[kPathLimit + 1];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  return buffer;
}

// The value of $var(name:default) and $sys(name:default).
std::string cfgExpandVarMacro(const std::string& name, const std::string& defaultValue) {
  if (equalsIgnoringCase(name, "installRoot")) return hmdGetFullLauncherPath(kPathLimit) + "/..";
  if (equalsIgnoringCase(name, "JDKHome")) {
    if (std::optional<std::string> home = jopGetJavaHome()) return *home;
  } else if (equalsIgnoringCase(name, "CWD")) {
    return currentDirectory();
  } else if (equalsIgnoringCase(name, "PID")) {
    return std::to_string(::getpid());
  } else if (equalsIgnoringCase(name, "fileSep")) {
    return "/";
  } else if (equalsIgnoringCase(name, "pathSep")) {
    return ":";
  }
  if (std::optional<std::string> value = cfgGetVar(name, defaultValue)) return *value;
  ut_tproda("Undefined variable <%.*s>", ut_textLimit(), name.c_str());
  return "<UNKNOWN>";
}

std::string macroValue(MacroKind kind, const std::string& name, const std::string& defaultValue) {
  switch (kind) {
    case MacroKind::kVar:
      return cfgExpandVarMacro(name, defaultValue);
    case MacroKind::kFile:
      return utlFixDirSeparators(std::string_view(name));
    case MacroKind::kRegThenEnv:
      if (auto value = hmdGetKestrixProperty(name)) return *value;
      return environmentValue(name).value_or(defaultValue);
    case MacroKind::kEnvThenReg:
      if (auto value = environmentValue(name)) return *value;
      return hmdGetKestrixProperty(name).value_or(defaultValue);
    case MacroKind::kEnv:
      return environmentValue(name).value_or(defaultValue);
    case MacroKind::kReg:
      return hmdGetKestrixProperty(name).value_or(defaultValue);
  }
  return defaultValue;
}

// Reads the whole text as a base-10 integer (leading white space and a sign allowed).
std::optional<long long> wholeNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE) return std::nullopt;
  return value;
}

}  // namespace

void cfgMacrosInit() {
  cfgMacrosTerm();
}

void cfgMacrosTerm() {
  lineBuffer.clear();
  lineBuffer.shrink_to_fit();
  configVars = NameValueList();
  exportedNames.clear();
}

std::string cfgExpandMacros(std::string_view line) {
  lineBuffer.clear();
  if (lineBuffer.capacity() < kInitialLineBufferSize) lineBuffer.reserve(kInitialLineBufferSize);
  std::string_view rest = line;
  for (;;) {
    size_t dollar = rest.find('$');
    if (dollar == std::string_view::npos) {
      lineBuffer.append(rest);
      break;
    }
    lineBuffer.append(rest.substr(0, dollar));
    std::string_view macro = rest.substr(dollar);
    MacroParts parts = cfgGetMacroValueName(macro);
    const MacroKeyword* keyword = nullptr;
    if (parts.wellFormed) {
      for (const MacroKeyword& candidate : kKeywords) {
        if (startsWithIgnoringCase(macro, candidate.text)) {
          keyword = &candidate;
          break;
        }
      }
      if (keyword != nullptr && keyword->kind == MacroKind::kFile && !parts.defaultValue.empty()) {
        parts.wellFormed = false;
      }
    }
    if (!parts.wellFormed || keyword == nullptr) {
      std::string text(macro);
      if (!parts.wellFormed) {
        ut_tproda("Malformed macro <%.*s>", ut_textLimit(), text.c_str());
      } else {
        ut_tproda("Unrecognised macro <%.*s>", ut_textLimit(), text.c_str());
      }
      lineBuffer.append(text);
      break;
    }
    lineBuffer.append(macroValue(keyword->kind, parts.name, parts.defaultValue));
    rest = macro.substr(parts.end);
  }
  return lineBuffer;
}

std::optional<std::string> cfgGetVar(std::string_view name, std::string_view defaultValue) {
  std::string key(name);
  if (std::optional<long long> number = wholeNumber(key)) {
    long long count = optGetApplicationArgCount();
    long long k = *number;
    if (k > 0 && k <= count) {
      return optGetApplicationArgList()[static_cast<size_t>(k - 1)];
    }
    if (k < 0 && k >= -count) {
      if (std::optional<std::string> taken = optRemoveApplicationArgumentN(static_cast<int>(-k))) return taken;
    }
  }
  if (const std::string* value = utlListGet(&configVars, key)) return *value;
  if (!defaultValue.empty()) return std::string(defaultValue);
  return std::nullopt;
}

void cfgAddVar(std::string_view nameEqualValue) { utlListAddNameEqualValue(configVars, nameEqualValue); }

const NameValueList& cfgGetConfigVars() { return configVars; }

bool cfgSet(const std::string& argument) {
  cfgAddVar(argument);
  return true;
}

// The environment takes its own copy of the entry (setenv), replacing one of the same name.
bool cfgExport(const std::string& argument) {
  size_t equals = argument.find('=');
  if (equals == std::string::npos || equals == 0) {
    ut_tproda("No variable name specified in <%.*s>", ut_textLimit(), argument.c_str());
    return true;
  }
  std::string name = argument.substr(0, equals);
  if (::setenv(name.c_str(), argument.c_str() + equals + 1, 1) != 0) {
    ut_tproda("Unable to export <%.*s>", ut_textLimit(), argument.c_str());
  } else if (std::find(exportedNames.begin(), exportedNames.end(), name) == exportedNames.end()) {
    exportedNames.push_back(name);
  }
  return true;
}

const std::vector<std::string>& cfgGetExportedNames() { return exportedNames; }
