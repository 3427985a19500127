/* An emulator that never ends a line: 512 MiB of text without a control byte, then, in a write
   of its own, a carriage return and the frame-rate line, still without a line feed. */
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(void) {
  static char block[65536];
  memset(block, 'y', sizeof block);
  for (int i = 0; i < 8192; ++i) {
    if (write(1, block, sizeof block) < 0) return 2;
  }
  struct timespec pause = {0, 100000000L};
  nanosleep(&pause, NULL);
  const char* last = "\rAverage FPS: 12.5 (5000 frames)";
  return write(1, last, strlen(last)) < 0 ? 3 : 0;
}
