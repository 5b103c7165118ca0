#!/usr/bin/env bash
# Makes 32-bit Linux programs (Wine's i386 loader and wineserver) run on this machine.
# Idempotent, and returns at once where they already do.
#
#   enable-ia32.sh                                   as root
#   enable-ia32.sh --sources-line APT_DIR [KEY_DIR]  only print the sources line it would use
#                                                    with APT_DIR in place of /etc/apt
#
# Some kernels here boot with ia32 emulation off ("32-bit emulation disabled" in dmesg):
# every 32-bit ELF then fails with "Exec format error". We register qemu's i386 user-mode
# emulator for such binaries through binfmt_misc. Debian 12's qemu (7.2) treats Wine's
# MAP_FIXED_NOREPLACE probes as plain hints and scans the address space on each one, so a
# single Wine process needs about a minute; the qemu of Debian 13 maps as the kernel does
# and starts one in a few tenths of a second. Its qemu-user package is statically linked,
# so we take the one binary out of it and leave the system's packages alone. It comes from
# the Debian mirror this machine's apt already uses, with the same keys.
set -euo pipefail

qemu=/opt/kw-qemu/qemu-i386
entry=/proc/sys/fs/binfmt_misc/kw-i386
suite=trixie

# Prints "deb [signing options] URI <suite> main" for the Debian archive among the apt sources
# under $1 (sources.list, sources.list.d/*.list one-line entries, sources.list.d/*.sources
# deb822 stanzas), in apt's reading order. The archive is an enabled "deb" entry with a
# Debian release as suite (security, updates and backports suites are other archives) and
# the main component; where several qualify, one signed by the Debian archive keyring, then
# one whose path ends in /debian, goes first. Only the signing options are kept. A key
# given inline in a stanza's Signed-By is written to $2/archive-key.asc. Fails, with a
# message, when there is no such entry.
archive_sources_line() {
  local dir=$1 keys=${2:-} files=() f
  [ -f "$dir/sources.list" ] && files+=("$dir/sources.list")
  for f in "$dir"/sources.list.d/*; do
    case $f in *.list | *.sources) [ -f "$f" ] && files+=("$f") ;; esac
  done
  if [ ${#files[@]} -eq 0 ]; then
    echo "enable-ia32: no apt sources in $dir" >&2
    return 1
  fi
  awk -v suite="$suite" -v keys="$keys" -v dir="$dir" '
    function debian_release(s) {
      return s ~ /^(buzz|rex|bo|hamm|slink|potato|woody|sarge|etch|lenny|squeeze|wheezy|jessie|stretch|buster|bullseye|bookworm|trixie|forky|duke|sid|oldoldstable|oldstable|stable|testing|unstable|experimental)$/
    }
    function has(list, word,   n, i, a) {
      n = split(list, a, /[ \t,]+/)
      for (i = 1; i <= n; i++) if (a[i] == word) return 1
      return 0
    }
    function any_release(list,   n, i, a) {
      n = split(list, a, /[ \t]+/)
      for (i = 1; i <= n; i++) if (debian_release(a[i])) return 1
      return 0
    }
    function first(list,   a) { split(list, a, /[ \t]+/); return a[1] }
    # One candidate: space-separated types, URIs, suites, components; signing options in
    # one-line form; an inline key or "".
    function consider(types, uris, suites, comps, signing, key,   score, uri) {
      sub(/^[ \t]+/, "", uris)
      if (!has(types, "deb") || !has(comps, "main") || !any_release(suites) || uris == "") return
      uri = first(uris)
      score = (signing ~ /debian-archive-keyring/) * 2 + (uri ~ /\/debian\/?$/)
      if (best_uri == "" || score > best_score) {
        best_uri = uri; best_score = score; best_signing = signing; best_key = key
      }
    }
    function yes(v) { return tolower(v) !~ /^(no|false|off|without|disable)$/ }

    # One-line entries: type [options] uri suite components...
    function one_line(line,   n, t, i, opts, o, signing, name, t2, j, k, comps) {
      sub(/#.*/, "", line)
      n = split(line, t, /[ \t]+/)
      i = 1
      if (t[i] == "") i++
      if (t[i] != "deb") return
      i++
      signing = ""
      if (substr(t[i], 1, 1) == "[") {
        opts = ""
        for (; i <= n; i++) {
          opts = opts " " t[i]
          if (t[i] ~ /\]$/) { i++; break }
        }
        gsub(/[][]/, " ", opts)
        o = split(opts, t2, /[ \t]+/)
        for (j = 1; j <= o; j++) {
          name = t2[j]; sub(/[-+]?=.*/, "", name)
          if (name ~ /^(signed-by|trusted|allow-insecure|allow-weak|allow-downgrade-to-insecure)$/)
            signing = signing (signing == "" ? "" : " ") t2[j]
        }
      }
      if (i + 1 > n) return
      comps = ""
      for (k = i + 2; k <= n; k++) comps = comps " " t[k]
      consider("deb", t[i], t[i + 1], comps, signing, "")
    }

    # deb822 stanzas, gathered field by field.
    function stanza_reset() { split("", field); last = "" }
    function stanza_end(   signing, key, sb, opt, n, i, a) {
      if (!("types" in field)) { stanza_reset(); return }
      if (("enabled" in field) && !yes(field["enabled"])) { stanza_reset(); return }
      signing = ""; key = ""
      sb = field["signed-by"]
      if (sb ~ /BEGIN PGP PUBLIC KEY BLOCK/) key = sb
      else if (sb != "") {
        gsub(/^[ \t\n]+|[ \t\n]+$/, "", sb)
        gsub(/[ \t\n]+/, ",", sb)
        signing = "signed-by=" sb
      }
      n = split("trusted allow-insecure allow-weak allow-downgrade-to-insecure", a, " ")
      for (i = 1; i <= n; i++)
        if (a[i] in field) {
          opt = field[a[i]]; gsub(/[ \t]/, "", opt)
          signing = signing (signing == "" ? "" : " ") a[i] "=" opt
        }
      gsub(/\n/, " ", field["uris"])
      gsub(/\n/, " ", field["suites"])
      gsub(/\n/, " ", field["components"])
      consider(field["types"], field["uris"], field["suites"], field["components"], signing, key)
      stanza_reset()
    }

    FNR == 1 {
      if (deb822) stanza_end()
      deb822 = FILENAME ~ /\.sources$/
      stanza_reset()
    }
    !deb822 { one_line($0); next }
    /^#/ { next }
    /^[ \t]*$/ { stanza_end(); next }
    /^[ \t]/ {
      if (last != "") { v = $0; sub(/^[ \t]/, "", v); if (v == ".") v = ""; field[last] = field[last] "\n" v }
      next
    }
    {
      name = $0; sub(/:.*/, "", name)
      v = $0; sub(/^[^:]*:[ \t]*/, "", v); sub(/[ \t]+$/, "", v)
      last = tolower(name); field[last] = v
    }
    END {
      if (deb822) stanza_end()
      if (best_uri == "") {
        print "enable-ia32: no Debian archive entry (an enabled deb entry for a Debian release with main) among the apt sources in " dir >"/dev/stderr"
        exit 1
      }
      if (best_key != "") {
        if (keys == "") {
          print "enable-ia32: the Debian archive entry in " dir " carries its key inline; no folder given for it" >"/dev/stderr"
          exit 1
        }
        keyfile = keys "/archive-key.asc"
        sub(/^\n/, "", best_key)
        printf "%s\n", best_key >keyfile
        close(keyfile)
        best_signing = "signed-by=" keyfile (best_signing == "" ? "" : " " best_signing)
      }
      print "deb " (best_signing == "" ? "" : "[" best_signing "] ") best_uri " " suite " main"
    }
  ' "${files[@]}"
}

if [ "${1:-}" = --sources-line ]; then
  [ $# -ge 2 ] || { echo "usage: enable-ia32.sh --sources-line APT_DIR [KEY_DIR]" >&2; exit 2; }
  archive_sources_line "$2" "${3:-}"
  exit
fi

works() { /lib/ld-linux.so.2 --help >/dev/null 2>&1; }
ours() { [ -e "$entry" ] && grep -qx "interpreter $qemu" "$entry"; }

# Native support, or our emulator already registered.
if works && { [ ! -e "$entry" ] || ours; }; then exit 0; fi
[ -x /lib/ld-linux.so.2 ] || { echo "enable-ia32: libc6:i386 is not installed" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "enable-ia32: needs root (binfmt_misc)" >&2; exit 1; }

if [ ! -x "$qemu" ]; then
  echo "enable-ia32: fetching qemu-i386 from Debian $suite's qemu-user"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/archives/partial"
  line=$(archive_sources_line /etc/apt "$work")
  echo "$line" >"$work/sources.list"
  apt_opts=(-o "Dir::Etc::sourcelist=$work/sources.list" -o Dir::Etc::sourceparts=-
            -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::archives=$work/archives"
            -o APT::Sandbox::User=root -o Debug::NoLocking=1)
  apt-get -qq "${apt_opts[@]}" update
  (cd "$work" && apt-get -qq "${apt_opts[@]}" download qemu-user)
  mkdir -p "$(dirname "$qemu")"
  dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$qemu.new"
  chmod 755 "$qemu.new"
  mv "$qemu.new" "$qemu"
fi

mountpoint -q /proc/sys/fs/binfmt_misc ||
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
[ -e "$entry" ] && echo -1 >"$entry"
# i386 ELF executables and shared objects; F opens the emulator now, so it also serves
# programs in other mount namespaces.
echo ":kw-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" \
  >/proc/sys/fs/binfmt_misc/register
works || { echo "enable-ia32: 32-bit programs still do not run" >&2; exit 1; }
echo "enable-ia32: 32-bit programs run through $qemu"
