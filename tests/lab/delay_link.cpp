// delay_link: a TUN device that hands every packet back to the kernel a
// fixed time after it was sent, for kernels without netem.
//
//   delay_link DEVICE MICROSECONDS
//
// The lab routes the packets between its addresses through DEVICE (see
// "Latency" in lab.sh); this program reads each one, holds it for the delay
// and writes it back, where the kernel receives it as if from a wire.  The
// delay is constant, so the packets leave in the order they came and a
// FIFO is all the scheduling needed.  The queue is bounded like a link's:
// a packet that finds it full is dropped, and TCP resends it.
//
// It runs until it gets SIGTERM or SIGINT, or its PID namespace ends.

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"

namespace {

using zarvik::FileDescriptor;

constexpr std::size_t kMaxPacket = 65536;
constexpr std::size_t kMaxQueued = 20000;  // 800,000 packets a second at 25 ms
constexpr int kReadBatch = 256;            // then the due ones go out

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

std::int64_t nowMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

struct HeldPacket {
  std::int64_t dueMicros;
  std::vector<unsigned char> bytes;
};

// Opens the TUN device DEVICE (made if it does not exist) without the
// packet-information header, non-blocking.  Invalid, and says why, when
// it cannot.
FileDescriptor openTun(const std::string& device) {
  FileDescriptor fd(open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!fd.isValid()) {
    std::perror("delay_link: /dev/net/tun");
    return fd;
  }
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::snprintf(request.ifr_name, IFNAMSIZ, "%s", device.c_str());
  if (ioctl(fd.get(), TUNSETIFF, &request) < 0) {
    std::perror("delay_link: TUNSETIFF");
    fd.reset();
  }
  return fd;
}

// Reads the packets waiting on the device (up to kReadBatch, so that a
// flood does not hold back the due ones) into the queue, each due
// delayMicros from now.
void takeArrivals(int fd, std::int64_t delayMicros, std::deque<HeldPacket>& queue, std::vector<unsigned char>& buffer) {
  for (int i = 0; i < kReadBatch; ++i) {
    ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n <= 0) return;  // EAGAIN: nothing more for now
    if (queue.size() >= kMaxQueued) continue;
    queue.push_back({nowMicros() + delayMicros, std::vector<unsigned char>(buffer.begin(), buffer.begin() + n)});
  }
}

// Writes back every packet whose time has come.  A packet the kernel will
// not take (its backlog full) is dropped, as a congested link would.
void releaseDue(int fd, std::deque<HeldPacket>& queue) {
  std::int64_t now = nowMicros();
  while (!queue.empty() && queue.front().dueMicros <= now) {
    const auto& bytes = queue.front().bytes;
    (void)!write(fd, bytes.data(), bytes.size());
    queue.pop_front();
  }
}

int run(const std::string& device, std::int64_t delayMicros) {
  FileDescriptor tun = openTun(device);
  if (!tun.isValid()) return 1;
  std::deque<HeldPacket> queue;
  std::vector<unsigned char> buffer(kMaxPacket);
  while (!g_stop) {
    timespec wait{1, 0};
    if (!queue.empty()) {
      std::int64_t left = queue.front().dueMicros - nowMicros();
      if (left < 0) left = 0;
      wait = {static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
    }
    pollfd readable{tun.get(), POLLIN, 0};
    int ready = ppoll(&readable, 1, &wait, nullptr);
    if (ready < 0 && errno != EINTR) {
      std::perror("delay_link: ppoll");
      return 1;
    }
    if (ready > 0) takeArrivals(tun.get(), delayMicros, queue, buffer);
    releaseDue(tun.get(), queue);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: delay_link DEVICE MICROSECONDS\n");
    return 2;
  }
  char* end = nullptr;
  long long delay = std::strtoll(argv[2], &end, 10);
  if (*argv[2] == '\0' || *end != '\0' || delay < 0 || delay > 10000000) {
    std::fprintf(stderr, "delay_link: a delay of 0 to 10000000 microseconds, not %s\n", argv[2]);
    return 2;
  }
  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);
  return run(argv[1], delay);
}
