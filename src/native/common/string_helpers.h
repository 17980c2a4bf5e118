// Locale-aware string search and tokenising, list-valued environment variables,
// the environment snapshot and its dump format, quoting helpers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Sets the locale and takes the environment snapshot; utlTerm releases it.
void utlInit();
void utlTerm();
void utlInitLocale();

// The environment as received: NAME=value entries each ended by NUL, then one more NUL.
const std::string& utlGetEnvironmentBytes();
// The same as 16-bit characters, where the host supplies it (never here).
const std::optional<std::u16string>& utlGetEnvironmentChars();

// Multibyte-aware counterparts of strchr, strrchr, strpbrk and strspn. A multibyte
// character is stepped over whole and never matches. Positions are byte offsets;
// std::string_view::npos means not found.
size_t utlStrchr(std::string_view text, char c);
size_t utlStrrchr(std::string_view text, char c);
size_t utlStrpbrk(std::string_view text, std::string_view set);
size_t utlStrspn(std::string_view text, std::string_view set);

// Reentrant tokenizer. The state is the text still to scan; it starts as the whole text.
// Runs of delimiters count as one; empty tokens never occur.
std::optional<std::string_view> utlStrtok(std::string_view& state, std::string_view delimiters);
// Every token of the text, in order.
std::vector<std::string> utlSplit(std::string_view text, std::string_view delimiters);

// Makes sure the list-valued variable holds the value as one of its elements (split at any
// character of separator; null separator: the whole value). Prepends or appends; true when
// the environment changed.
bool utlEnforceEnvValue(const char* name, std::string_view value, const char* separator, bool prepend);
// Removes every element equal to the value; true when the variable was rewritten.
bool utlEnforceLackOfEnvValue(const char* name, std::string_view value, const char* separator);

// The environment dump text of a 16-bit snapshot: one escaped line per entry.
std::string utlPrintEnvironment(std::u16string_view chars);

std::string utlStrToUpper(std::string_view text);

// Copies the array, wrapping each element that contains a blank in double quotes.
std::vector<std::string> utlCopyAndQuoteArray(const std::vector<std::string>& array);
// The same, but the first element (the program name) is never quoted.
std::vector<std::string> utlCopyAndQuoteArgvArray(const std::vector<std::string>& array);
