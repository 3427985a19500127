/* An emulator that leaves a grandchild holding its output open, prints its frame-rate line and
   exits. The grandchild writes its pid to "grandchild.pid" and lives until it is killed or a
   minute has passed. */
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

int main(void) {
  pid_t pid = fork();
  if (pid == 0) {
    FILE* file = fopen("grandchild.pid.tmp", "w");
    if (file != NULL) {
      fprintf(file, "%d\n", (int)getpid());
      fclose(file);
      rename("grandchild.pid.tmp", "grandchild.pid");
    }
    struct timespec pause = {60, 0};
    nanosleep(&pause, NULL);
    return 0;
  }
  /* Wait until the grandchild has said who it is, so the test can end it. */
  for (int i = 0; i < 5000 && access("grandchild.pid", F_OK) != 0; ++i) usleep(1000);
  printf("Average FPS: 88.8 (5000 frames)\n");
  return 0;
}
