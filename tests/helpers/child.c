/* A child program for the runner tests; the first argument picks what it does. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

static void write_all(int fd, const char* text, size_t n) {
  while (n > 0) {
    ssize_t done = write(fd, text, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += done;
    n -= (size_t)done;
  }
}

static void say(int fd, const char* text) {
  write_all(fd, text, strlen(text));
}

static void sleep_ms(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

static void write_file(const char* path, const char* text) {
  char temporary[4096];
  snprintf(temporary, sizeof temporary, "%s.tmp", path);
  FILE* file = fopen(temporary, "w");
  if (file == NULL) return;
  fputs(text, file);
  fclose(file);
  rename(temporary, path);
}

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "silent";
  char line[256];
  if (strcmp(mode, "silent") == 0) return argc > 2 ? atoi(argv[2]) : 0;
  if (strcmp(mode, "lines") == 0) {
    int count = atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "line %d\n", i);
      say(1, line);
    }
    return 0;
  }
  if (strcmp(mode, "burst") == 0) {
    /* COUNT lines "PREFIX i" in one write (so they arrive as one piece), a pause, then "PREFIX
       end". */
    static char burst[65536];
    size_t used = 0;
    int count = atoi(argv[3]);
    for (int i = 0; i < count && used + 64 < sizeof burst; ++i) {
      used += (size_t)snprintf(burst + used, sizeof burst - used, "%s %d\n", argv[2], i);
    }
    write_all(1, burst, used);
    sleep_ms(atol(argv[4]));
    snprintf(line, sizeof line, "%s end\n", argv[2]);
    say(1, line);
    return 0;
  }
  if (strcmp(mode, "interleave") == 0) {
    int count = atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "%s %d\n", i % 2 == 0 ? "out" : "err", i);
      say(i % 2 == 0 ? 1 : 2, line);
    }
    return 0;
  }
  if (strcmp(mode, "flood") == 0) {
    /* Numbered lines of 16 bytes, then a file that says the writing is over. */
    long total = atol(argv[2]);
    for (long i = 0; i * 16 < total; ++i) {
      snprintf(line, sizeof line, "%015ld\n", i);
      say(1, line);
    }
    write_file(argv[3], "done\n");
    return 0;
  }
  if (strcmp(mode, "grandchild") == 0) {
    /* Leaves a grandchild behind that holds the output open, writes late and records how the
       late write went. */
    pid_t pid = fork();
    if (pid == 0) {
      /* Writes on, after a pause or at once, until a write fails. */
      sleep_ms(atol(argv[3]));
      static char late[4096];
      memset(late, 'g', sizeof late);
      late[sizeof late - 1] = '\n';
      for (long i = 0; i < 100000000L; ++i) {
        if (write(1, late, sizeof late) < 0) {
          write_file(argv[4], "late write failed\n");
          _exit(0);
        }
        if (atol(argv[3]) > 0) break;
      }
      write_file(argv[4], "late write done\n");
      _exit(0);
    }
    snprintf(line, sizeof line, "%d\n", (int)pid);
    write_file(argv[2], line);
    say(1, "child done\n");
    return 3;
  }
  if (strcmp(mode, "slow-writer") == 0) {
    /* Writes a line every interval and records in a file how it ended. */
    int count = atoi(argv[2]);
    long interval = atol(argv[3]);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "tick %d\n", i);
      if (write(1, line, strlen(line)) < 0) ++failures;
      sleep_ms(interval);
    }
    snprintf(line, sizeof line, "ticks %d failures %d exit 7\n", count, failures);
    write_file(argv[4], line);
    return 7;
  }
  if (strcmp(mode, "affinity") == 0) {
    /* The processors it may run on and its nice value, then a pause of MS milliseconds. */
    FILE* status = fopen("/proc/self/status", "r");
    if (status == NULL) return 2;
    while (fgets(line, sizeof line, status) != NULL) {
      if (strncmp(line, "Cpus_allowed_list:", 18) == 0) say(1, line);
    }
    fclose(status);
    errno = 0;
    snprintf(line, sizeof line, "nice %d session %s\n", getpriority(PRIO_PROCESS, 0),
             getsid(0) == getpid() ? "own" : "shared");
    say(1, line);
    status = fopen("/proc/self/autogroup", "r");
    if (status != NULL && fgets(line, sizeof line, status) != NULL) say(1, line);
    if (status != NULL) fclose(status);
    sleep_ms(argc > 2 ? atol(argv[2]) : 0);
    return 0;
  }
  if (strcmp(mode, "fds") == 0) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == NULL) return 2;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
      if (entry->d_name[0] == '.' || atoi(entry->d_name) == dirfd(dir)) continue;
      say(1, "fd ");
      say(1, entry->d_name);
      say(1, "\n");
    }
    closedir(dir);
    return 0;
  }
  if (strcmp(mode, "signal") == 0) {
    signal(atoi(argv[2]), SIG_DFL);
    raise(atoi(argv[2]));
    return 1;
  }
  if (strcmp(mode, "args") == 0) {
    for (int i = 0; i < argc; ++i) {
      snprintf(line, sizeof line, "[%s]\n", argv[i]);
      say(1, line);
    }
    if (getcwd(line, sizeof line) != NULL) {
      say(1, "cwd ");
      say(1, line);
      say(1, "\n");
    }
    return 0;
  }
  if (strcmp(mode, "stdin") == 0) {
    /* Standard input must be open and hold nothing. */
    struct pollfd in = {0, POLLIN, 0};
    int ready = poll(&in, 1, 300);
    say(1, ready == 0 ? "stdin open and empty\n" : "stdin readable or closed\n");
    return 0;
  }
  if (strcmp(mode, "env") == 0) {
    const char* value = getenv(argv[2]);
    snprintf(line, sizeof line, "%s=%s\n", argv[2], value != NULL ? value : "(unset)");
    say(1, line);
    return 0;
  }
  say(2, "unknown mode\n");
  return 2;
}
