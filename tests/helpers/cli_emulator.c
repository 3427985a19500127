/* A scripted stand-in for the emulator in velotrax-cli's tests. It is started as mame.exe in the
 * test's directory and
 * - appends its command line to emulator.log (words separated by "|"),
 * - for the rom named in CLI_EMULATOR_HANG: writes its process id to hanging.pid and waits for a
 *   signal (ignoring SIGINT when CLI_EMULATOR_IGNORE_INT is set),
 * - for the rom named in CLI_EMULATOR_SILENT: ends without a frame-rate line,
 * - for the rom named in CLI_EMULATOR_FAIL: writes an error on standard error and exits 3,
 * - for the rom named in CLI_EMULATOR_GARBLED: prints a frame-rate line that is no number,
 * - otherwise prints a frame-rate line with CLI_EMULATOR_FPS (default 123) as its integer part;
 *   with CLI_EMULATOR_FPS_SEQUENCE (numbers separated by commas) the k-th start of the emulator
 *   (counted by the lines of emulator.log) takes the k-th number, from the start again after the
 *   last one. */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int IsRom(const char* variable, const char* rom) {
  const char* value = getenv(variable);
  return value != NULL && strcmp(value, rom) == 0;
}

/* The number of earlier starts: the lines of emulator.log. */
static long EarlierStarts(void) {
  FILE* log = fopen("emulator.log", "r");
  if (log == NULL) return 0;
  long lines = 0;
  for (int c; (c = fgetc(log)) != EOF;) lines += c == '\n';
  fclose(log);
  return lines;
}

/* The k-th number of the comma-separated list, cycling. */
static long NthOfSequence(const char* list, long k) {
  long count = 1;
  for (const char* p = list; *p != '\0'; ++p) count += *p == ',';
  k %= count;
  const char* p = list;
  while (k-- > 0) p = strchr(p, ',') + 1;
  return strtol(p, NULL, 10);
}

int main(int argc, char** argv) {
  const long starts = EarlierStarts();
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
  if (IsRom("CLI_EMULATOR_FAIL", rom)) {
    fprintf(stderr, "Error: cannot open the display\n");
    return 3;
  }
  if (IsRom("CLI_EMULATOR_GARBLED", rom)) {
    printf("Average FPS: abc.5 (5000 frames)\n");
    return 0;
  }
  const char* sequence = getenv("CLI_EMULATOR_FPS_SEQUENCE");
  if (sequence != NULL && *sequence != '\0') {
    printf("Average FPS: %ld.50 (5000 frames)\n", NthOfSequence(sequence, starts));
    return 0;
  }
  const char* fps = getenv("CLI_EMULATOR_FPS");
  printf("Average FPS: %s.75 (5000 frames)\n", fps != NULL ? fps : "123");
  return 0;
}
