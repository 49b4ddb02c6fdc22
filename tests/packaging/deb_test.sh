#!/usr/bin/env bash
# deb_test.sh BUILD_DIR README: builds the .deb from BUILD_DIR into a scratch
# folder, installs it with dpkg --root into a scratch root, and checks that
# every path of the README's "The packages" table (the .deb column) is there,
# that every file of the package is one the table names, and that removing
# the package leaves no file of it behind.
set -euo pipefail
build=$1 readme=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null 2>&1)
deb=$(ls "$scratch"/out/ark_*.deb)
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The scratch root has none of the libraries the package depends on.
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
  { cat "$scratch/dpkg.log"; exit 1; }

# The .deb column: backquoted paths beginning with / in the table rows
# between "### 1. The packages" and the next heading.
mapfile -t said < <(awk '/^### 1. The packages/{on=1; next} on && /^#/{exit} on && /^\|/' "$readme" |
  awk -F'|' '{print $3}' | grep -o '`/[^`]*`' | tr -d '`')
[ ${#said[@]} -gt 5 ] || { echo "README: no Packages table with .deb paths"; exit 1; }
fail=0
for path in "${said[@]}"; do
  [ -e "$root$path" ] || { echo "README names $path; the package did not install it"; fail=1; }
done
while read -r file; do
  covered=0
  for path in "${said[@]}"; do
    case "$file" in "$path" | "${path%/}"/*) covered=1 ;; esac
  done
  [ $covered = 1 ] || { echo "the package installs $file; the README does not say so"; fail=1; }
done < <(dpkg --root="$root" -L ark | while read -r p; do [ -f "$root$p" ] && echo "$p"; done)

dpkg --root="$root" --force-not-root --log=/dev/null -r ark >/dev/null
left=$(find "$root" -type f -not -path "$root/var/*")
[ -z "$left" ] || { echo "left after removal: $left"; fail=1; }
[ $fail = 0 ] && echo "the package installs where the README says, and goes away whole"
exit $fail
