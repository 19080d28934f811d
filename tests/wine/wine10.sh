#!/usr/bin/env bash
# Wine 10 as shops on Debian 13 have it, for the Windows builds' tests: the
# 32-bit Wine that runs the i686 build (through qemu-i386: this machine's
# kernel runs no 32-bit code) and the 64-bit one, in a Debian 13 chroot kept
# in a cache folder outside the repository.
#
#   wine10.sh setup
#       Makes the chroot and a Wine prefix for each architecture, or reuses
#       them. They are made again when the functions below that make them
#       change (a hash of their text is kept beside them).
#   wine10.sh win32|win64 PROGRAM [ARG...]
#       Runs a Windows program under that Wine and exits with its status.
#       PROGRAM may also be `wineserver` (with its options) or a Wine builtin
#       such as `reg`. The environment is passed on (DISPLAY, WINEDEBUG...);
#       WINEPREFIX and WINEARCH are this script's own.
#   wine10.sh start | stop
#       Keeps one namespace, with both Wine servers and their services, alive
#       between programs (a 32-bit program then starts in about 3 s rather
#       than 12), or ends it. Programs run while it is alive run inside it;
#       `wineserver -w` would wait for it: stop it first.
#
# How 32-bit code runs: every program runs inside
# `unshare --user --map-root-user --mount --pid`. There binfmt_misc is mounted
# on a folder of its own (an instance that belongs to that user namespace
# alone) and the i386 ELF header is registered with flag F, which opens the
# chroot's qemu-i386-static once, at registration, so that it serves inside
# the chroot too. Then /proc, /dev, /tmp and the shared folders (the
# repository, TMPDIR and the colon-separated list in SA_WINE10_BINDS) are
# mounted into the chroot at their own paths, and the program starts there.
# Nothing changes outside the namespace.
#
# Needs Linux 6.7 or newer (binfmt_misc per user namespace), the debootstrap
# package and the Debian mirror apt uses here (or SA_WINE10_MIRROR).
set -euo pipefail

script=$(readlink -f "${BASH_SOURCE[0]}")
repository=$(cd "${script%/*}/../.." && pwd)
cache=${SA_WINE10_CACHE:-/var/cache/sales-archiver/trixie-wine}
root=$cache/root
binfmt=$cache/binfmt
session_pid_file=$cache/session.pid

# The 32-bit Wine with the ODBC driver manager and the SQLite3 ODBC driver it
# reaches the live database through, the same for 64 bits, qemu for i386, and
# what Wine's window driver needs to draw on an X display.
chroot_packages=(qemu-user-static odbcinst
  wine32:i386 libodbc2:i386 libsqliteodbc:i386 libfreetype6:i386
  libx11-6:i386 libxext6:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
  libxcomposite1:i386 libxfixes3:i386 libxinerama1:i386 libfontconfig1:i386
  wine64 libodbc2 libsqliteodbc libfreetype6
  libx11-6 libxext6 libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxfixes3
  libxinerama1 libfontconfig1)

# The mirror of the host's own Debian sources (deb822 or one-line form).
debian_mirror() {
  if [ -n "${SA_WINE10_MIRROR:-}" ]; then
    echo "$SA_WINE10_MIRROR"
    return
  fi
  local uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    2>/dev/null | grep -oE '(https?|file)://[^ ]*/debian/?( |$)' | head -1 | tr -d ' ')
  echo "${uri:-http://deb.debian.org/debian}"
}

make_chroot() {
  local target=$1
  # debootstrap mounts /proc and /sys in the target: in a mount namespace of
  # its own, none of that outlives it, even when it is interrupted.
  unshare --mount --pid --fork debootstrap --variant=minbase trixie "$target" "$(debian_mirror)"
  cp /etc/resolv.conf "$target/etc/resolv.conf"
  unshare --mount --pid --fork chroot "$target" /bin/sh -ec '
    mount -t proc proc /proc
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update
    apt-get install -y --no-install-recommends "$@"
    apt-get clean
    rm -rf /var/lib/apt/lists/*
    umount /proc' sh "${chroot_packages[@]}"
  # qemu for the other CPUs is never used: about 300 MB.
  find "$target/usr/bin" -maxdepth 1 -name 'qemu-*' ! -name 'qemu-i386*' -delete
  mkdir -p "$target/var/lib/sa-wine" "$target/run/user/0"
}

# Both prefixes, made once: `wineboot -i` with its standard streams on
# /dev/null, since the services it leaves running would hold a caller's pipes
# open. Mono and Gecko are not wanted (the program needs neither).
make_prefixes() {
  local arch
  for arch in win32 win64; do
    WINEDLLOVERRIDES='mscoree,mshtml=' "$script" "$arch" wineboot -i </dev/null >/dev/null 2>&1
    [ -f "$root/var/lib/sa-wine/$arch/system.reg" ] || {
      echo "wine10.sh: wineboot did not make the $arch prefix" >&2
      return 1
    }
  done
}

setup_stamp() {
  {
    declare -f debian_mirror make_chroot make_prefixes
    printf '%s\n' "${chroot_packages[@]}"
  } | sha256sum | cut -d' ' -f1
}

setup() {
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  local stamp
  stamp=$(setup_stamp)
  if [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$stamp" ] && [ -d "$root" ]; then
    echo "wine10.sh: reusing $root"
    return
  fi
  stop_session
  echo "wine10.sh: making the Debian 13 chroot in $root"
  rm -rf "$cache/stamp" "$root" "$root.new"
  local started=$SECONDS
  make_chroot "$root.new"
  mv "$root.new" "$root"
  mkdir -p "$binfmt"
  echo "wine10.sh: chroot made in $((SECONDS - started)) s; making the Wine prefixes"
  make_prefixes
  echo "$stamp" >"$cache/stamp"
  echo "wine10.sh: ready in $((SECONDS - started)) s ($(du -sh "$root" | cut -f1))"
}

# The folders bound into the chroot at their own paths, one a line.
shared_folders() {
  local shared folder
  IFS=: read -ra shared <<<"/tmp:$repository:${TMPDIR:-}:${SA_WINE10_BINDS:-}"
  for folder in "${shared[@]}"; do
    [ -n "$folder" ] && [ -d "$folder" ] && readlink -f "$folder"
  done
  return 0
}

# Inside the namespace, as its first process: mounts, registration, then the
# command (a program in the chroot, or the session's wait).
inside() {
  mount -t binfmt_misc binfmt_misc "$binfmt"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$root"'/usr/bin/qemu-i386-static:F' \
    >"$binfmt/register"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --rbind /sys "$root/sys"
  local folder
  while read -r folder; do
    mkdir -p "$root$folder"
    mount --rbind "$folder" "$root$folder"
  done < <(shared_folders)
  "$@"
}

# The command line that runs PROGRAM in the chroot under Wine for ARCH.
in_chroot() {
  local arch=$1 program=$2
  shift 2
  local loader=/usr/lib/wine/wine
  [ "$arch" = win64 ] && loader=/usr/lib/wine/wine64
  if [ "$program" = wineserver ]; then loader=/usr/lib/wine/wineserver; fi
  [ "$program" = wineserver ] && [ "$arch" = win32 ] && [ -x "$root/usr/lib/wine/wineserver32" ] &&
    loader=/usr/lib/wine/wineserver32
  [ "$program" = wineserver ] && program=
  local workdir=/
  [ -d "$root$PWD" ] && workdir=$PWD
  ${in_chroot_exec:-} chroot "$root" /usr/bin/env -C "$workdir" PATH=/usr/bin:/bin HOME=/root XDG_RUNTIME_DIR=/run/user/0 \
    WINEARCH="$arch" WINEPREFIX="/var/lib/sa-wine/$arch" $loader ${program:+"$program"} "$@"
}

# One program, in a namespace of its own when no session is alive; then the
# program's Wine server is waited for, so that what it keeps (the registry)
# is written before the namespace ends and takes every process with it.
# Ending this process (TERM, INT, HUP) ends the program too, as it would end
# Wine itself. (unshare holds those signals back: it gets KILL, and
# --kill-child passes it on to the namespace.)
run_program() {
  local arch=$1
  case $arch in win32 | win64) ;; *) echo "wine10.sh: win32 or win64, not $arch" >&2; exit 2 ;; esac
  # A program named by a relative path is found from here.
  if [ $# -ge 2 ] && [ -f "$2" ]; then set -- "$1" "$(readlink -f "$2")" "${@:3}"; fi
  local pid
  if pid=$(session_pid); then
    exec nsenter --target "$pid" --user --mount --pid --preserve-credentials -- \
      setpriv --pdeathsig KILL -- "$script" __in_chroot "$@"
  elif session_init >/dev/null; then
    echo "wine10.sh: a session sharing other folders is running; end it with: $script stop" >&2
    exit 2
  fi
  # One program's namespace at a time per prefix: a second one would reach the
  # first one's Wine server through /tmp from a process namespace it cannot
  # see. The lock goes when the namespace does.
  exec 4>"$cache/$arch.lock"
  flock 4
  # A background job's standard input is /dev/null unless given: ours, when
  # there is one.
  { exec 3<&0; } 2>/dev/null || exec 3</dev/null
  unshare --user --map-root-user --mount --pid --fork --kill-child "$script" __inside \
    "$script" __one_program "$@" <&3 3<&- &
  local child=$! status
  trap 'kill -KILL "$child" 2>/dev/null' TERM INT HUP
  while :; do
    status=0
    wait "$child" || status=$?
    kill -0 "$child" 2>/dev/null || break
  done
  exit "$status"
}

# The server and its services are started first, their streams on /dev/null:
# started by the program they would hold its streams open, and what they say
# as the namespace ends would mix with what it says.
one_program() {
  local status=0
  if [ "$2" != wineserver ]; then
    WINEDLLOVERRIDES='mscoree,mshtml=' in_chroot "$1" wineboot </dev/null >/dev/null 2>&1 || true
  fi
  in_chroot "$@" || status=$?
  in_chroot "$1" wineserver -w </dev/null >/dev/null 2>&1 || true
  return $status
}

# The session's first process, seen from outside; none when it is gone.
session_init() {
  local holder child
  holder=$(cat "$session_pid_file" 2>/dev/null) || return 1
  child=$(cat "/proc/$holder/task/$holder/children" 2>/dev/null) || return 1
  child=${child%% *}
  [ -n "$child" ] && grep -q '__hold' "/proc/$child/cmdline" 2>/dev/null || return 1
  echo "$child"
}

# The same, only for a session that shares the folders this one would (not
# one left by another checkout).
session_pid() {
  [ "$(shared_folders)" = "$(cat "$cache/session.folders" 2>/dev/null)" ] && session_init
}

hold() {
  # Programs started before the session end first.
  exec 5>"$cache/win32.lock" 6>"$cache/win64.lock"
  flock 5
  flock 6
  # Persistent servers: the services stay up between programs.
  local arch
  for arch in win32 win64; do
    in_chroot "$arch" wineserver -p </dev/null >/dev/null 2>&1
    WINEDLLOVERRIDES='mscoree,mshtml=' in_chroot "$arch" wineboot </dev/null >/dev/null 2>&1
  done
  echo ready >"$cache/session.ready"
  while :; do
    sleep 3600 &
    wait $! || true
  done
}

start_session() {
  stop_session
  rm -f "$cache/session.ready"
  shared_folders >"$cache/session.folders"
  setsid unshare --user --map-root-user --mount --pid --fork --kill-child "$script" __inside \
    "$script" __hold </dev/null >/dev/null 2>&1 &
  echo $! >"$session_pid_file"
  local waited=0
  until [ -f "$cache/session.ready" ]; do
    if ! kill -0 "$(cat "$session_pid_file")" 2>/dev/null || [ $waited -ge 600 ]; then
      echo "wine10.sh: the session did not start" >&2
      return 1
    fi
    sleep 1
    waited=$((waited + 1))
  done
}

stop_session() {
  local pid holder
  pid=$(session_init) || {
    rm -f "$session_pid_file"
    return 0
  }
  holder=$(cat "$session_pid_file")
  # The servers write the registry as they end.
  local arch
  for arch in win32 win64; do
    nsenter --target "$pid" --user --mount --pid --preserve-credentials -- \
      "$script" __in_chroot "$arch" wineserver -k </dev/null >/dev/null 2>&1 || true
    nsenter --target "$pid" --user --mount --pid --preserve-credentials -- \
      "$script" __in_chroot "$arch" wineserver -w </dev/null >/dev/null 2>&1 || true
  done
  kill -KILL "$holder" 2>/dev/null || true
  while kill -0 "$holder" 2>/dev/null; do sleep 0.1; done
  rm -f "$session_pid_file" "$cache/session.ready"
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
  setup) setup ;;
  start) start_session ;;
  stop) stop_session ;;
  win32 | win64) run_program "$command" "$@" ;;
  __inside) inside "$@" ;;
  __one_program) one_program "$@" ;;
  __hold) hold ;;
  __in_chroot)
    # The program replaces this shell, so that it inherits the death signal
    # set by the caller and ends when the caller is ended.
    in_chroot_exec=exec
    in_chroot "$@"
    ;;
  *)
    echo "usage: $0 setup | start | stop | win32|win64 PROGRAM [ARG...]" >&2
    exit 2
    ;;
esac
