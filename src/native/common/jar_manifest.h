// The manifest of a jar: where an executable jar names its main class and class path.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bytes of the named entry of a ZIP archive, stored or deflated, at most limit bytes;
// none when the archive or the entry cannot be read.
std::optional<std::string> zipReadEntry(const std::string& archive, std::string_view name, size_t limit);
// The text of the jar's META-INF/MANIFEST.MF; none when it has none.
std::optional<std::string> zipReadJarManifest(const std::string& jar);
// The value of an attribute of the manifest's main section (names match in any case).
std::optional<std::string> zipManifestAttribute(std::string_view manifest, std::string_view name);
// The files a jar's Class-Path value names, relative ones resolved against the jar's
// directory. Entries are relative URLs: %XX escapes are decoded; other schemes are skipped.
std::vector<std::string> zipManifestClassPath(std::string_view value, const std::string& jar);
