#include "run_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& directory,
                          const std::string& input) {
  TProcessResult result;
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0) return result;
  if (pipe(fromChild) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    dup2(fromChild[1], STDERR_FILENO);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  if (pid < 0) {
    close(toChild[1]);
    close(fromChild[0]);
    return result;
  }
  // The inputs are small: write them all, then read until the child closes its end.
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  while (written < input.size()) {
    const ssize_t n = write(toChild[1], input.data() + written, input.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  close(toChild[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fromChild[0], buffer, sizeof buffer);
    if (n > 0) result.output.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  close(fromChild[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}
