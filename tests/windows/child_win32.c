/* The runner tests' child program on Windows (tests/helpers/child.c on Linux): the first argument
   picks what it does; the modes the Windows suites use behave as there. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static void write_all(HANDLE out, const char* text, DWORD n) {
  while (n > 0) {
    DWORD done = 0;
    if (!WriteFile(out, text, n, &done, NULL)) return;
    text += done;
    n -= done;
  }
}

static void say(HANDLE out, const char* text) {
  write_all(out, text, (DWORD)strlen(text));
}

static void write_file(const char* path, const char* text) {
  char temporary[4096];
  snprintf(temporary, sizeof temporary, "%s.tmp", path);
  FILE* file = fopen(temporary, "wb");
  if (file == NULL) return;
  fputs(text, file);
  fclose(file);
  MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING);
}

/* Starts this program again with the given arguments, inheriting our standard handles. */
static DWORD start_self(const char* arguments) {
  char self[MAX_PATH];
  char command_line[8192];
  STARTUPINFOA startup;
  PROCESS_INFORMATION started;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  GetModuleFileNameA(NULL, self, sizeof self);
  snprintf(command_line, sizeof command_line, "\"%s\" %s", self, arguments);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (!CreateProcessA(self, command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &started)) {
    return 0;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return started.dwProcessId;
}

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "silent";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  char line[512];
  if (strcmp(mode, "silent") == 0) return argc > 2 ? atoi(argv[2]) : 0;
  if (strcmp(mode, "affinity") == 0) {
    /* Its affinity mask and priority class, in hexadecimal. */
    DWORD_PTR process_mask = 0, system_mask = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask);
    snprintf(line, sizeof line, "mask %llx class %lx\n", (unsigned long long)process_mask,
             (unsigned long)GetPriorityClass(GetCurrentProcess()));
    say(out, line);
    return 0;
  }
  if (strcmp(mode, "lines") == 0) {
    int count = atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "line %d\n", i);
      say(out, line);
    }
    return 0;
  }
  if (strcmp(mode, "burst") == 0) {
    static char burst[65536];
    size_t used = 0;
    int count = atoi(argv[3]);
    for (int i = 0; i < count && used + 64 < sizeof burst; ++i) {
      used += (size_t)snprintf(burst + used, sizeof burst - used, "%s %d\n", argv[2], i);
    }
    write_all(out, burst, (DWORD)used);
    Sleep((DWORD)atol(argv[4]));
    snprintf(line, sizeof line, "%s end\n", argv[2]);
    say(out, line);
    return 0;
  }
  if (strcmp(mode, "interleave") == 0) {
    int count = atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "%s %d\n", i % 2 == 0 ? "out" : "err", i);
      say(i % 2 == 0 ? out : err, line);
    }
    return 0;
  }
  if (strcmp(mode, "flood") == 0) {
    /* Numbered lines of 16 bytes, 256 to a write, then a file that says the writing is over.
       Under Wine every write is a round trip to its server: one write per line took 15 s for
       4 MiB on an idle machine and more than the tests wait on a busy one. */
    static char block[256 * 16 + 1];
    long total = atol(argv[2]);
    size_t used = 0;
    for (long i = 0; i * 16 < total; ++i) {
      snprintf(block + used, 17, "%015ld\n", i);
      used += 16;
      if (used == sizeof block - 1) {
        write_all(out, block, (DWORD)used);
        used = 0;
      }
    }
    write_all(out, block, (DWORD)used);
    write_file(argv[3], "done\n");
    return 0;
  }
  if (strcmp(mode, "grandchild") == 0) {
    /* grandchild PIDFILE GOFILE RECORD: leaves a grandchild behind that holds the output open,
       writes once GOFILE exists and records how the write went. */
    snprintf(line, sizeof line, "hold %s %s", argv[3], argv[4]);
    DWORD pid = start_self(line);
    snprintf(line, sizeof line, "%lu\n", (unsigned long)pid);
    write_file(argv[2], line);
    say(out, "child done\n");
    return 3;
  }
  if (strcmp(mode, "hold") == 0) {
    /* hold GOFILE RECORD: waits (a minute at most) until GOFILE exists. */
    static char late[4096];
    for (int waited = 0; waited < 6000 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES;
         ++waited) {
      Sleep(10);
    }
    memset(late, 'g', sizeof late);
    late[sizeof late - 1] = '\n';
    DWORD done = 0;
    write_file(argv[3], WriteFile(out, late, sizeof late, &done, NULL) ? "late write done\n"
                                                                       : "late write failed\n");
    return 0;
  }
  if (strcmp(mode, "tree") == 0) {
    /* tree PIDFILE: a grandchild that would sleep for a minute, then we sleep as long. */
    DWORD pid = start_self("silent-wait 60000");
    snprintf(line, sizeof line, "%lu\n", (unsigned long)pid);
    write_file(argv[2], line);
    say(out, "tree up\n");
    Sleep(60000);
    return 0;
  }
  if (strcmp(mode, "silent-wait") == 0) {
    Sleep((DWORD)atol(argv[2]));
    return 0;
  }
  if (strcmp(mode, "slow-writer") == 0) {
    int count = atoi(argv[2]);
    DWORD interval = (DWORD)atol(argv[3]);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
      DWORD done = 0;
      snprintf(line, sizeof line, "tick %d\n", i);
      if (!WriteFile(out, line, (DWORD)strlen(line), &done, NULL)) ++failures;
      Sleep(interval);
    }
    snprintf(line, sizeof line, "ticks %d failures %d exit 7\n", count, failures);
    write_file(argv[4], line);
    return 7;
  }
  if (strcmp(mode, "args") == 0) {
    for (int i = 0; i < argc; ++i) {
      snprintf(line, sizeof line, "[%s]\n", argv[i]);
      say(out, line);
    }
    if (GetCurrentDirectoryA(sizeof line - 8, line) > 0) {
      say(out, "cwd ");
      say(out, line);
      say(out, "\n");
    }
    return 0;
  }
  if (strcmp(mode, "stdin") == 0) {
    /* Standard input must be open and hold nothing. */
    char byte;
    DWORD got = 1;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    BOOL read = in != NULL && in != INVALID_HANDLE_VALUE && ReadFile(in, &byte, 1, &got, NULL);
    say(out, read && got == 0 ? "stdin open and empty\n" : "stdin readable or closed\n");
    return 0;
  }
  if (strcmp(mode, "env") == 0) {
    const char* value = getenv(argv[2]);
    snprintf(line, sizeof line, "%s=%s\n", argv[2], value != NULL ? value : "(unset)");
    say(out, line);
    return 0;
  }
  say(err, "unknown mode\n");
  return 2;
}
