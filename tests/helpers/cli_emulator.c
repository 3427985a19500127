/* A scripted stand-in for the emulator in velotrax-cli's tests. It is started as mame.exe in the
 * test's directory and
 * - appends its command line to emulator.log (words separated by "|"),
 * - for the rom named in CLI_EMULATOR_HANG: writes its process id to hanging.pid and waits for a
 *   signal (ignoring SIGINT when CLI_EMULATOR_IGNORE_INT is set),
 * - for the rom named in CLI_EMULATOR_SILENT: ends without a frame-rate line,
 * - for the rom named in CLI_EMULATOR_GARBLED: prints a frame-rate line that is no number,
 * - otherwise prints a frame-rate line with CLI_EMULATOR_FPS (default 123) as its integer part. */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int IsRom(const char* variable, const char* rom) {
  const char* value = getenv(variable);
  return value != NULL && strcmp(value, rom) == 0;
}

int main(int argc, char** argv) {
  FILE* log = fopen("emulator.log", "a");
  if (log != NULL) {
    for (int i = 0; i < argc; ++i) fprintf(log, "%s%s", i > 0 ? "|" : "", argv[i]);
    fputc('\n', log);
    fclose(log);
  }
  if (argc < 2) return 1;
  const char* rom = argv[1];
  setvbuf(stdout, NULL, _IONBF, 0);
  printf("Loading %s\n", rom);

  if (IsRom("CLI_EMULATOR_HANG", rom)) {
    if (getenv("CLI_EMULATOR_IGNORE_INT") != NULL) signal(SIGINT, SIG_IGN);
    FILE* pid_file = fopen("hanging.pid.tmp", "w");
    if (pid_file == NULL) return 1;
    fprintf(pid_file, "%ld\n", (long)getpid());
    fclose(pid_file);
    rename("hanging.pid.tmp", "hanging.pid");
    printf("Frame       1 of 5000");
    for (;;) pause();
  }
  if (IsRom("CLI_EMULATOR_SILENT", rom)) return 0;
  if (IsRom("CLI_EMULATOR_GARBLED", rom)) {
    printf("Average FPS: abc.5 (5000 frames)\n");
    return 0;
  }
  const char* fps = getenv("CLI_EMULATOR_FPS");
  printf("Average FPS: %s.75 (5000 frames)\n", fps != NULL ? fps : "123");
  return 0;
}
