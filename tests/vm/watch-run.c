/* watch-run FIFO REPORT: watches, as root, a flasher that the person runs, until SIGTERM; then
 * writes what it saw to REPORT (whole, by a rename), "@@ watch" lines for the host:
 * - FIFO, root's and mode 0600, which the flasher's environment names as its XAUTHORITY: no
 *   process may open it, and the person cannot. Every 20 ms a non-blocking open for writing,
 *   which fails with ENXIO while no process has it open for reading (fifo(7)), one still blocked
 *   in its open included; and inotify's IN_OPEN, which the kernel reports for every open of it
 *   that succeeds (inotify(7)), however brief, this program's own included (opens in a row may
 *   come as one event: inotify merges an event with the same one not yet read).
 *     "@@ watch fifo probes N readers N other-errors N opens N"
 * - the processes whose executable is /flasher or the drive helper: the Uid, Gid, CapPrm and
 *   CapEff lines of /proc/PID/status, each different set once, with how many samples showed it.
 *     "@@ watch flasher Uid: 1000 1000 1000 1000 Gid: ... CapPrm: ... CapEff: ... seen N" */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#define HELPER "/usr/libexec/movrel/movrel-drive-helper"
#define MAX_SEEN 32

static volatile sig_atomic_t stopping;
static void stop(int signal_number) {
  (void)signal_number;
  stopping = 1;
}

struct seen {
  const char* kind;
  char identity[256];
  unsigned long count;
};
static struct seen seen[MAX_SEEN];
static int seen_count;

static void note(const char* kind, const char* identity) {
  for (int i = 0; i < seen_count; ++i) {
    if (seen[i].kind == kind && strcmp(seen[i].identity, identity) == 0) {
      ++seen[i].count;
      return;
    }
  }
  if (seen_count == MAX_SEEN) return;
  seen[seen_count].kind = kind;
  snprintf(seen[seen_count].identity, sizeof seen[seen_count].identity, "%s", identity);
  seen[seen_count++].count = 1;
}

/* The Uid, Gid, CapPrm and CapEff lines of a status text, on one line, tabs made spaces. */
static void identity_of(const char* status, char* out, size_t size) {
  static const char* const fields[] = {"Uid:", "Gid:", "CapPrm:", "CapEff:"};
  size_t used = 0;
  out[0] = '\0';
  for (size_t f = 0; f < sizeof fields / sizeof fields[0]; ++f) {
    const char* line = strstr(status, fields[f]);
    if (line == NULL || (line != status && line[-1] != '\n')) continue;
    const size_t length = strcspn(line, "\n");
    for (size_t i = 0; i < length && used + 2 < size; ++i)
      out[used++] = line[i] == '\t' ? ' ' : line[i];
    if (used + 2 < size) out[used++] = ' ';
    out[used] = '\0';
  }
  if (used > 0) out[used - 1] = '\0';
}

static void sample_processes(void) {
  DIR* proc = opendir("/proc");
  if (proc == NULL) return;
  for (struct dirent* entry; (entry = readdir(proc)) != NULL;) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    char path[300], status[4096], exe[256], identity[256];
    /* The status first, then the executable: an exec replaces the executable before it commits
     * the new program's credentials (begin_new_exec), so a status read before the link still
     * named /flasher is the flasher's own, even in a child that is about to run pkexec. */
    snprintf(path, sizeof path, "/proc/%s/status", entry->d_name);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t length = read(fd, status, sizeof status - 1);
    close(fd);
    if (length <= 0) continue;
    status[length] = '\0';
    snprintf(path, sizeof path, "/proc/%s/exe", entry->d_name);
    const ssize_t named = readlink(path, exe, sizeof exe - 1);
    if (named <= 0) continue;
    exe[named] = '\0';
    const char* kind = strcmp(exe, "/flasher") == 0 ? "flasher"
                       : strcmp(exe, HELPER) == 0   ? "helper"
                                                    : NULL;
    if (kind == NULL) continue;
    identity_of(status, identity, sizeof identity);
    note(kind, identity);
  }
  closedir(proc);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: watch-run FIFO REPORT\n");
    return 2;
  }
  const char* fifo = argv[1];
  struct sigaction action = {.sa_handler = stop};
  sigaction(SIGTERM, &action, NULL);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, fifo, IN_OPEN) < 0) {
    perror("watch-run: inotify");
    return 1;
  }
  unsigned long probes = 0, readers = 0, others = 0, opens = 0;
  for (;;) {
    const int last = stopping;
    const int probe = open(fifo, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ++probes;
    if (probe >= 0) {
      ++readers;
      close(probe);
    } else if (errno != ENXIO) {
      ++others;
    }
    char events[4096];
    for (ssize_t length; (length = read(watch, events, sizeof events)) > 0;) {
      for (char* at = events; at < events + length;) {
        const struct inotify_event* event = (const struct inotify_event*)at;
        if (event->mask & IN_OPEN) ++opens;
        at += sizeof *event + event->len;
      }
    }
    sample_processes();
    if (last) break;
    const struct timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, NULL);
  }
  char partial[256];
  snprintf(partial, sizeof partial, "%s.partial", argv[2]);
  FILE* out = fopen(partial, "w");
  if (out == NULL) return 1;
  fprintf(out, "@@ watch fifo probes %lu readers %lu other-errors %lu opens %lu\n", probes, readers,
          others, opens);
  for (int i = 0; i < seen_count; ++i)
    fprintf(out, "@@ watch %s %s seen %lu\n", seen[i].kind, seen[i].identity, seen[i].count);
  if (fclose(out) != 0 || rename(partial, argv[2]) != 0) return 1;
  return 0;
}
