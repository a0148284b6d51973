# Isolation probe: with no stand-in at all, report what the bare sandbox
# could reach on the host. Reads only; writes nothing outside the sandbox.
echo "uid_map $(cat /proc/self/uid_map | tr -s ' ' | sed 's/^ //')"
echo "pid $$"
echo "processes $(ls -d /proc/[0-9]* | wc -l)"
echo "interfaces $(tail -n +3 /proc/net/dev | cut -d: -f1 | tr -d ' ' | tr '\n' ' ')"
if [ -w /sys/power/state ]; then echo "sys-power-state writable"; else echo "sys-power-state not-writable"; fi
if [ -w /etc/init.d ]; then echo "init.d writable"; else echo "init.d not-writable"; fi
if kill -0 1 2>/dev/null && [ "$(cat /proc/1/comm)" = sh ]; then echo "pid-1 sandbox"; else echo "pid-1 other"; fi
grep -q '^CapEff:\s*0*$' /proc/self/status && echo "capabilities none" || echo "capabilities namespace-only"
