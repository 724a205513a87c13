/* The floor of a chain of imports: open FILE, size it, read it whole and close it, COUNT times,
   with nothing parsed or run in between. Usage: reads FILE COUNT */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 3) {
    fputs("usage: reads FILE COUNT\n", stderr);
    return 2;
  }
  long count = strtol(argv[2], NULL, 10);
  size_t total = 0;
  for (long i = 0; i < count; ++i) {
    int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      perror(argv[1]);
      return 1;
    }
    char *text = malloc((size_t)st.st_size + 1);
    ssize_t got = text ? read(fd, text, (size_t)st.st_size) : -1;
    close(fd);
    if (got != st.st_size) {
      fprintf(stderr, "%s: short read\n", argv[1]);
      return 1;
    }
    total += (size_t)got;
    free(text);
  }
  printf("%ld reads, %zu bytes\n", count, total);
  return 0;
}
