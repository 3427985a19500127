/* An emulator that prints its frame-rate line, closes its output and keeps running a while. */
#include <stdio.h>
#include <time.h>
#include <unistd.h>

int main(void) {
  printf("Average FPS: 55.5 (5000 frames)\n");
  fflush(stdout);
  close(1);
  close(2);
  struct timespec pause = {1, 500000000L};
  nanosleep(&pause, NULL);
  return 4;
}
