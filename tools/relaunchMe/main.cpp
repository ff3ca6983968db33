// Waits until its standard input closes (the application that started it has exited),
// then starts the application again with the path given as its first argument.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: relaunchMe <application>\n");
    return 2;
  }
  char buffer[256];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    break;
  }
  // The application gets an ordinary standard input, not our finished pipe.
  const int null = open("/dev/null", O_RDONLY);
  if (null >= 0 && null != STDIN_FILENO) {
    dup2(null, STDIN_FILENO);
    close(null);
  }
  execv(argv[1], argv + 1);
  std::perror("relaunchMe");
  return 1;
}
