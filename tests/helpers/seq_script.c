/* A stand-in emulator for the sequencer tests. It records how it was started and then plays
 * seq_script.txt from its working directory, line by line:
 *   @wait NAME         waits (at most a minute) until the file NAME exists
 *   @d3d TEXT          writes TEXT only on a Direct3D pass (-d3d among the arguments)
 *   @ddraw TEXT        writes TEXT only on a DirectDraw pass (-nod3d among the arguments)
 *   @rom ROM TEXT      writes TEXT only when the game is ROM
 *   @raw TEXT          writes TEXT without a line feed
 *   @exit N            ends with exit code N
 *   anything else      is written as a line
 * Every start appends a line to seq_calls.txt: the working directory, then each argument, all
 * separated by tabs. The files and the output are bytes, also on Windows. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

static void sleep_ms(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

static int has_argument(int argc, char** argv, const char* word) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], word) == 0) return 1;
  }
  return 0;
}

static void record_call(int argc, char** argv) {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == NULL) strcpy(cwd, "?");
  FILE* calls = fopen("seq_calls.txt", "ab");
  if (calls == NULL) return;
  fputs(cwd, calls);
  for (int i = 0; i < argc; ++i) fprintf(calls, "\t%s", argv[i]);
  fputc('\n', calls);
  fclose(calls);
}

static void say(const char* text, int line_feed) {
  fputs(text, stdout);
  if (line_feed) fputc('\n', stdout);
  fflush(stdout);
}

int main(int argc, char** argv) {
  record_call(argc, argv);
#ifdef _WIN32
  /* Bytes as the script has them: no line feed becomes CR LF on the way out. */
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  FILE* script = fopen("seq_script.txt", "rb");
  if (script == NULL) return 0;
  char line[4096];
  while (fgets(line, sizeof line, script) != NULL) {
    line[strcspn(line, "\n")] = '\0';
    if (strncmp(line, "@wait ", 6) == 0) {
      for (int waited = 0; waited < 60000 && access(line + 6, F_OK) != 0; waited += 10) {
        sleep_ms(10);
      }
    } else if (strncmp(line, "@d3d ", 5) == 0) {
      if (has_argument(argc, argv, "-d3d")) say(line + 5, 1);
    } else if (strncmp(line, "@ddraw ", 7) == 0) {
      if (has_argument(argc, argv, "-nod3d")) say(line + 7, 1);
    } else if (strncmp(line, "@rom ", 5) == 0) {
      char* rom = line + 5;
      char* text = strchr(rom, ' ');
      if (text == NULL) continue;
      *text++ = '\0';
      if (argc > 1 && strcmp(argv[1], rom) == 0) say(text, 1);
    } else if (strncmp(line, "@raw ", 5) == 0) {
      say(line + 5, 0);
    } else if (strncmp(line, "@exit ", 6) == 0) {
      fclose(script);
      return atoi(line + 6);
    } else {
      say(line, 1);
    }
  }
  fclose(script);
  return 0;
}
