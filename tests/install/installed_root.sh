#!/bin/sh
# Installs the morvane package for real, maintainer scripts and all, into an
# overlay of this machine's root, runs its service the way the unit does,
# then removes and purges the package. Run by install_test in a mount
# namespace of its own (unshare -m), as root:
#
#   installed_root.sh WORK DEB PORT
#
# WORK is an empty directory for the overlay and the exchange with the test:
# WORK/ready appears once the server listens on PORT (the installed
# Morvane.ini edited to it), the test creates WORK/stop when its session is
# done, and the session file is copied to WORK/Service.xml. The findings go
# to standard output as "name: value" lines. Exit 77: no overlay here.
set -eu

work=$1
deb=$2
port=$3
root=$work/merged

mkdir -p "$work/upper" "$work/work" "$root"
mount --make-rprivate / 2>/dev/null || exit 77
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$root" \
    2>/dev/null || exit 77
mount -t proc proc "$root/proc" 2>/dev/null || exit 77
mount --rbind /dev "$root/dev" 2>/dev/null || exit 77
# No systemd in the root: the maintainer scripts must not need one.
mount -t tmpfs tmpfs "$root/run" 2>/dev/null || exit 77
in_root() { chroot "$root" "$@"; }

# The manual pages' index is not what is tried here, and rebuilding it
# takes most of an install's time.
rm -f "$root/var/lib/man-db/auto-update"
in_root dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
echo "status: $(in_root dpkg-query -W -f '${Status}' morvane)"
echo "user: $(in_root getent passwd morvane | cut -d: -f1,6,7)"
echo "home: $(in_root stat -c '%U:%G %a' /var/lib/morvane /var/lib/morvane/XML_Data | tr '\n' ' ')"
echo "seeded: $(in_root ls /var/lib/morvane/Schemas | tr '\n' ' ')"

# The service's commands as the unit gives them, run as its user.
unit=$root/lib/systemd/system/morvane.service
pre=$(sed -n 's/^ExecStartPre=//p' "$unit")
start=$(sed -n 's/^ExecStart=//p' "$unit")
sed -i "s/^Port=.*/Port=$port/" "$root/etc/morvane/Morvane.ini"
as_user() { in_root setpriv --reuid=morvane --regid=morvane --init-groups "$@"; }
# shellcheck disable=SC2086 # the unit's command lines are words
as_user $pre >"$work/check.log" 2>&1 && echo "check: 0" || echo "check: $?"
# shellcheck disable=SC2086
(exec chroot "$root" setpriv --reuid=morvane --regid=morvane --init-groups $start \
    >"$work/server.log" 2>&1) &
server=$!
: >"$work/ready"
waited=0
while [ ! -e "$work/stop" ] && [ "$waited" -lt 600 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
kill -TERM "$server"
status=0
wait "$server" || status=$?
echo "stopped: $status"
cp "$root/var/lib/morvane/XML_Data/Service.xml" "$work/Service.xml" || true
echo "log owner: $(in_root stat -c '%U' /var/lib/morvane/Morvane.log)"

in_root dpkg -r morvane >>"$work/dpkg.log" 2>&1
echo "removed: $(in_root sh -c 'ls /usr/bin/Morvane /etc/morvane/Morvane.ini 2>/dev/null' | tr '\n' ' ')"
in_root dpkg -P morvane >>"$work/dpkg.log" 2>&1
echo "purged: $(in_root sh -c 'ls -d /etc/morvane 2>/dev/null; getent passwd morvane | cut -d: -f1; ls -d /var/lib/morvane/XML_Data/Service.xml' | tr '\n' ' ')"
