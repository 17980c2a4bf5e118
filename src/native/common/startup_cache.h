// Start-up caches: a cache of the application's classes that the VM makes in one run and
// maps in the next, kept in the directory of the startupcache directive, one file per
// application state (installation, class paths, options that shape what is archived).
//
// A cache is made under a temporary name and renamed to its final name only once the VM has
// finished it (jscPublishCache); a cache is handed to the VM only when it still matches the
// record written beside it at that moment, so a truncated or altered file is never mapped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jvm_options.h"

// How a release makes and uses a cache.
enum class CacheFamily {
  None,           // before release 13, or unknown: no cache
  ArchiveAtExit,  // 13 to 18: -XX:ArchiveClassesAtExit, then -XX:SharedArchiveFile
  AutoArchive,    // 19 to 24: -XX:+AutoCreateSharedArchive -XX:SharedArchiveFile
  AotCache,       // 25 and later: -XX:AOTCacheOutput, then -XX:AOTCache
};

void jscInit();
// Forgets the state; a cache that was being made and not published is removed.
void jscTerm();

// The feature release named by JAVA_VERSION in an installation's release file text
// ("17.0.9" is 17, "1.8.0_392" is 8); 0 when there is none.
int jscParseRelease(std::string_view releaseText);
CacheFamily jscChooseFamily(int release);
// The options for a family: those that use the finished cache when ready, else those that
// make one into the temporary file.
std::vector<std::string> jscFamilyOptions(CacheFamily family, bool ready, const std::string& cacheFile,
                                          const std::string& tempFile);

// The words of an options variable (JAVA_TOOL_OPTIONS), split as the VM splits them.
std::vector<std::string> jscSplitOptionsVariable(std::string_view text);
// The files whose content a cache depends on, named by an option list: the class path and
// boot class path entries and the agents' jars and libraries.
std::vector<std::string> jscContentEntries(const std::vector<std::string>& options);
// What the entries hold, as a start reads it with one stat each: the digest continued over
// each entry's name, size, inode and modification time, the size of the regular files,
// and the entries that are directories.
struct ContentIdentity {
  uint64_t digest;
  uint64_t fileBytes;
  std::vector<std::string> directories;
};
ContentIdentity jscContentIdentity(const std::vector<std::string>& entries, uint64_t digest);
// The files the Class-Path of the entries' jar manifests name, followed through the manifests
// of those in turn: each file once, only regular files that exist and are not entries.
std::vector<std::string> jscManifestClosure(const std::vector<std::string>& entries);
// The record lines of the files' identities ("file SIZE INODE MTIME PATH"), for the files
// that exist; jscChangedFile gives the first file a record lists that is missing or no
// longer matches its line, none when all match (or the record lists none).
std::string jscDescribeFiles(const std::vector<std::string>& files);
std::optional<std::string> jscChangedFile(std::string_view record);
enum class AgentKind { None, Debugger, Other };
AgentKind jscAgentKind(std::string_view option);

// Decides this run's cache from the final option list (class paths and options) and gives
// the options to add; none, with a trace line saying why, when no cache can be used.
std::vector<std::string> jscPrepare(const VmOptionList& finalOptions);
// The VM has ended in order: the cache it made, if any, appears under its final name.
void jscPublishCache();
// The process is forced down: the cache being made is dropped.
void jscDiscardCache();

// The classes the launcher looks up by name once the VM exists. A class path search for a
// class that is not there opens every jar on it, which a run on a cache otherwise never
// does: the run that makes a cache notes each class it did not find, its record lists them,
// and a run on that cache (the same class path content) does not search for them again.
bool jscClassKnownAbsent(std::string_view className);
void jscNoteClassAbsent(std::string_view className);
// The record lines of those classes ("absent NAME"), and the names a record lists.
std::string jscDescribeAbsentClasses(const std::vector<std::string>& classNames);
std::vector<std::string> jscAbsentClasses(std::string_view record);

// Whether a text the VM prints is its remark that it recorded the configuration this run
// asked it to record for a cache (release 25 names the launcher's own temporary file as it
// ends): it is not the application's output and stays off the console.
bool jscIsRecordingRemark(std::string_view text);

// VM creation failed: when this run gave cache options, drops the cache it was given, prints
// one line and has the re-executed image start without cache options (true); else false.
bool jscRetryWithoutCache();
// Whether this run gave cache options, so that a failed creation is retried without them.
bool jscRetryPossible();

// A training run (+makecache): it makes a cache, stops the application once the readiness
// rule holds (main: a few seconds, or main's return; return; port N), never restarts, and
// ends with jscTrainingStatus: 0 once a finished cache is published, else 1 with the
// reason on standard error. The two calls bracket the application's main method.
bool jscTraining();
void jscMainCalled();
void jscMainReturned();
int32_t jscTrainingStatus();

// At start, before the environment snapshot: takes the note of a refusal line already
// given out of the environment. Before a re-execution: hands it to the new image.
void jscTakeEnvironment();
void jscHandToReexec();
