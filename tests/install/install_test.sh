#!/usr/bin/env bash
# Installs the build into a temporary prefix, gives an application there its launcher and
# starts it; shows the installed manual page with man; makes both packages with cpack and
# checks what they hold.
#
#   install_test.sh BUILD_DIR JDK_HOME
set -euo pipefail
build=$1
jdk=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/launcher share/launcher/launcher.jar share/man/man1/launcher.1 \
  share/doc/launcher/README.md share/doc/launcher/configuration.md share/doc/launcher/troubleshooting.md \
  share/doc/launcher/examples/systemd/hello.service share/doc/launcher/examples/hello/bin/hello.config \
  share/doc/launcher/examples/server/README.md; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/launcher" ] || fail "bin/launcher is not executable"

# The jar holds the product's classes and none of the tests'.
classes=$("$jdk/bin/jar" tf "$prefix/share/launcher/launcher.jar")
grep -qx 'com/vantrel/launcher/JavaLauncher.class' <<<"$classes" || fail "launcher.jar lacks JavaLauncher"
grep -qx 'com/vantrel/enterprise/server/UserId.class' <<<"$classes" || fail "launcher.jar lacks UserId"
! grep -q 'PrintArgs' <<<"$classes" || fail "launcher.jar holds test classes"

# An application gets its launcher from the installation.
app=$work/app
mkdir -p "$app/bin" "$app/classes"
cp "$prefix/bin/launcher" "$app/bin/hello"
cp "$prefix/share/doc/launcher/examples/hello/bin/hello.config" "$app/bin/"
"$jdk/bin/javac" -d "$app/classes" "$prefix/share/doc/launcher/examples/hello/src/Hello.java"
out=$(env -i PATH=/usr/bin:/bin JAVA_HOME="$jdk" "$app/bin/hello" again 2>&1) \
  || fail "the installed launcher's application did not run: $out"
grep -q 'Hello from a Java application started by the launcher.' <<<"$out" || fail "no greeting: $out"
grep -q 'argument 2       = again' <<<"$out" || fail "arguments not handed on: $out"
grep -q "launcher.program = $app/bin/hello" <<<"$out" || fail "not started by the launcher itself: $out"

# man finds the page under the prefix.
if command -v man >/dev/null 2>&1; then
  page=$(MANPATH="$prefix/share/man" MANPAGER=cat MANWIDTH=80 man launcher 2>&1) || fail "man launcher: $page"
  # Captured before grep reads it: grep -q stops at its first match, and a command piping
  # into it could die of the broken pipe and fail the test under pipefail.
  squeezed=$(tr -s ' ' <<<"$page")
  grep -q 'start a Java server application' <<<"$squeezed" || fail "man launcher shows: $page"
fi

# Both packages, made beside the build so the build directory stays as it was.
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >/dev/null) || fail "cpack failed"
tgz=$(ls "$work"/packages/launcher-*.tar.gz)
deb=$(ls "$work"/packages/launcher_*.deb)
tar tzf "$tgz" >"$work/tgz.list"
grep -q '/bin/launcher$' "$work/tgz.list" || fail "the archive lacks bin/launcher"
if command -v dpkg-deb >/dev/null 2>&1; then
  dpkg-deb -c "$deb" >"$work/deb.list"
  grep -q '\./usr/bin/launcher$' "$work/deb.list" || fail "the package lacks /usr/bin/launcher"
  grep -q '\./usr/share/man/man1/launcher.1' "$work/deb.list" || fail "the package lacks the manual page"
  depends=$(dpkg-deb -f "$deb" Depends)
  grep -q 'libc6' <<<"$depends" && grep -q 'libstdc++6' <<<"$depends" || fail "Depends: $depends"
fi
echo "install test passed"
