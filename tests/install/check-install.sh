#!/bin/sh
# Installs the build into a temporary prefix (building nothing) and checks what a desktop and a Debian system
# expect of it: the files are there, the desktop entry and the AppStream data validate (when the validators are
# installed), the manual pages render without a warning, the manual page and the shell completion know every
# command and option of tunegrove-cli, and every place that shows the version shows the same one.
# Usage: check-install.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > /dev/null
id=org.kestrine.Tunegrove
for file in bin/tunegrove bin/tunegrove-cli share/tunegrove/help/index.html \
            share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
            share/icons/hicolor/scalable/apps/$id.svg \
            share/man/man1/tunegrove.1.gz share/man/man1/tunegrove-cli.1.gz \
            share/bash-completion/completions/tunegrove-cli \
            share/doc/tunegrove/copyright share/doc/tunegrove/changelog.gz; do
  [ -s "$prefix/$file" ] || fail "$file is not installed"
done
[ -x "$prefix/bin/tunegrove" ] && [ -x "$prefix/bin/tunegrove-cli" ] || fail "the programs are not executable"

desktop="$prefix/share/applications/$id.desktop"
grep -qx 'Exec=tunegrove %F' "$desktop" || fail "the desktop entry does not pass files and folders on"
grep -q '^MimeType=inode/directory;audio/mpeg;' "$desktop" || fail "the desktop entry does not open folders and MP3 files"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not the installed one"
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
  echo "note: desktop-file-validate is not installed; the desktop entry was not validated"
fi
if command -v appstreamcli > /dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" > /dev/null || \
    { appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"; fail "appstreamcli validate"; }
else
  echo "note: appstreamcli is not installed; the AppStream data was not validated"
fi

# The manual pages render, and groff has nothing to say about them.
if command -v man > /dev/null; then
  for page in tunegrove tunegrove-cli; do
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$prefix/share/man/man1/$page.1.gz" 2>&1 > /dev/null) || fail "man $page"
    [ -z "$warnings" ] || fail "man $page warns: $warnings"
    MANWIDTH=80 man -l "$prefix/share/man/man1/$page.1.gz" 2> /dev/null | grep -q "EXIT STATUS" || fail "man $page has no exit status"
  done
  rendered=$(MANWIDTH=200 man -l "$prefix/share/man/man1/tunegrove-cli.1.gz" 2> /dev/null)
else
  echo "note: man is not installed; the manual pages were not rendered"
  rendered=$(gzip -dc "$prefix/share/man/man1/tunegrove-cli.1.gz" | sed 's/\\-/-/g')
fi

# Every command and option tunegrove-cli names in its help is in its manual page and its completion.
completion="$prefix/share/bash-completion/completions/tunegrove-cli"
bash -n "$completion" || fail "the completion script does not parse"
usage=$("$prefix/bin/tunegrove-cli" --help)
commands=$(printf '%s\n' "$usage" | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' | sort -u)
[ -n "$commands" ] || fail "no commands found in tunegrove-cli --help"
for command in $commands; do
  printf '%s\n' "$rendered" | grep -q "^ *$command\b" || fail "the manual page lacks the command $command"
  grep -q "\b$command\b" "$completion" || fail "the completion lacks the command $command"
done
for option in $(printf '%s\n' "$usage" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  printf '%s\n' "$rendered" | grep -q -- "$option" || fail "the manual page lacks $option"
  grep -q -- "$option" "$completion" || [ "$option" = --help ] || [ "$option" = --version ] || \
    fail "the completion lacks $option"
done

# One version everywhere.
version=$("$prefix/bin/tunegrove-cli" --version | sed 's/^tunegrove-cli //')
[ -n "$version" ] || fail "tunegrove-cli --version says nothing"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/tunegrove" --version)" = "tunegrove $version" ] || \
  fail "tunegrove --version differs from tunegrove-cli's $version"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" || fail "the AppStream release is not $version"
gzip -dc "$prefix/share/doc/tunegrove/changelog.gz" | head -n 1 | grep -q "^tunegrove ($version)" || fail "the changelog is not at $version"
gzip -dc "$prefix/share/man/man1/tunegrove-cli.1.gz" | grep -q "Tunegrove $version" || fail "the manual page is not at $version"
echo "installed tree of Tunegrove $version: complete"
