#!/usr/bin/env bash
# The install and the Debian package of a build directory: the files a user gets (manual
# pages, licence, changelog) are there, and lintian finds no error in the package.
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/quillon-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/root" >/dev/null
for f in bin/quillon bin/quillon-cli bin/quillon-emu libexec/quillon/quillon-decoder \
         libexec/quillon/quillon-cli-full \
         share/man/man1/quillon.1.gz \
         share/man/man1/quillon-cli.1.gz share/man/man1/quillon-emu.1.gz \
         share/doc/quillon/copyright share/doc/quillon/changelog.gz \
         share/icons/hicolor/48x48/apps/quillon.png; do
    [ -s "$work/root/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
grep -q "GPL-3+" "$work/root/share/doc/quillon/copyright"
# The manual page of quillon-cli lists every command its help lists.
commands=$("$work/root/bin/quillon-cli" --help | sed -n '/^Commands:/,/^$/p' | awk '/^  [a-z]/ {print $1}')
[ -n "$commands" ] || { echo "quillon-cli --help lists no commands" >&2; exit 1; }
for command in $commands; do
    zcat "$work/root/share/man/man1/quillon-cli.1.gz" | grep -qx "$command" ||
        { echo "man quillon-cli does not list $command" >&2; exit 1; }
done
# Every local link of the installed README leads to an installed file.
doc="$work/root/share/doc/quillon"
grep -o '](\([^)#:]*\))' "$doc/README.md" | sed 's/^](//; s/)$//' | sort -u | while read -r target; do
    [ -e "$doc/$target" ] || { echo "README links $target, which is not installed" >&2; exit 1; }
done

if ! command -v lintian >/dev/null; then
    echo "lintian is not installed (scripts/install-deps.sh): package not checked" >&2
    exit 0
fi
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
lintian --fail-on error "$work"/deb/*.deb
