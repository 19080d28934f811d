#include "support/desktop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/fixtures.h"

namespace sa::testing {
namespace {

// Runs `command` through the shell on `display`; its standard output.
// `status` gets the command's exit status.
std::string Capture(const std::string& display, const std::string& command, int* status = nullptr) {
  const std::string line = "DISPLAY='" + display + "' " + command + " 2>/dev/null";
  std::FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run: " << line;
    return {};
  }
  std::string out;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  const int raw = ::pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

// The number after `label` in xwininfo's report, -1 when absent.
int Field(const std::string& report, const std::string& label) {
  const size_t at = report.find(label);
  if (at == std::string::npos) return -1;
  return std::atoi(report.c_str() + at + label.size());
}

// Reads the next header number of a binary PPM, skipping blanks and comments.
bool HeaderNumber(const std::string& data, size_t& at, int& value) {
  while (at < data.size()) {
    if (data[at] == '#') {
      while (at < data.size() && data[at] != '\n') ++at;
    } else if (std::isspace(static_cast<unsigned char>(data[at]))) {
      ++at;
    } else {
      break;
    }
  }
  if (at >= data.size() || !std::isdigit(static_cast<unsigned char>(data[at]))) return false;
  value = 0;
  while (at < data.size() && std::isdigit(static_cast<unsigned char>(data[at]))) {
    value = value * 10 + (data[at++] - '0');
  }
  return true;
}

}  // namespace

TestDisplay DesktopDisplay() {
  if (const std::optional<std::string> started = FixtureValue("display")) return {*started, true};
  const char* value = std::getenv("DISPLAY");
  const char* required = std::getenv("SA_DESKTOP_TESTS");
  return {value != nullptr ? value : "", required != nullptr && std::string(required) == "1"};
}

std::string DeadDisplay() {
  for (int number = 73;; ++number) {
    const std::string n = std::to_string(number);
    if (!std::filesystem::exists("/tmp/.X11-unix/X" + n) &&
        !std::filesystem::exists("/tmp/.X" + n + "-lock")) {
      return ":" + n;
    }
  }
}

bool DisplayAnswers(const std::string& display) {
  int status = -1;
  Capture(display, "xdpyinfo", &status);
  return status == 0;
}

PrivateDisplay::PrivateDisplay(int width, int height) {
  int ready[2];
  if (::pipe(ready) != 0) {
    ADD_FAILURE() << "no pipe for Xvfb";
    return;
  }
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid_ = ::fork();
  if (pid_ == 0) {
    // Xvfb picks a free display number and writes it to descriptor 3 once it
    // accepts connections.
    ::dup2(ready[1], 3);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(ready[1]);
  std::string number;
  char c = 0;
  while (::read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(ready[0]);
  if (pid_ > 0 && !number.empty()) name_ = ":" + number;
  if (name_.empty()) ADD_FAILURE() << "Xvfb did not start";
}

PrivateDisplay::~PrivateDisplay() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

bool StillRunning(pid_t pid) {
  siginfo_t info{};
  int result = 0;
  do {
    result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return false;
  return info.si_pid == 0;  // nothing to report yet
}

unsigned long WaitForWindow(const std::string& display, pid_t pid, const std::string& title) {
  const std::string command = "xdotool search --all --onlyvisible --pid " + std::to_string(pid) +
                              " --name '^" + title + "$'";
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < bound) {
    std::istringstream found(Capture(display, command));
    unsigned long window = 0;
    if (found >> window) return window;
    if (!StillRunning(pid)) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

Geometry WindowGeometry(const std::string& display, unsigned long window) {
  const std::string report = Capture(display, "xwininfo -id " + std::to_string(window));
  Geometry g;
  g.x = Field(report, "Absolute upper-left X:");
  g.y = Field(report, "Absolute upper-left Y:");
  g.width = Field(report, "Width:");
  g.height = Field(report, "Height:");
  return g;
}

Picture CaptureWindow(const std::string& display, unsigned long window) {
  const std::string data =
      Capture(display, "import -window " + std::to_string(window) + " -depth 8 ppm:-");
  Picture picture;
  size_t at = 2;
  int maxValue = 0;
  if (data.compare(0, 2, "P6") != 0 || !HeaderNumber(data, at, picture.width) ||
      !HeaderNumber(data, at, picture.height) || !HeaderNumber(data, at, maxValue) ||
      maxValue != 255) {
    ADD_FAILURE() << "no 8-bit PPM picture of window " << window;
    return {};
  }
  ++at;  // the single blank after the header
  const size_t size = static_cast<size_t>(picture.width) * picture.height * 3;
  if (data.size() < at + size) {
    ADD_FAILURE() << "short picture of window " << window;
    return {};
  }
  picture.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                     data.begin() + static_cast<std::ptrdiff_t>(at + size));
  return picture;
}

void PressReturn(const std::string& display, unsigned long window) {
  int status = -1;
  Capture(display, "xdotool windowfocus --sync " + std::to_string(window) + " key Return", &status);
  EXPECT_EQ(status, 0) << "xdotool could not press Return";
}

}  // namespace sa::testing
