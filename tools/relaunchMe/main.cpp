// Waits until its standard input closes (the application that started it has exited),
// then starts the application again with the path given as its first argument.
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: relaunchMe <application>\n");
    return 2;
  }
  char buffer[256];
  while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  execv(argv[1], argv + 1);
  std::perror("relaunchMe");
  return 1;
}
