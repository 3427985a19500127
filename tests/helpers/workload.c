/* Children for the process benchmark: a flood of output lines, a CPU-bound "emulator" that
   measures its own frame rate, one bound by memory instead, and a child that says when it ends. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void write_all(const char* text, size_t n) {
  while (n > 0) {
    ssize_t done = write(1, text, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += done;
    n -= (size_t)done;
  }
}

static double now_seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* One frame of made-up work, heavy enough to dominate the output it causes. */
static unsigned frame(unsigned seed) {
  unsigned x = seed;
  for (int i = 0; i < 200000; ++i) x = x * 1664525u + 1013904223u + (x >> 13);
  return x;
}

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (strcmp(mode, "flood80") == 0) {
    /* Lines of 79 characters and a line feed, written in large blocks. */
    long long total = atoll(argv[2]);
    static char block[80 * 820];
    for (int line = 0; line < 820; ++line) {
      memset(block + line * 80, 'a' + line % 26, 79);
      block[line * 80 + 79] = '\n';
    }
    for (long long written = 0; written < total; written += (long long)sizeof block) {
      long long left = total - written;
      write_all(block, left < (long long)sizeof block ? (size_t)left : sizeof block);
    }
    return 0;
  }
  if (strcmp(mode, "spin") == 0) {
    /* Runs frames for a fixed time, with a short status line now and then, like an emulator. */
    double seconds = atof(argv[2]);
    unsigned seed = 1;
    long frames = 0;
    char line[128];
    double start = now_seconds();
    double elapsed = 0;
    while ((elapsed = now_seconds() - start) < seconds) {
      seed = frame(seed);
      if (++frames % 25 == 0) {
        int n = snprintf(line, sizeof line, "frame %ld state %08x\n", frames, seed);
        write_all(line, (size_t)n);
      }
    }
    int n = snprintf(line, sizeof line, "Average speed: 100%% (%ld frames)\nFPS %.3f\n", frames,
                     (double)frames / elapsed);
    write_all(line, (size_t)n);
    return 0;
  }
  if (strcmp(mode, "memory") == 0 && argc > 3) {
    /* Frames of scattered reads and writes over MB megabytes for a fixed time: like "spin", but
       bound by the memory system instead of the processor's own arithmetic. */
    double seconds = atof(argv[2]);
    size_t size = (size_t)atol(argv[3]) << 20;
    unsigned char* block = size > 0 ? malloc(size) : NULL;
    if (block == NULL) return 2;
    memset(block, 1, size);
    unsigned long long x = 1;
    long frames = 0;
    double start = now_seconds();
    double elapsed = 0;
    while ((elapsed = now_seconds() - start) < seconds) {
      for (int i = 0; i < 100000; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        block[(x >> 20) % size] += (unsigned char)x;
      }
      ++frames;
    }
    char line[128];
    int n = snprintf(line, sizeof line, "state %02x\nFPS %.3f\n", block[x % size],
                     (double)frames / elapsed);
    write_all(line, (size_t)n);
    free(block);
    return 0;
  }
  if (strcmp(mode, "exit-stamp") == 0) {
    /* The last thing before the end: the monotonic time, in nanoseconds. */
    struct timespec t;
    char line[64];
    clock_gettime(CLOCK_MONOTONIC, &t);
    int n = snprintf(line, sizeof line, "%lld\n", (long long)t.tv_sec * 1000000000LL + t.tv_nsec);
    write_all(line, (size_t)n);
    return 0;
  }
  fputs("unknown mode\n", stderr);
  return 2;
}
