#!/usr/bin/env bash
# Builds the Debian package with CPack in build-deb/ and checks it: the man
# pages format without a warning, lintian reports no error or warning.
# With --install-check it then installs the package with dpkg, runs the
# installed programs over loopback, finds the man page, verifies the systemd
# units, builds and runs the example program against the installed library
# (CMake package and pkg-config), and removes the package again.
# Usage: scripts/package.sh [--install-check]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
dir=$root/build-deb
"$root/scripts/install-deps.sh" dpkg-dev lintian groff-base man-db systemd pkg-config
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

for page in "$root"/man/*.1; do
  warnings=$(groff -ww -z -man "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    exit 1
  fi
done
echo "man pages format without warnings"

# Debian's hardening flags, all of them, as a Debian build would use them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$dir" -DCMAKE_INSTALL_PREFIX=/usr -DPULVO_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && rm -f pulvo_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/pulvo_*.deb)
echo "built $deb"
lintian --display-info --fail-on error,warning "$deb"
echo "lintian: no error, no warning"

[ "${1:-}" = "--install-check" ] || exit 0

$sudo dpkg -i "$deb"
trap '$sudo dpkg -P pulvo >/dev/null 2>&1 || true' EXIT
pulvo -V
pulvo --version
man -w pulvo
man -w pulvo-relay
# Every link of the installed README finds its file.
python3 "$root/scripts/check_links.py" /usr/share/doc/pulvo/README.md "$(dirname "$(man -w pulvo)")"

port=$(free_port)
work=$(mktemp -d)
pulvo recv:lp=$port,ws=2,sai=1,to=5 >"$work/recv.out" &
receiver=$!
wait_udp_port "$port"
pulvo send:rp=$port,lp=$((port + 1 > 65535 ? port - 1 : port + 1)),td=10,sai=5
wait $receiver
cat "$work/recv.out"
grep -q "lost packets = 0  estimated packets = 100" "$work/recv.out"
echo "installed pulvo measured a clean loopback stream"

# The installed probe finds its /metrics module and scores a path.
reflect_port=$(free_port)
metrics_port=$(free_port tcp)
pulvo reflect:la=127.0.0.1,lp=$reflect_port,du=12 >/dev/null &
reflector=$!
wait_udp_port "$reflect_port"
printf 'metrics 127.0.0.1:%s\npath installed ra=127.0.0.1,rp=%s\n' "$metrics_port" "$reflect_port" \
  >"$work/probe.conf"
pulvo -j probe:cf=$work/probe.conf,du=8 &
probe=$!
sleep 7
python3 - "$metrics_port" <<'PY'
import sys, urllib.request
text = urllib.request.urlopen("http://127.0.0.1:%s/metrics" % sys.argv[1], timeout=5).read().decode()
assert 'pulvo_probe_mos{path="installed",peer="127.0.0.1:' in text, text
PY
wait $probe
wait $reflector
echo "the installed probe served its metrics"

units=/lib/systemd/system
[ -e /usr/lib/systemd/system/pulvo-recv@.service ] && units=/usr/lib/systemd/system
(cd "$work" && systemd-analyze verify "$units/pulvo-recv@.service" "$units/pulvo-send@.service" \
  "$units/pulvo-send@.timer" "$units/pulvo-reflect@.service" "$units/pulvo-probe.service")
echo "systemd-analyze verify: units pass"

# The README's recipe, as far as a machine without a running systemd allows.
[ -f /etc/pulvo/recv-main.conf.example ] && [ -f /etc/pulvo/send-far.conf.example ]
[ -f /etc/pulvo/reflect-main.conf.example ] && [ -f /etc/pulvo/probe.conf.example ]
grep -q '^PULVO_SEND=' /etc/pulvo/send-far.conf.example
grep -q 'ConditionPathExists=/etc/pulvo/send-%i.conf' "$units/pulvo-send@.service"
! systemd-analyze condition 'ConditionPathExists=/etc/pulvo/send-far.conf' >/dev/null 2>&1
$sudo cp /etc/pulvo/send-far.conf.example /etc/pulvo/send-far.conf
systemd-analyze condition 'ConditionPathExists=/etc/pulvo/send-far.conf' >/dev/null
$sudo rm /etc/pulvo/send-far.conf
grep -q '^StateDirectory=pulvo' "$units/pulvo-recv@.service" "$units/pulvo-send@.service"
grep -q '^UMask=0022' "$units/pulvo-send@.service"
echo "/etc/pulvo holds the examples; the send unit runs only with its file; metrics go to /var/lib/pulvo"

cmake -S "$root/examples" -B "$work/example" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/loopback_mos" $((port + 2 > 65535 ? port - 3 : port + 2))
g++ -std=c++17 -o "$work/loopback_mos_pc" "$root/examples/loopback_mos.cc" $(pkg-config --cflags --libs pulvo)
echo "example program built with find_package(Pulvo) and with pkg-config, and measured a clean stream"

$sudo dpkg -P pulvo
trap - EXIT
[ ! -e /usr/bin/pulvo ]
rm -rf "$work"
echo "package removed"
