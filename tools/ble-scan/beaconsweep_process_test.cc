// The built programs run as real processes: the shipped beaconsweep (given a
// system bus that does not exist, so without Bluetooth) and its test build
// replaying a scripted central manager. Checks the bytes on both output streams, the exit status
// and when the process ends, counted from the moment it was started.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace beaconsweep {
namespace {

using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr int kKillAfterMs = 15000;  // a hung child must not hang the suite

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_code = -1;  // -1 unless the process exited normally
  int64_t elapsed_ms = 0;
  int64_t first_output_ms = -1;  // when the first stdout byte arrived
};

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

ProcessResult RunProgram(const std::string& program, const Args& args,
                         const std::string& script_path = "") {
  ProcessResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  // Where the shipped program looks for BlueZ: nowhere, so that the Bluetooth
  // of the machine running the tests never enters the results.
  const std::string bus_variable = "DBUS_SYSTEM_BUS_ADDRESS=";
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind(bus_variable, 0) != 0) env_text.emplace_back(*e);
  }
  if (!script_path.empty()) env_text.push_back("BEACONSWEEP_REPLAY_SCRIPT=" + script_path);
  env_text.push_back(bus_variable + "unix:path=" + ::testing::TempDir() +
                     "beaconsweep-no-system-bus");
  std::vector<char*> envp;
  for (std::string& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);

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

std::string WriteScript(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + "beaconsweep_" + name + ".script";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void ExpectOneErrorLine(const ProcessResult& run) {
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_LT(run.elapsed_ms, 1500) << "should end at once, not after the 5 s scan";
}

TEST(ShippedProgramTest, BehavesAsWithBluetoothUnavailable) {
  const ProcessResult run = RunProgram(BEACONSWEEP_PROGRAM, {"--service", "180D", "--timeout-ms",
                                                             "400", "--name-prefix", "Polar"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_GE(run.elapsed_ms, 400);
  EXPECT_LT(run.elapsed_ms, 1500);
}

TEST(ShippedProgramTest, TimeoutThatIsNotAnIntegerKeepsTwoSeconds) {
  const ProcessResult run =
      RunProgram(BEACONSWEEP_PROGRAM, {"--timeout-ms", "abc", "--service", "180D", "--timeout-ms"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_GE(run.elapsed_ms, 2000);
  EXPECT_LT(run.elapsed_ms, 3500);
}

TEST(ShippedProgramTest, MissingServiceIsOneErrorLineAndStatusTwo) {
  ExpectOneErrorLine(RunProgram(BEACONSWEEP_PROGRAM, {"--timeout-ms", "5000", "--service"}));
}

TEST(ShippedProgramTest, InvalidServiceIsOneErrorLineAndStatusTwo) {
  ExpectOneErrorLine(
      RunProgram(BEACONSWEEP_PROGRAM, {"--service", "180D\nFEAA", "--timeout-ms", "5000"}));
}

TEST(ReplayProgramTest, PrintsEachMatchingDeviceOnceAsItIsFound) {
  const std::string script = WriteScript("full", R"(# radio off, then on
0 state 4
100 state 5
150 discover AAAAAAAA-0000-4000-8000-000000000001 name=Polar\x20H10
180 discover AAAAAAAA-0000-4000-8000-000000000002 local=Polar\x09"Q"/\\\x01\x20\xC3\xA9
200 discover AAAAAAAA-0000-4000-8000-000000000001 name=Polar\x20H10
220 discover AAAAAAAA-0000-4000-8000-000000000003
250 discover AAAAAAAA-0000-4000-8000-000000000004 name=Garmin
400 discover AAAAAAAA-0000-4000-8000-000000000003 local=Caf\xC3\xA9\x20\xE2\x98\x95
1600 discover AAAAAAAA-0000-4000-8000-000000000005 name=Polar\x20Late
)");
  const ProcessResult run = RunProgram(
      BEACONSWEEP_REPLAY, {"--service", "0000180d-0000-1000-8000-00805f9b34fb", "--timeout-ms",
                           "1200", "--name-prefix", "Polar", "--name-prefix", "Caf"},
      script);
  EXPECT_EQ(run.out,
            "{\"id\":\"AAAAAAAA-0000-4000-8000-000000000001\",\"name\":\"Polar H10\","
            "\"serviceUuids\":[\"180D\"]}\n"
            "{\"id\":\"AAAAAAAA-0000-4000-8000-000000000002\",\"name\":\"Polar\\t\\\"Q\\\"\\/"
            "\\\\\\u0001 \xC3\xA9\",\"serviceUuids\":[\"180D\"]}\n"
            "{\"id\":\"AAAAAAAA-0000-4000-8000-000000000003\",\"name\":\"Caf\xC3\xA9 \xE2\x98\x95\","
            "\"serviceUuids\":[\"180D\"]}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_GE(run.elapsed_ms, 1200);
  EXPECT_LT(run.elapsed_ms, 2200);
  // Lines are written while scanning, not held back until the end.
  EXPECT_GE(run.first_output_ms, 0);
  EXPECT_LT(run.first_output_ms, 900);
}

TEST(ReplayProgramTest, DeadlineCountsFromStartUpNotFromScanStart) {
  const std::string script = WriteScript("late_power", R"(1000 state 5
1100 discover BBBBBBBB-0000-4000-8000-000000000001 name=Early
1700 discover BBBBBBBB-0000-4000-8000-000000000002 name=Late
)");
  const ProcessResult run =
      RunProgram(BEACONSWEEP_REPLAY, {"--service", "FEAA", "--timeout-ms", "1200"}, script);
  EXPECT_EQ(run.out,
            "{\"id\":\"BBBBBBBB-0000-4000-8000-000000000001\",\"name\":\"Early\","
            "\"serviceUuids\":[\"FEAA\"]}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_GE(run.elapsed_ms, 1200);
  EXPECT_LT(run.elapsed_ms, 2000) << "a deadline counted from the scan start ends at 2200 ms";
}

TEST(ReplayProgramTest, MissingServiceEndsBeforeAnythingIsReplayed) {
  const std::string script = WriteScript("no_service", "0 state 5\n1 discover X name=Y\n");
  ExpectOneErrorLine(RunProgram(BEACONSWEEP_REPLAY, {"--timeout-ms", "5000"}, script));
}

}  // namespace
}  // namespace beaconsweep
