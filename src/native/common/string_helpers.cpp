// Locale-aware string search and tokenising, list-valued environment variables,
// the environment snapshot and its dump format, quoting helpers.
#include "string_helpers.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cctype>
#include <cstdlib>

#include "environment.h"

namespace {

std::optional<std::string> localeName;
std::string environmentBytes;
std::optional<std::u16string> environmentChars;

bool multibyteMode() { return MB_CUR_MAX > 1; }

// Length of the character at text[pos] in multibyte mode: 2 or more for a multibyte
// character, 1 for a single byte (an invalid sequence counts as one byte too).
size_t charLength(std::string_view text, size_t pos) {
  size_t limit = std::min(static_cast<size_t>(MB_CUR_MAX), text.size() - pos);
  int length = std::mblen(text.data() + pos, limit);
  if (length < 0) {
    // Invalid or truncated sequence: forget the shift state and take one byte.
    std::mblen(nullptr, 0);
    return 1;
  }
  return length < 1 ? 1 : static_cast<size_t>(length);
}

bool inSet(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

// Walks the text character by character and calls visit(pos, length) for each; stops
// when visit answers false.
template <typename Visit>
void walk(std::string_view text, Visit visit) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t length = charLength(text, pos);
    if (!visit(pos, length)) return;
    pos += length;
  }
}

bool hasElement(std::string_view list, std::string_view value, const char* separator) {
  if (separator == nullptr) return list == value;
  for (const std::string& element : utlSplit(list, separator)) {
    if (element == value) return true;
  }
  return false;
}

void appendHex4(std::string& out, unsigned value) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "\\u%04X", value & 0xFFFFu);
  out += digits;
}

std::vector<std::string> quoteFrom(const std::vector<std::string>& array, size_t first) {
  std::vector<std::string> result;
  result.reserve(array.size());
  for (size_t i = 0; i < array.size(); ++i) {
    const std::string& element = array[i];
    if (i >= first && utlStrpbrk(element, " \t") != std::string_view::npos) {
      result.push_back('"' + element + '"');
    } else {
      result.push_back(element);
    }
  }
  return result;
}

}  // namespace

void utlInitLocale() {
  if (localeName) return;
  const char* name = std::setlocale(LC_CTYPE, "");
  localeName = name != nullptr ? name : "";
}

void utlInit() {
  utlInitLocale();
  environmentBytes = hmdGetEnvironmentBytes();
  environmentChars = hmdGetEnvironmentChars();
}

void utlTerm() {
  environmentBytes.clear();
  environmentBytes.shrink_to_fit();
  environmentChars.reset();
  localeName.reset();
}

const std::string& utlGetEnvironmentBytes() { return environmentBytes; }

const std::optional<std::u16string>& utlGetEnvironmentChars() { return environmentChars; }

size_t utlStrchr(std::string_view text, char c) {
  if (!multibyteMode()) {
    // Like strchr and strrchr, a search for NUL finds the terminator.
    if (c == '\0') return std::min(text.find('\0'), text.size());
    return text.find(c);
  }
  size_t found = std::string_view::npos;
  if (c == '\0') return found;
  walk(text, [&](size_t pos, size_t length) {
    if (length == 1 && text[pos] == c) {
      found = pos;
      return false;
    }
    return true;
  });
  return found;
}

size_t utlStrrchr(std::string_view text, char c) {
  if (!multibyteMode()) {
    if (c == '\0') return std::min(text.find('\0'), text.size());
    return text.rfind(c);
  }
  size_t found = std::string_view::npos;
  if (c == '\0') return found;
  walk(text, [&](size_t pos, size_t length) {
    if (length == 1 && text[pos] == c) found = pos;
    return true;
  });
  return found;
}

size_t utlStrpbrk(std::string_view text, std::string_view set) {
  if (!multibyteMode()) return text.find_first_of(set);
  size_t found = std::string_view::npos;
  walk(text, [&](size_t pos, size_t length) {
    if (length == 1 && inSet(set, text[pos])) {
      found = pos;
      return false;
    }
    return true;
  });
  return found;
}

size_t utlStrspn(std::string_view text, std::string_view set) {
  if (!multibyteMode()) {
    size_t end = text.find_first_not_of(set);
    return end == std::string_view::npos ? text.size() : end;
  }
  size_t count = 0;
  walk(text, [&](size_t pos, size_t length) {
    if (length != 1 || !inSet(set, text[pos])) return false;
    count = pos + 1;
    return true;
  });
  return count;
}

std::optional<std::string_view> utlStrtok(std::string_view& state, std::string_view delimiters) {
  size_t start = utlStrspn(state, delimiters);
  if (start >= state.size()) {
    state = state.substr(state.size());
    return std::nullopt;
  }
  std::string_view rest = state.substr(start);
  size_t end = utlStrpbrk(rest, delimiters);
  if (end == std::string_view::npos) {
    state = rest.substr(rest.size());
    return rest;
  }
  state = rest.substr(end + 1);
  return rest.substr(0, end);
}

std::vector<std::string> utlSplit(std::string_view text, std::string_view delimiters) {
  std::vector<std::string> tokens;
  std::string_view state = text;
  while (std::optional<std::string_view> token = utlStrtok(state, delimiters)) {
    tokens.emplace_back(*token);
  }
  return tokens;
}

bool utlEnforceEnvValue(const char* name, std::string_view value, const char* separator, bool prepend) {
  const char* currentText = std::getenv(name);
  std::string current = currentText != nullptr ? currentText : "";
  if (currentText != nullptr && hasElement(current, value, separator)) return false;

  std::string updated;
  if (separator != nullptr && !current.empty()) {
    updated = prepend ? std::string(value) + separator + current : current + separator + std::string(value);
  } else {
    updated = value;
  }
  setenv(name, updated.c_str(), 1);
  return true;
}

bool utlEnforceLackOfEnvValue(const char* name, std::string_view value, const char* separator) {
  const char* currentText = std::getenv(name);
  if (currentText == nullptr) return false;
  std::string current = currentText;

  std::vector<std::string> elements;
  if (separator != nullptr) {
    elements = utlSplit(current, separator);
  } else if (!current.empty()) {
    elements.push_back(current);
  }

  std::string rebuilt;
  bool removed = false;
  bool first = true;
  for (const std::string& element : elements) {
    if (element == value) {
      removed = true;
      continue;
    }
    if (!first && separator != nullptr) rebuilt += separator;
    rebuilt += element;
    first = false;
  }
  if (!removed) return false;
  setenv(name, rebuilt.c_str(), 1);
  return true;
}

// The dump holds one line per snapshot entry (entries end with NUL, an empty entry ends
// the snapshot). Control characters and the backslash are escaped C-style, other
// characters below 32 and everything from 128 up as \uXXXX, so the text is pure ASCII.
std::string utlPrintEnvironment(std::u16string_view chars) {
  std::string out;
  size_t pos = 0;
  while (pos < chars.size() && chars[pos] != u'\0') {
    for (; pos < chars.size() && chars[pos] != u'\0'; ++pos) {
      char16_t c = chars[pos];
      switch (c) {
        case u'\t': out += "\\t"; break;
        case u'\n': out += "\\n"; break;
        case u'\f': out += "\\f"; break;
        case u'\r': out += "\\r"; break;
        case u'\\': out += "\\\\"; break;
        default:
          if (c < 32 || c >= 128) {
            appendHex4(out, c);
          } else {
            out += static_cast<char>(c);
          }
      }
    }
    out += '\n';
    ++pos;
  }
  return out;
}

std::string utlStrToUpper(std::string_view text) {
  std::string upper(text);
  if (!multibyteMode()) {
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }
  walk(text, [&](size_t pos, size_t length) {
    if (length == 1) upper[pos] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[pos])));
    return true;
  });
  return upper;
}

std::vector<std::string> utlCopyAndQuoteArray(const std::vector<std::string>& array) {
  return quoteFrom(array, 0);
}

std::vector<std::string> utlCopyAndQuoteArgvArray(const std::vector<std::string>& array) {
  return quoteFrom(array, 1);
}
