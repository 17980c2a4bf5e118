// Trace facility: the launcher's one diagnostic channel, switched by UTRACE or +debug.
#pragma once

#include <cstdarg>
#include <ctime>
#include <string>
#include <string_view>

// User text in a trace line goes through "%.*s" with this precision, so that no line can
// outgrow the 32,767-character line buffer (which would end the process): the first user
// text of a line keeps up to 16,384 characters, a second one up to 15,872, leaving room
// for the line's own words.
//   ut_tproda("Processed <%.*s> from <%.*s>", ut_textLimit(), line, ut_textLimit(1), file);
constexpr int ut_textLimit(int position = 0) { return position == 0 ? 16384 : 15872; }

// One printf-style trace line. The first call reads UTRACE and applies it.
void ut_tproda(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes one line (format plus a newline) with a single write() when production tracing is on.
void ut_prod(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Production tracing on; UTRACE is no longer read afterwards.
void ut_tprodon();

// Level tracing on at the given level; production tracing off.
void ut_ton(unsigned level);

// 1 when level tracing is on.
int ut_tison();

// Copies UTRACE into the buffer (at most size - 1 characters); null when it is unset.
const char* GetTraceSetting(char* buffer, size_t size);

// Applies a setting string (null: tracing off).
void ut_treset(const char* setting);

// Commit point after a line; lines are unbuffered, so there is nothing to flush.
void ut_tcommit();

// What a setting string asks for, as ut_treset reads it.
struct TraceSetting {
  bool append = false;
  bool commit = false;
  std::string fileName;
  unsigned level = 0;
  bool prod = false;
};

// Scans a setting string for its -a, -c, -f, -l and -p options, left to right.
TraceSetting ut_parseSetting(std::string_view setting);

// The header written at the top of a trace file.
std::string ut_formatHeader(std::time_t now, std::string_view setting);
