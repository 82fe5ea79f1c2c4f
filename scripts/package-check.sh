#!/usr/bin/env bash
# Builds the Debian packages (scripts/dev.sh package), installs them with apt-get, tries what they
# installed: the sample server started by hand on a free port (CI has no systemd), norvsql against
# it when the package has it, the windowed programs started headless, and examples/console built
# against the installed libnorv-dev alone and run against the server. Then removes the packages and
# checks that none of their files is left. Whatever happens, the packages and any dependency apt
# pulled in for them are removed again on exit. Needs root, or sudo without a password; skips
# otherwise. Run by CI after the examples.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
packages=(libnorv-dev norv-tools norv-sampleserver)

fail() { echo "package-check.sh: $*" >&2; exit 1; }

if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  sudo=(sudo -n)
else
  echo "package-check.sh: skipped: installing packages needs root or sudo without a password" >&2
  exit 0
fi
apt_get() { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@"; }

# A machine that already has our packages is not ours to change.
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'installed$'; then
    fail "$p is already installed; remove it first (apt-get remove ${packages[*]})"
  fi
done

"$top/scripts/dev.sh" package
debs=("$top"/build/packages/*.deb)
[[ ${#debs[@]} -eq 3 ]] || fail "expected 3 packages in build/packages, found ${#debs[@]}"

work=$(mktemp -d)
installed=0
server_pid=""
installed_before=$work/installed-before
dpkg-query -W -f='${Package}\n' | sort >"$installed_before"

# Removes our packages and whatever apt installed for them, so that a failure part-way leaves the
# machine as it was.
remove_packages() {
  [[ $installed -eq 1 ]] || return 0
  apt_get remove "${packages[@]}" >/dev/null
  installed=0
  local added
  added=$(comm -13 "$installed_before" <(dpkg-query -W -f='${Package} ${Status}\n' |
    awk '$NF == "installed" { print $1 }' | sort))
  if [[ -n $added ]]; then
    echo "package-check.sh: removing what the packages pulled in: $added" >&2
    # shellcheck disable=SC2086  # one word per package
    apt_get remove $added >/dev/null
  fi
}

cleanup() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null || true
  fi
  remove_packages || echo "package-check.sh: removing the packages failed: check dpkg -l 'norv*' 'libnorv*'" >&2
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every file the packages install, to check after removal that none is left.
for deb in "${debs[@]}"; do
  dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|'
done >"$work/files"

installed=1
apt_get install "${debs[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" | grep -q 'install ok installed$' || fail "$p did not install"
done
echo "package-check.sh: installed ${packages[*]}"

for program in /usr/bin/norvdemo /usr/bin/norvmonitor /usr/bin/sampleserver; do
  [[ -x $program ]] || fail "$program is not installed"
  ! ldd "$program" | grep 'not found' || fail "$program needs a library its package does not depend on"
done
[[ -f /usr/lib/systemd/system/norv-sampleserver.service ]] || fail "the systemd unit is not installed"
[[ ! -e /etc/systemd/system/multi-user.target.wants/norv-sampleserver.service ]] ||
  fail "installing norv-sampleserver enabled its unit"

# The installed sample server, by hand, on a free port with a data folder of its own.
mkdir -p "$work/data/INI"
/usr/bin/sampleserver --port 0 --data "$work/data" >"$work/server.log" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 1 300); do
  port=$(sed -n 's/^sampleserver listening on [0-9.]*:\([0-9]*\)$/\1/p' "$work/server.log")
  [[ -n $port ]] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; fail "the installed sample server did not start"; }
  sleep 0.1
done
[[ -n $port ]] || fail "the installed sample server did not report its port"
printf '[SAMPLE]\nquery=TCP,127.0.0.1,%s\n' "$port" >"$work/data/INI/SQL.INI"
export SYBASE=$work/data
echo "package-check.sh: installed sample server listening on 127.0.0.1:$port"

if [[ -x /usr/bin/norvsql ]]; then
  printf 'select count(*) from pubs2..authors\ngo\n' >"$work/count.sql"
  timeout 60 /usr/bin/norvsql -S SAMPLE -U sa -P "" -i "$work/count.sql" </dev/null >"$work/norvsql.out" 2>&1 ||
    { cat "$work/norvsql.out" >&2; fail "the installed norvsql failed"; }
  # One row, 25, whatever the padding.
  if ! sed 's/^[[:space:]]*//; s/[[:space:]]*$//' "$work/norvsql.out" | grep -qx 25 ||
    ! grep -qF '(1 row affected)' "$work/norvsql.out"; then
    cat "$work/norvsql.out" >&2
    fail "the installed norvsql did not count pubs2's 25 authors"
  fi
  echo "package-check.sh: norvsql counted pubs2's 25 authors"
else
  echo "package-check.sh: skipped norvsql: the norv-tools package has no /usr/bin/norvsql yet" >&2
fi

# The windowed programs have no headless mode: each must still be running after a few seconds,
# on the offscreen platform, rather than having failed to start.
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work NORV_MONITOR_SOCKET=norv-package-check-$$
for program in norvdemo norvmonitor; do
  rc=0
  timeout 5 "/usr/bin/$program" >"$work/$program.out" 2>&1 || rc=$?
  [[ $rc -eq 124 ]] || { cat "$work/$program.out" >&2; fail "the installed $program exited early (status $rc)"; }
done
echo "package-check.sh: norvdemo and norvmonitor start headless"

# examples/console against the installed libnorv-dev alone: no prefix hints, no package registry.
if ! env -u CMAKE_PREFIX_PATH cmake -S "$top/examples/console" -B "$work/console" -G Ninja \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/console.log" 2>&1 ||
  ! cmake --build "$work/console" >>"$work/console.log" 2>&1; then
  cat "$work/console.log" >&2
  fail "building examples/console against libnorv-dev failed"
fi
norv_dir=$(sed -n 's/^Norv_DIR:PATH=//p' "$work/console/CMakeCache.txt")
[[ $norv_dir == /usr/lib/cmake/Norv ]] || fail "examples/console found Norv in '$norv_dir', not the package"
NORV_USER=sa NORV_PASSWORD='' "$work/console/norvselect" SAMPLE \
  "select au_lname from pubs2..authors order by au_lname" >"$work/console.out" ||
  fail "examples/console failed against the installed sample server"
[[ $(wc -l <"$work/console.out") -eq 25 && $(head -n 1 "$work/console.out") == Abernathy ]] ||
  { cat "$work/console.out" >&2; fail "examples/console did not list pubs2's 25 authors"; }
echo "package-check.sh: examples/console built against libnorv-dev lists pubs2's 25 authors"

kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=""

remove_packages
left=()
while read -r file; do
  [[ -e $file || -L $file ]] && left+=("$file")
done <"$work/files"
for dir in /usr/include/norv /usr/lib/cmake/Norv; do
  [[ -e $dir ]] && left+=("$dir")
done
[[ ${#left[@]} -eq 0 ]] || fail "left behind after removal: ${left[*]}"
echo "package-check.sh: packages removed, none of their files left"
