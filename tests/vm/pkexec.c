/* pkexec, the guest's stand-in for polkit's, installed setuid root at /usr/bin/pkexec: what the
 * flasher run by the person meets when it starts its drive helper, without polkit or a desktop.
 * As the real pkexec does (pkexec(1), polkit's src/programs/pkexec.c), it becomes root for one
 * program, with a cleared environment, the supplementary groups dropped and the descriptors from
 * 3 on closed at the exec, and it ends with 127 when it runs nothing. Every call is first recorded,
 * its arguments on one line, in RECORD, which only root may write. It allows exactly
 * [pkexec, HELPER] (argv[0] may be the full path). While NO_AGENT exists it runs nothing and
 * answers as the real pkexec does when no authentication agent can ask the person. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef RECORD
#define RECORD "/run/pkexec-calls"
#endif
#ifndef NO_AGENT
#define NO_AGENT "/scenario/pkexec-no-agent"
#endif
#ifndef HELPER
#define HELPER "/usr/libexec/movrel/movrel-drive-helper"
#endif

/* One line: the arguments separated by spaces, a byte that is a space, a backslash or no
 * printable character written as \xHH, so that the line shows each argument exactly. */
static int record(int argc, char** argv) {
  /* O_NOFOLLOW: root writes no file a link planted there points to; 0600, root's. */
  const int fd = open(RECORD, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  /* Root's group too: a setuid process creates files with the caller's group (its fsgid). */
  if (fd < 0 || fchown(fd, 0, 0) != 0) return -1;
  FILE* out = fdopen(fd, "a");
  if (out == NULL) return -1;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) fputc(' ', out);
    for (const unsigned char* byte = (const unsigned char*)argv[i]; *byte; ++byte) {
      if (*byte > ' ' && *byte < 0x7f && *byte != '\\')
        fputc(*byte, out);
      else
        fprintf(out, "\\x%02x", *byte);
    }
  }
  fputc('\n', out);
  return fclose(out) == 0 ? 0 : -1;
}

int main(int argc, char** argv) {
  /* The real pkexec refuses to work unless it runs setuid root. */
  if (geteuid() != 0) {
    fprintf(stderr, "pkexec must be setuid root\n");
    return 127;
  }
  if (record(argc, argv) != 0) {
    fprintf(stderr, "pkexec (stand-in): cannot record the call in %s: %s\n", RECORD,
            strerror(errno));
    return 127;
  }
  const char* name = argc > 0 ? strrchr(argv[0], '/') : NULL;
  name = name ? name + 1 : argc > 0 ? argv[0] : "";
  if (argc != 2 || strcmp(name, "pkexec") != 0 || strcmp(argv[1], HELPER) != 0) {
    fprintf(stderr, "pkexec (stand-in): refused: only '%s', alone, may be run\n", HELPER);
    return 127;
  }
  struct stat planted;
  if (lstat(NO_AGENT, &planted) == 0) {
    /* The real pkexec's words when polkit finds no agent to ask the person (no desktop session's
     * agent and no terminal): it runs nothing. */
    fprintf(stderr, "Error executing command as another user: No authentication agent found.\n");
    return 127;
  }
  /* The caller's real uid, before it is given up, for PKEXEC_UID as the real one sets it. */
  char caller[16];
  snprintf(caller, sizeof caller, "%u", (unsigned)getuid());
  /* The real pkexec keeps the locale, SHELL and TERM (DISPLAY and XAUTHORITY only for an action
   * annotated allow_gui, which the helper's is not), and sets what names the target user; this
   * one keeps nothing of the caller's at all. */
  if (clearenv() != 0 || setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1) != 0 ||
      setenv("HOME", "/", 1) != 0 || setenv("USER", "root", 1) != 0 ||
      setenv("LOGNAME", "root", 1) != 0 || setenv("SHELL", "/bin/sh", 1) != 0 ||
      setenv("PKEXEC_UID", caller, 1) != 0) {
    perror("pkexec (stand-in): environment");
    return 127;
  }
  /* Root in every uid and gid, as the real one becomes the target user: setgroups(0, NULL) drops
   * the caller's supplementary groups; setregid and setreuid from a setuid-root process set the
   * real and effective ids and, both being given, the saved ones (setreuid(2)). The real one then
   * changes into the target's home; the guest's root has none, so this one goes to "/". */
  if (setgroups(0, NULL) != 0 || setregid(0, 0) != 0 || setreuid(0, 0) != 0 || chdir("/") != 0) {
    perror("pkexec (stand-in): becoming root");
    return 127;
  }
  /* close_range(2) with CLOSE_RANGE_CLOEXEC (Linux 5.11): every descriptor from 3 on closes at
   * the exec, as the real one marks them; the helper gets standard input, output and error. */
  if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    perror("pkexec (stand-in): close_range");
    return 127;
  }
  char* const helper[] = {(char*)HELPER, NULL};
  execv(HELPER, helper);
  fprintf(stderr, "pkexec (stand-in): cannot run %s: %s\n", HELPER, strerror(errno));
  return 127;
}
