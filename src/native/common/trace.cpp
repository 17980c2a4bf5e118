// Trace facility: one unbuffered line per call, switched lazily by UTRACE.
//
// UTRACE holds options, each introduced by a '-' anywhere in the text and ended by a
// blank or tab:
//   -p        production tracing: every trace line goes to the output (stdout by default)
//   -l<n>     level tracing at level n; it only decides whether a trace file is opened
//   -f<file>  the trace file, opened only together with a non-zero level
//   -a        append to the trace file instead of truncating it
//   -c        commit after every line
// -p and -l clear each other, so the last one wins.

#include "trace.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The process-wide trace record, statically initialised; it has no Init/Term.
struct TraceData {
  int resetPending = 1;
  int commitAfterWrite = 0;
  int outputFd = 1;
  int prodEnabled = 0;
  unsigned traceLevel = 0;
};
TraceData ut_TraceData;

constexpr size_t kLineBufferSize = 32768;
constexpr size_t kSettingBufferSize = 512;
constexpr char kOverflowMessage[] = "UTRACE BUFFER OVERFLOW!!!!\n";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

TraceSetting ut_parseSetting(std::string_view setting) {
  TraceSetting result;
  size_t pos = 0;
  while (pos < setting.size()) {
    size_t dash = setting.find('-', pos);
    if (dash == std::string_view::npos) break;
    size_t end = dash;
    while (end < setting.size() && !isBlank(setting[end])) ++end;
    std::string_view option = setting.substr(dash, end - dash);
    if (option.size() >= 2) {
      std::string value(option.substr(2));
      switch (option[1]) {
        case 'a': result.append = true; break;
        case 'c': result.commit = true; break;
        case 'f': result.fileName = value; break;
        case 'l':
          result.level = static_cast<unsigned>(std::atoi(value.c_str()));
          result.prod = false;
          break;
        case 'p':
          result.prod = true;
          result.level = 0;
          break;
        default: break;
      }
    }
    if (end >= setting.size()) break;
    pos = end + 1;
  }
  return result;
}

std::string ut_formatHeader(std::time_t now, std::string_view setting) {
  std::tm local{};
  localtime_r(&now, &local);
  char timeText[64];
  asctime_r(&local, timeText);
  std::string header = "\nTRACE OUTPUT ";
  header += timeText;
  header += "\t\t\t\tusing ";
  header += setting;
  header += "\n\n";
  return header;
}

void ut_treset(const char* setting) {
  TraceData& td = ut_TraceData;
  td.traceLevel = 0;
  td.resetPending = 0;
  td.prodEnabled = 0;
  if (setting == nullptr) return;

  TraceSetting parsed = ut_parseSetting(setting);
  if (parsed.commit) td.commitAfterWrite = 1;
  if (parsed.prod) {
    ut_tprodon();
  } else if (parsed.level != 0) {
    ut_ton(parsed.level);
  }

  if (td.traceLevel != 0) {
    if (td.outputFd > 2) close(td.outputFd);
    if (!parsed.fileName.empty()) {
      int flags = O_RDWR | O_CREAT | (parsed.append ? O_APPEND : O_TRUNC);
      td.outputFd = open(parsed.fileName.c_str(), flags | O_CLOEXEC, 0666);
      if (td.outputFd != -1) {
        int on = 1;
        ioctl(td.outputFd, FIONBIO, &on);
        std::string header = ut_formatHeader(std::time(nullptr), setting);
        ssize_t ignored = write(td.outputFd, header.data(), header.size());
        (void)ignored;
      }
    } else {
      td.outputFd = 1;
    }
  }
  td.resetPending = 0;
}

const char* GetTraceSetting(char* buffer, size_t size) {
  const char* value = std::getenv("UTRACE");
  if (value == nullptr || size == 0) return nullptr;
  std::strncpy(buffer, value, size - 1);
  buffer[size - 1] = '\0';
  return buffer;
}

void ut_tprodon() {
  ut_TraceData.traceLevel = 0;
  ut_TraceData.resetPending = 0;
  ut_TraceData.prodEnabled = 1;
}

void ut_ton(unsigned level) {
  ut_TraceData.traceLevel = level;
  ut_TraceData.resetPending = 0;
  ut_TraceData.prodEnabled = 0;
}

int ut_tison() { return ut_TraceData.traceLevel != 0 ? 1 : 0; }

void ut_tcommit() {}

void ut_prod(const char* format, va_list args) {
  const TraceData& td = ut_TraceData;
  if (td.prodEnabled == 0 || td.outputFd == -1) return;
  // The line is formatted on the stack: no allocation on the trace path.
  char line[kLineBufferSize + 1];
  int length = std::vsnprintf(line, kLineBufferSize, format, args);
  if (length < 0) return;
  if (static_cast<size_t>(length) > kLineBufferSize - 1) {
    ssize_t ignored = write(2, kOverflowMessage, sizeof kOverflowMessage - 1);
    (void)ignored;
    std::exit(1);
  }
  line[length] = '\n';
  ssize_t ignored = write(td.outputFd, line, static_cast<size_t>(length) + 1);
  (void)ignored;
  if (td.commitAfterWrite != 0) ut_tcommit();
}

void ut_tproda(const char* format, ...) {
  if (ut_TraceData.resetPending != 0) {
    char buffer[kSettingBufferSize];
    ut_treset(GetTraceSetting(buffer, sizeof buffer));
  }
  if (ut_TraceData.prodEnabled == 0) return;
  va_list args;
  va_start(args, format);
  ut_prod(format, args);
  va_end(args);
}
