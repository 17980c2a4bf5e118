// The configuration reader: chooses the configuration file, reads it line by line,
// expands each line's macros and dispatches it to its directive's handler.
//
// A configuration file is a sequence of lines; blank lines and lines whose first
// non-blank character is '#' are skipped (the line reader does that). Every other line is
//
//   directive [ white-space argument ]
//
// where the directive is the text before the first space (a tab does not end it) and is
// matched case-sensitively against the table below before the line is expanded. The
// argument is the rest of the expanded line after any white space; whether it may or must
// be present is the row's parameterRequired. The first line that fails stops the file and,
// through include, every file that includes it.
#include "config_reader.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "config_macros.h"
#include "config_options.h"
#include "environment.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "line_reader.h"
#include "option_directives.h"
#include "path_list.h"
#include "string_helpers.h"
#include "supervision.h"
#include "trace.h"
#include "zip_comment.h"

namespace {

constexpr size_t kConfigFileNameLimit = 1024;
constexpr size_t kPathLimit = 1024;
constexpr int kReadErrorNumber = 32;
constexpr const char* kGenericError = "Error: Unable to process '%s' at line %d in configuration file '%s'.";
constexpr const char* kInvalidNumber = "Error: Invalid number in '%s' at line %d in configuration file '%s'.";
constexpr const char* kInvalidOption = "Error: Invalid option in '%s' at line %d in configuration file '%s'.";

constexpr Directive directiveList[] = {
    {.name = "addlibpath", .handler = cfgAddLibPath, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "javahome", .handler = cfgSetJavaHome, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "javapath", .handler = cfgSetJavaPath, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "vmtype", .handler = cfgSetVMType, .parameterRequired = true,
     .errorFormat = "Error: Unrecognized VM type in '%s' at line %d in configuration file '%s'."},
    {.name = "mainclass", .handler = cfgSetMainClass, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "mainjar", .handler = cfgSetMainJar, .parameterRequired = true,
     .errorFormat = "Error: No readable jar manifest in '%s' at line %d in configuration file '%s'."},
    {.name = "mainmethod", .handler = cfgSetMainMethod, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "versionclass", .handler = cfgSetVersionClass, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "usageclass", .handler = cfgSetUsageClass, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "exitclass", .handler = cfgSetExitClass, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "restartonexit", .handler = cfgSetRestartOnExitCode, .parameterRequired = true,
     .errorFormat = kInvalidNumber},
    {.name = "usageonexit", .handler = cfgSetUsageOnExitCode, .parameterRequired = true,
     .errorFormat = kInvalidNumber},
    {.name = "addpath", .handler = cfgAddPath, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "addjars", .handler = cfgAddJars, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "vmparam", .handler = cfgSetVMParam, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "vmprop", .handler = cfgSetVMProp, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "vmmemmin", .handler = cfgSetVMMemMin, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "vmmemmax", .handler = cfgSetVMMemMax, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "nosplash", .handler = cfgSetNoSplash, .parameterRequired = false, .errorFormat = nullptr},
    {.name = "socket", .handler = cfgSetSocketPort, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "copyenv", .handler = cfgSetCopyEnv, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "exportenv", .handler = cfgSetExportEnv, .parameterRequired = false, .errorFormat = nullptr},
    {.name = "cd", .handler = cfgSetCurrentDir, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "daemonsupport", .handler = cfgSetDaemonSupport, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "apparg", .handler = cfgAddAppArg, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "addparam", .handler = cfgAddAppArg, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "addbootpath", .handler = cfgAddBootPath, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "addbootjars", .handler = cfgAddBootJars, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "addskippath", .handler = cfgAddSkipPath, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "include", .handler = cfgInclude, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "includedir", .handler = cfgIncludeDir, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "set", .handler = cfgSet, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "export", .handler = cfgExport, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "setfromoption", .handler = cfgSetFromOption, .parameterRequired = true, .errorFormat = kSuppressed},
    {.name = "dirmustexist", .handler = cfgEnsureDirExists, .parameterRequired = true, .errorFormat = kSuppressed},
    {.name = "jpda", .handler = cfgEnableJPDA, .parameterRequired = true, .errorFormat = kInvalidOption},
    {.name = "options", .handler = cfgOptionsCmd, .parameterRequired = true, .errorFormat = kInvalidOption},
    {.name = "cmdprefix", .handler = cfgCmdPrefixCmd, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "startupcache", .handler = cfgSetStartupCache, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "vmversion", .handler = cfgVMVersionCmd, .parameterRequired = true,
     .errorFormat = "Error: Invalid version specifier in '%s' at line %d in configuration file '%s'."},
    {.name = "readiness", .handler = cfgSetReadiness, .parameterRequired = true,
     .errorFormat = "Error: Invalid readiness rule in '%s' at line %d in configuration file '%s'."},
    {.name = "pidfile", .handler = cfgSetPidFile, .parameterRequired = true, .errorFormat = nullptr},
    {.name = "restartlimit", .handler = hmdSetRestartLimit, .parameterRequired = true,
     .errorFormat = "Error: Invalid restart limit in '%s' at line %d in configuration file '%s'."},
    {.name = "vmwatch", .handler = hmdSetVmWatch, .parameterRequired = true,
     .errorFormat = "Error: Invalid VM watch in '%s' at line %d in configuration file '%s'."},
};
constexpr uint32_t directiveListCount = sizeof directiveList / sizeof directiveList[0];
static_assert(directiveListCount == 44);

// A file on the stack of files being read, identified by device and inode where it can
// be, so that a cycle is seen whatever name reaches the file.
struct ReadingFile {
  std::string name;
  bool identified = false;
  dev_t device = 0;
  ino_t inode = 0;
};

std::string defaultConfigFile;
std::optional<std::string> launcherConfigFileName;
int configFileMode = 0;
std::vector<ReadingFile> readingFiles;

const Directive* findDirective(std::string_view word) {
  for (const Directive& row : directiveList) {
    if (word == row.name) return &row;
  }
  return nullptr;
}

ReadingFile identify(const std::string& name) {
  ReadingFile file{.name = name};
  struct stat buffer {};
  if (::stat(name.c_str(), &buffer) == 0) {
    file.identified = true;
    file.device = buffer.st_dev;
    file.inode = buffer.st_ino;
  }
  return file;
}

bool isBeingRead(const ReadingFile& file) {
  for (const ReadingFile& open : readingFiles) {
    bool same = file.identified && open.identified ? file.device == open.device && file.inode == open.inode
                                                   : file.name == open.name;
    if (same) return true;
  }
  return false;
}

void printLineError(const char* format, const std::string& line, const std::string& fileName) {
  std::fprintf(stderr, format, line.c_str(), filGetCurrentLineNumber(), fileName.c_str());
}

// Reads the lines of an open file; false after the first failing line (reported).
bool processLines(FilFile* file, const std::string& fileName, const std::string& baseName) {
  while (std::optional<std::string_view> read = filReadNextLineFromFile(file)) {
    // The line buffer is shared with included files: keep a copy.
    std::string line(*read);
    std::string_view word = std::string_view(line).substr(0, line.find(' '));
    const Directive* row = findDirective(word);
    if (row == nullptr) {
      printLineError("Error: Unrecognized directive '%s' at line %d in configuration file '%s'.\n", line, fileName);
      return false;
    }
    std::string expanded = cfgExpandMacros(line);
    size_t start = std::min(word.size(), expanded.size());
    while (start < expanded.size() && std::isspace(static_cast<unsigned char>(expanded[start]))) ++start;
    std::string argument = expanded.substr(start);
    if (row->parameterRequired && argument.empty()) {
      printLineError("Error: Parameter required for '%s' at line %d in configuration file '%s'.\n", expanded,
                     fileName);
      return false;
    }
    if (!row->parameterRequired && !argument.empty()) {
      printLineError("Error: Parameter not required on '%s' at line %d in configuration file '%s'.\n", expanded,
                     fileName);
      return false;
    }
    if (row->handler(argument)) {
      ut_tproda("Processed <%.*s> from <%.*s>", ut_textLimit(), expanded.c_str(), ut_textLimit(1),
                baseName.c_str());
      continue;
    }
    if (row->errorFormat != kSuppressed) {
      printLineError(row->errorFormat != nullptr ? row->errorFormat : kGenericError, expanded, fileName);
      std::fputc('\n', stderr);
    }
    return false;
  }
  return true;
}

}  // namespace

void cfgInit() {
  defaultConfigFile.clear();
  cfgMacrosInit();
  cfgSettingsInit();
  cfgOptionDirectivesInit();
  cfgOptionsInit();
  filInit();
}

void cfgTerm() {
  filTerm();
  cfgOptionsTerm();
  cfgOptionDirectivesTerm();
  cfgSettingsTerm();
  cfgMacrosTerm();
  defaultConfigFile.clear();
  launcherConfigFileName.reset();
  configFileMode = 0;
  readingFiles.clear();
}

bool cfgSetDefaultConfigFile(std::string_view name) {
  if (name.size() > kConfigFileNameLimit) return false;
  defaultConfigFile.assign(name);
  return true;
}

const std::string& cfgGetDefaultConfigFile() { return defaultConfigFile; }

std::string cfgGetConfigFileName(std::optional<std::string_view> name) {
  std::string result;
  if (name && !name->empty()) {
    result = utlMakeAbsPath(*name, cfgIsMakePathsAbsolute());
  } else {
    // The launcher's own name with its extension replaced by ".config"; a trailing 'w'
    // (the windowless variant's name) is dropped unless only the name with it exists.
    // The name is already absolute and normalised, and taken as it is: a '\' in it is
    // part of a directory's name, not a separator.
    result = hmdGetFullLauncherFileName(kPathLimit);
    size_t slash = result.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = result.rfind('.');
    if (dot != std::string::npos && dot >= nameStart) result.erase(dot);
    char removed = '\0';
    if (result.size() > nameStart && (result.back() == 'w' || result.back() == 'W')) {
      removed = result.back();
      result.pop_back();
    }
    std::string candidate = result + ".config";
    if (removed != '\0' && !utlFileExists(candidate)) candidate = result + removed + ".config";
    result = candidate;
  }
  ut_tproda("Look for Configuration file %.*s", ut_textLimit(), result.c_str());
  return result;
}

int cfgSetConfigFileMode(int mode) {
  configFileMode = mode;
  if (mode == 1) cfgAddPath(hmdGetFullLauncherFileName(kPathLimit));
  return 0;
}

int cfgGetConfigFileMode() { return configFileMode; }

std::optional<std::string> cfgGetCurrentConfigFile() { return launcherConfigFileName; }

bool cfgProcessConfig() {
  std::optional<std::string> remembered = launcherConfigFileName;
  const std::string launcher = hmdGetFullLauncherFileName(kPathLimit);
  std::string chosen;
  std::optional<std::string> commentFile;
  if (!defaultConfigFile.empty()) {
    chosen = cfgGetConfigFileName(defaultConfigFile);
  } else {
    chosen = cfgGetConfigFileName(std::nullopt);
    if (FilFile* probe = filOpenFile(chosen, "r", true)) {
      filCloseFile(probe);
    } else if (!launcher.empty()) {
      commentFile = zipGetCommentFileName(launcher);
      if (commentFile) {
        chosen = cfgGetConfigFileName(*commentFile);
        ut_tproda("Processed zipfile comment file <%.*s>", ut_textLimit(), chosen.c_str());
        cfgSetConfigFileMode(1);
      }
    }
  }
  // The archive appended to the launcher is a class path entry whichever file is read.
  if (!launcher.empty()) {
    bool hasComment = commentFile.has_value();
    if (!hasComment) {
      std::optional<std::string> comment = zipGetZipComment(launcher);
      hasComment = comment && !comment->empty() && (*comment)[0] != '\0';
    }
    if (hasComment) cfgAddPath(launcher);
  }
  launcherConfigFileName = chosen;
  bool result = cfgProcessConfigFile(chosen);
  // Nothing reads the comment's file again.
  if (commentFile) hmdDeleteTempFile(*commentFile);
  if (remembered) launcherConfigFileName = remembered;
  return result;
}

const Directive* cfgGetDirectiveTable(size_t& count) {
  count = directiveListCount;
  return directiveList;
}

bool cfgProcessConfigFile(const std::string& fileName) {
  ReadingFile identity = identify(fileName);
  if (isBeingRead(identity)) {
    std::fprintf(stderr,
                 "Error: Configuration file '%s' is already being read at line %d in configuration file '%s'.\n",
                 fileName.c_str(), filGetCurrentLineNumber(), readingFiles.back().name.c_str());
    return false;
  }
  FilFile* file = filOpenFile(fileName, "r", true);
  if (file == nullptr) {
    std::fprintf(stderr, "Error: Unable to open configuration file '%s'.\n", fileName.c_str());
    return false;
  }
  size_t slash = utlStrrchr(fileName, '/');
  std::string baseName = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  readingFiles.push_back(std::move(identity));
  bool result = processLines(file, fileName, baseName);
  if (filHasReadError(file)) {
    std::fprintf(stderr, "Error: Unable to read configuration file '%s' - error %d.\n", fileName.c_str(),
                 kReadErrorNumber);
    result = false;
  }
  readingFiles.pop_back();
  filCloseFile(file);
  return result;
}

bool cfgInclude(const std::string& argument) {
  if (argument.empty()) return false;
  std::optional<std::string> remembered = launcherConfigFileName;
  std::string name = cfgGetConfigFileName(utlFixDirSeparators(std::string_view(argument)));
  launcherConfigFileName = name;
  bool result = cfgProcessConfigFile(name);
  launcherConfigFileName = remembered;
  return result;
}

// Reads every file of the directory whose name ends in ".config" (any letter case) and
// has something before that dot, in directory order. A failing file reports itself; the
// others are still read and the directive succeeds.
bool cfgIncludeDir(const std::string& argument) {
  std::string directory = utlMakeAbsPath(utlFixDirSeparators(std::string_view(argument)), cfgIsMakePathsAbsolute());
  std::optional<std::string> remembered = launcherConfigFileName;
  if (DIR* listing = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      std::string_view name(entry->d_name);
      size_t dot = name.rfind('.');
      if (dot == std::string_view::npos || dot == 0) continue;
      if (::strcasecmp(entry->d_name + dot, ".config") != 0) continue;
      std::string path = directory + "/" + std::string(name);
      launcherConfigFileName = path;
      cfgProcessConfigFile(path);
    }
    ::closedir(listing);
  }
  launcherConfigFileName = remembered;
  return true;
}
