# Runs as root of fresh namespaces, which is uid 65534 (or the calling
# user) on the host. Lays the stand-ins over the receiver's paths, checks
# every one of them, and only then starts the program.
set -eu
work=$SANDBOX_WORK
kit=$work/kit
log=$work/log/events.log
root=$work/root
: > "$log"

refuse() {
  echo "standby-sandbox: $1; refusing to run" >&2
  exit 3
}
omitted() { case " $SANDBOX_OMIT " in *" $1 "*) return 0 ;; esac; return 1; }

# ---- who and where we are -------------------------------------------------
read -r inside outside count < /proc/self/uid_map
[ "$inside" = 0 ] && [ "$outside" != 0 ] && [ "$count" = 1 ] || refuse "not an unprivileged user namespace"
[ "$$" = 1 ] || refuse "not in a new PID namespace"
[ "$(tail -n +3 /proc/net/dev | cut -d: -f1 | tr -d ' ')" = lo ] || refuse "not in a new network namespace"

if [ "$SANDBOX_PROBE" = 1 ]; then
  exec /bin/sh "$kit/probe.sh"
fi

# ---- the stand-in tree ----------------------------------------------------
mkdir -p "$root/sys-power" "$root/proc" "$root/init.d" "$root/bin"
: > "$root/sys-power/state"
if [ "$SANDBOX_NO_STB" = 0 ]; then
  mkdir -p "$root/proc/stb/avs/0"
  : > "$root/proc/stb/avs/0/input"
  [ "$SANDBOX_NO_DBG" = 1 ] || : > "$root/proc/stb/dbg"
fi
for part in "$root/sys-power" "$root/proc" "$root/init.d"; do echo standin > "$part/.standin"; done
if [ "$SANDBOX_FAIL" = 0 ]; then
  cp "$kit/initscript" "$root/init.d/satipclient"
  cp "$kit/initscript" "$root/init.d/softcam"
fi
for name in killall ethtool reboot systemctl halt poweroff shutdown; do cp "$kit/command" "$root/bin/$name"; done
cp -L /bin/sh "$root/bin/realsh"
sed "s|@REALSH@|$root/bin/realsh|" "$kit/shell" > "$root/bin/sh"
chmod 755 "$root"/bin/* "$root"/init.d/* 2>/dev/null || true

# ---- mounts ---------------------------------------------------------------
# The work folder stays writable; every other mount becomes read-only.
mount -n --bind "$work" "$work"
if ! omitted readonly; then
  awk '{print $2}' /proc/self/mounts | sort -u | while read -r point; do
    case $point in "$work"|/proc|/proc/*|/dev|/dev/*) continue ;; esac
    mount -n -o remount,bind,ro "$point" 2>/dev/null || true
  done
fi
if [ "$SANDBOX_FAIL" = 1 ]; then
  # Refused writes: the driver and kernel files sit on a read-only mount.
  for part in "$root/sys-power" "$root/proc/stb"; do
    [ -d "$part" ] || continue
    mount -n --bind "$part" "$part"
    mount -n -o remount,bind,ro "$part"
  done
fi
# Checked here: once the stand-in covers /proc, the mount table is gone.
grep -q '^[^ ]* / [^ ]* ro[, ]' /proc/self/mounts || refuse "the host's root is not read-only"
omitted run || mount -n -t tmpfs -o size=1m,mode=755 sandbox-run /run
omitted init.d || mount -n --bind "$root/init.d" /etc/init.d
omitted sys-power || mount -n --rbind "$root/sys-power" /sys/power
if ! omitted commands; then
  for name in killall ethtool reboot systemctl halt poweroff shutdown; do
    for dir in /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
      [ -e "$dir/$name" ] && mount -n --bind "$root/bin/$name" "$dir/$name"
    done
  done
fi
omitted shell || mount -n --bind "$root/bin/sh" /bin/sh
if ! omitted proc; then
  # The stand-in /proc holds the driver's files; everything else in it leads
  # to the sandbox's own proc (its PID namespace), so /proc/self still works.
  mkdir -p "$root/realproc"
  mount -n --rbind /proc "$root/realproc"
  for entry in /proc/*; do
    name=${entry##*/}
    case $name in [0-9]*|stb) continue ;; esac
    ln -s "$root/realproc/$name" "$root/proc/$name"
  done
  mount -n --rbind "$root/proc" /proc  # last: mount itself reads /proc
fi

# ---- check every stand-in before the program starts ----------------------
[ -f /sys/power/.standin ] || refuse "/sys/power stand-in not in place"
[ -f /proc/.standin ] || refuse "/proc stand-in not in place"
[ -f /etc/init.d/.standin ] || refuse "/etc/init.d stand-in not in place"
[ -z "$(ls -A /run)" ] || refuse "/run is not empty: $(ls -A /run)"
cmp -s /bin/sh "$root/bin/sh" || refuse "/bin/sh is not the recording shell"
export PATH="$root/bin:/usr/sbin:/usr/bin:/sbin:/bin"
for name in killall ethtool reboot systemctl halt poweroff shutdown; do
  for dir in /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
    [ ! -e "$dir/$name" ] || cmp -s "$dir/$name" "$kit/command" || refuse "$dir/$name is not a stand-in"
  done
done

export SANDBOX_LOG="$log"
status=0
# shellcheck disable=SC2086
${SANDBOX_EMULATOR:-} "$work/bin/program" "$@" || status=$?
echo "exit $status" >> "$log"
exit "$status"
