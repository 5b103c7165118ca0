#!/usr/bin/env bash
# The Debian mirror that tools/enable-ia32.sh takes from a machine's apt sources: each case
# writes an apt folder, asks the script for its sources line and compares.
#   apt_sources_test.sh <path to enable-ia32.sh>
set -uo pipefail
script=${1:?usage: apt_sources_test.sh <enable-ia32.sh>}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
# The made-up mirrors' schemes, kept apart from their hosts so that no line of this file
# reads as an address to fetch from.
http=http:
https=https:

# new_case NAME: a fresh apt folder in $apt, a fresh key folder in $keys.
new_case() {
  name=$1
  apt=$root/$name/apt
  keys=$root/$name/keys
  mkdir -p "$apt/sources.list.d" "$keys"
}
# put FILE: the file's text from stdin, FILE relative to the apt folder.
put() { cat >"$apt/$1"; }

# expect LINE: the script prints exactly LINE and succeeds.
expect() {
  local out rc
  out=$("$script" --sources-line "$apt" "$keys" 2>"$root/$name/err")
  rc=$?
  if [ $rc -ne 0 ] || [ "$out" != "$1" ]; then
    echo "FAIL $name: exit $rc"
    echo "  expected: $1"
    echo "  got:      $out"
    sed 's/^/  stderr:   /' "$root/$name/err"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}
# expect_failure: the script fails, prints nothing on stdout and says why on stderr.
expect_failure() {
  local out rc
  out=$("$script" --sources-line "$apt" "$keys" 2>"$root/$name/err")
  rc=$?
  if [ $rc -eq 0 ] || [ -n "$out" ] || ! grep -q "^enable-ia32: no " "$root/$name/err"; then
    echo "FAIL $name: exit $rc, expected a failure with a message"
    echo "  stdout: $out"
    sed 's/^/  stderr: /' "$root/$name/err"
    failures=$((failures + 1))
  else
    echo "ok   $name (fails: $(cat "$root/$name/err"))"
  fi
}

new_case deb822-main-updates-security
put sources.list.d/debian.sources <<EOF
Types: deb
# $http//snapshot.example.org/archive/debian/20250501T000000Z
URIs: $http//mirror.example.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: $keyring

Types: deb
URIs: $http//mirror.example.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: $keyring
EOF
expect "deb [signed-by=$keyring] $http//mirror.example.org/debian trixie main"

new_case deb822-security-first-then-main
put sources.list.d/debian.sources <<EOF
Types: deb
URIs: $http//security.example.org/debian-security
Suites: bookworm-security
Components: main contrib
Signed-By: $keyring

Types: deb
URIs: $http//mirror.example.org/debian
Suites: bookworm-updates
Components: main
Signed-By: $keyring

Types: deb
URIs: $http//ftp.example.net/debian/
Suites: bookworm
Components: contrib main non-free-firmware
Signed-By: $keyring
EOF
expect "deb [signed-by=$keyring] $http//ftp.example.net/debian/ trixie main"

new_case deb822-disabled-and-source-only-stanzas
put sources.list.d/debian.sources <<EOF
# The old mirror, kept for reference.
Types: deb
URIs: $http//disabled.example.org/debian
Suites: bookworm
Components: main
Signed-By: $keyring
Enabled: no

Types: deb-src
URIs: $http//sources.example.org/debian
Suites: bookworm
Components: main
Signed-By: $keyring

types: deb deb-src
uris: $http//mirror.example.org/debian
# comments may sit inside a stanza
suites: bookworm
components: main
signed-by: $keyring
enabled: yes
EOF
expect "deb [signed-by=$keyring] $http//mirror.example.org/debian trixie main"

new_case deb822-several-uris-architectures-trusted
put sources.list.d/debian.sources <<EOF
Types: deb
URIs: $http//one.example.org/debian
  $http//two.example.org/debian
Suites: stable
Components: main
Architectures: amd64 i386
Trusted: yes
EOF
expect "deb [trusted=yes] $http//one.example.org/debian trixie main"

new_case deb822-inline-key
put sources.list.d/debian.sources <<EOF
Types: deb
URIs: $http//mirror.example.org/debian
Suites: bookworm
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 bWFkZSB1cCBrZXkgbWF0ZXJpYWw=
 =abcd
 -----END PGP PUBLIC KEY BLOCK-----
EOF
expect "deb [signed-by=$root/deb822-inline-key/keys/archive-key.asc] $http//mirror.example.org/debian trixie main"
printf '%s\n' "-----BEGIN PGP PUBLIC KEY BLOCK-----" "" "bWFkZSB1cCBrZXkgbWF0ZXJpYWw=" \
  "=abcd" "-----END PGP PUBLIC KEY BLOCK-----" >"$root/expected-key"
if ! cmp -s "$root/expected-key" "$keys/archive-key.asc"; then
  echo "FAIL deb822-inline-key: the key file differs"
  diff "$root/expected-key" "$keys/archive-key.asc" | sed 's/^/  /'
  failures=$((failures + 1))
fi

new_case one-line-options-comments
put sources.list <<EOF
# deb [signed-by=$keyring] $http//commented.example.org/debian bookworm main
deb-src [signed-by=$keyring] $http//sources.example.org/debian bookworm main
deb [signed-by=$keyring] $http//contrib.example.org/debian bookworm contrib # no main here
deb $http//security.example.org/debian-security bookworm-security main
deb $http//security.example.org/debian-security bookworm/updates main
deb [arch=amd64,i386 signed-by=$keyring] $http//mirror.example.org/debian/ bookworm main contrib # the mirror
EOF
expect "deb [signed-by=$keyring] $http//mirror.example.org/debian/ trixie main"

new_case one-line-spaced-options
put sources.list <<EOF
  deb [ arch=amd64 trusted=yes ] $http//mirror.example.org/debian bullseye contrib main
EOF
expect "deb [trusted=yes] $http//mirror.example.org/debian trixie main"

new_case one-line-no-options-no-main-first
put sources.list <<EOF
deb $http//mirror.example.org/debian bookworm contrib non-free
deb $http//plain.example.org/debian bookworm main
EOF
expect "deb $http//plain.example.org/debian trixie main"

# A vendor's archive for the same release, read first, gives way to the Debian keyring's.
new_case vendor-archive-before-debian
put sources.list.d/a-vendor.list <<EOF
deb [signed-by=/usr/share/keyrings/vendor-archive.gpg] $https//packages.example.com/vendor/debian bookworm main
EOF
put sources.list.d/debian.sources <<EOF
Types: deb
URIs: $http//mirror.example.org/debian
Suites: bookworm
Components: main
Signed-By: $keyring
EOF
expect "deb [signed-by=$keyring] $http//mirror.example.org/debian trixie main"

# Neither signed by the Debian keyring: the one whose path ends in /debian.
new_case debian-path-before-other-path
put sources.list <<EOF
deb $http//apt.example.com/repo bookworm main
EOF
put sources.list.d/debian.list <<EOF
deb $http//mirror.example.org/pub/debian bookworm main
EOF
expect "deb $http//mirror.example.org/pub/debian trixie main"

# Files apt does not read: other extensions.
new_case files-apt-ignores
put sources.list.d/debian.list.disabled <<EOF
deb $http//ignored.example.org/debian bookworm main
EOF
put sources.list.d/debian.sources.save <<EOF
Types: deb
URIs: $http//ignored.example.org/debian
Suites: bookworm
Components: main
EOF
put sources.list.d/debian.list <<EOF
deb $http//mirror.example.org/debian sid main
EOF
expect "deb $http//mirror.example.org/debian trixie main"

new_case only-security-updates-backports
put sources.list <<EOF
deb $http//security.example.org/debian-security bookworm-security main
deb $http//mirror.example.org/debian bookworm-updates main
EOF
put sources.list.d/backports.sources <<EOF
Types: deb
URIs: $http//mirror.example.org/debian
Suites: bookworm-backports
Components: main
EOF
expect_failure

new_case only-disabled-and-other-distributions
put sources.list.d/debian.sources <<EOF
Types: deb
URIs: $http//mirror.example.org/debian
Suites: bookworm
Components: main
Enabled: no
EOF
put sources.list.d/other.list <<EOF
deb $http//archive.example.com/ubuntu jammy main
deb [signed-by=/usr/share/keyrings/nodesource.gpg] $https//node.example.com/node_20.x nodistro main
EOF
expect_failure

new_case no-sources-at-all
expect_failure

echo "$failures failed"
[ $failures -eq 0 ]
