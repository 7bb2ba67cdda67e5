// proctime: runs a command and reports what the whole process cost.
//   proctime RESULT_FILE COMMAND [ARGS...]
// Writes one line "user_seconds system_seconds peak_kib exit_status" to
// RESULT_FILE (microsecond resolution, unlike time(1)'s hundredths).  The
// command keeps this program's standard input and output.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: proctime RESULT_FILE COMMAND [ARGS...]\n");
    return 2;
  }
  const pid_t child = fork();
  if (child < 0) {
    std::perror("proctime: fork");
    return 2;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror("proctime: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("proctime: wait");
    return 2;
  }
  FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::perror("proctime: result file");
    return 2;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(out, "%.6f %.6f %ld %d\n", double(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6,
               double(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6, usage.ru_maxrss, code);
  return std::fclose(out) == 0 ? code : 2;
}
