// CPU time the stream receiver's thread costs per second of wall time:
// idle (no stream), and while it decodes a live stream from the simulator,
// which runs as its own process so that its work is not counted here.
//
//   torvane_bench_receiver [--seconds 10]
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "link/ConsultSession.h"
#include "link/StreamReceiver.h"
#include "bench/Measure.h"

namespace {

using bench::ProcessCpuSeconds;

// Milliseconds of CPU per second of wall time over `seconds`; the main
// thread only sleeps meanwhile.
double CpuPerSecond(int seconds) {
  const double before = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return (ProcessCpuSeconds() - before) * 1000.0 / wall;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0) seconds = std::atoi(argv[2]);

  int pipeFds[2];
  if (pipe(pipeFds) != 0) return 1;
  const pid_t simulator = fork();
  if (simulator == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    execl(TORVANE_ECU_SIM, TORVANE_ECU_SIM, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  std::string slave;
  char c = 0;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') slave += c;
  if (slave.empty()) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }

  SerialPort port;
  port.SetDevicePath(1, slave);
  ConsultSession session(port);
  RecorderState recorder;
  StreamReceiver receiver(session, recorder);

  const double idle = CpuPerSecond(seconds);

  if (session.OpenPort(1) != ConsultSession::kOk || session.InitializeEcu() != ConsultSession::kOk) {
    std::fprintf(stderr, "no ECU on %s\n", slave.c_str());
    kill(simulator, SIGTERM);
    return 1;
  }
  uint8_t request[100];
  int32_t length = 0;
  StreamReceiver::BuildStreamRequest(request, &length);
  if (session.Send(request, length) != ConsultSession::kOk) {
    std::fprintf(stderr, "cannot send the stream request on %s\n", slave.c_str());
    kill(simulator, SIGTERM);
    return 1;
  }
  receiver.active = 1;
  const double streaming = CpuPerSecond(seconds);
  receiver.active = 0;
  // The figures are taken; the simulator is ended below either way.
  (void)session.StopStream();
  (void)session.ClosePort();
  kill(simulator, SIGTERM);
  waitpid(simulator, nullptr, 0);

  std::printf("receiver idle:      %.3f ms CPU per second\n", idle);
  std::printf("receiver streaming: %.3f ms CPU per second\n", streaming);
  return 0;
}
