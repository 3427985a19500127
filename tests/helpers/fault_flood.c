/* An emulator that floods its output: lines of 64 bytes, as many bytes as the file "flood_bytes"
   in its working directory says (1 GiB when there is none), then the frame-rate line. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int write_all(const char* data, size_t n) {
  while (n > 0) {
    ssize_t done = write(1, data, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    data += done;
    n -= (size_t)done;
  }
  return 0;
}

int main(void) {
  long long total = 1LL << 30;
  FILE* config = fopen("flood_bytes", "r");
  if (config != NULL) {
    if (fscanf(config, "%lld", &total) != 1) total = 1LL << 30;
    fclose(config);
  }
  /* 64 KiB of 64-byte lines per write. */
  static char block[65536];
  for (size_t i = 0; i < sizeof block; i += 64) {
    memset(block + i, 'x', 63);
    block[i + 63] = '\n';
  }
  for (long long written = 0; written < total; written += (long long)sizeof block) {
    if (write_all(block, sizeof block) != 0) return 2;
  }
  const char* last = "Average FPS: 77.0 (5000 frames)\n";
  return write_all(last, strlen(last)) == 0 ? 0 : 3;
}
