#include "tools/ble-scan/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

extern char** environ;

namespace beaconsweep {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKillAfterMs = 15000;  // a hung child must not hang the suite

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Close-on-exec, so that the child holds only the ends it is given.
bool MakePipe(int fds[2]) {
  if (pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
}

std::string VariableName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    bool replaced = false;
    for (const std::string& override_entry : overrides) {
      replaced = replaced || VariableName(override_entry) == VariableName(entry);
    }
    if (!replaced) entries.push_back(entry);
  }
  entries.insert(entries.end(), overrides.begin(), overrides.end());
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment) {
  ProcessResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (!MakePipe(out_pipe) || !MakePipe(err_pipe)) {
    ADD_FAILURE() << "pipe failed";
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv = Pointers(argv_text);
  std::vector<std::string> env_text = ChildEnvironment(environment);
  std::vector<char*> envp = Pointers(env_text);

  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program;
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
  }

  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_streams = 2;
  while (open_streams > 0) {
    const int64_t left = kKillAfterMs - MsSince(start);
    if (left <= 0) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << program << " did not end";
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) < 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        if (k == 0 && result.first_output_ms < 0) result.first_output_ms = MsSince(start);
        sinks[k]->append(buffer, static_cast<size_t>(n));
        continue;
      }
      close(fds[k].fd);
      fds[k].fd = -1;
      --open_streams;
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.elapsed_ms = MsSince(start);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

}  // namespace beaconsweep
