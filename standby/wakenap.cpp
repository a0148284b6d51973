// wakenap: prepares the receiver for a standby that a Wake-on-LAN magic
// packet on eth0 can end, enters it, and reboots once the box is awake.
// Runs fifteen fixed shell commands in order, each waited for; every status
// is ignored. Touches /proc/stb/avs/0/input, /proc/stb/dbg, /sys/power/state.
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

static const char *const standby_commands[] = {
    "killall nmbd",                      // 0: SMB name service
    "killall smbd",                      // 1: SMB file service
    "killall rpc.mountd",                // 2: NFS mount service
    "killall rpc.statd",                 // 3: NFS status service
    "/etc/init.d/satipclient stop",      // 4
    "/etc/init.d/softcam stop",          // 5
    "killall CCcam",                     // 6
    "killall hddtemp",                   // 7: disk temperature monitor
    "killall transmission-daemon",       // 8: torrent client
    "ethtool -s eth0 wol g",             // 9: wake on magic packet
    "echo aux > /proc/stb/avs/0/input",  // 10
    "echo dev_aon s2 > /proc/stb/dbg",   // 11
    "echo standby > /sys/power/state",   // 12: returns only after the box wakes up
    "echo dev_aon s0 > /proc/stb/dbg",   // 13: the first command after waking
    "reboot",                            // 14
};
static_assert(sizeof(standby_commands) / sizeof(standby_commands[0]) == 15);

// The receiver driver's own files that the sequence writes. A machine
// without them is no receiver: there the sequence would only stop a PC's
// services, suspend it and reboot it.
static const char *const receiver_files[] = {
    "/proc/stb/avs/0/input",  // 0
    "/proc/stb/dbg",          // 1
};

static const char *missing_receiver_file() {
  struct stat st;
  for (const char *path : receiver_files)
    if (stat(path, &st) != 0) return path;
  return nullptr;
}

int main() {
  const char *missing = missing_receiver_file();
  if (missing != nullptr) {
    // The exit status says it too, should standard error be gone.
    (void)fprintf(stderr, "wakenap: %s not found: not a receiver, nothing done\n", missing);
    return 1;
  }
  for (const char *command : standby_commands) {
    // A service that is not running or a refused write must not stop the
    // sequence: the status is dropped on purpose.
    int status = system(command);  // NOLINT(cert-env33-c): the sequence is shell commands
    (void)status;
  }
  return 0;
}
