/* An emulator that dies of SIGKILL in the middle of its frame-rate line. */
#include <signal.h>
#include <string.h>
#include <unistd.h>

int main(void) {
  const char* text = "loading roms\nAverage FPS: 9";
  if (write(1, text, strlen(text)) < 0) return 1;
  raise(SIGKILL);
  return 0;
}
