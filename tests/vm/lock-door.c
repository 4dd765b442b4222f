/* lock-door DEVICE: locks the drive's door as a desktop's device manager does while a disc is in
 * (udev's cdrom_id --lock-media): it turns the cdrom layer's own locking off and locks the door
 * with CDROM_LOCKDOOR, so that the kernel keeps the door locked across every later close. */
#include <fcntl.h>
#include <linux/cdrom.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: lock-door DEVICE\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  if (ioctl(fd, CDROM_CLEAR_OPTIONS, CDO_LOCK) < 0 || ioctl(fd, CDROM_LOCKDOOR, 1) != 0) {
    perror("lock-door");
    return 1;
  }
  close(fd);
  return 0;
}
