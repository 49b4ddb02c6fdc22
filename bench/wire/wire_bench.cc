// A 64 MiB string over loopback: through the wire primitives (SendString /
// RecvString) against a plain socket copy of the same bytes, in the same
// run. Prints both throughputs and their ratio (target: at least 0.5).
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/wire.h"

namespace ark {

namespace {

constexpr std::size_t kSize = 64u * 1024u * 1024u;
constexpr int kRounds = 9;

struct Pair {
  platform::Socket sender;
  platform::Socket receiver;
};

Pair Connect() {
  bool bindFailed = false;
  platform::Socket listener = platform::CreateTcpListener(0, &bindFailed);
  platform::Listen(listener.get(), 1);
  std::string error;
  Pair pair;
  pair.sender = platform::ConnectTcp("127.0.0.1", platform::LocalPort(listener.get()), &error);
  pair.receiver.reset(platform::Accept(listener.get(), nullptr, nullptr));
  if (!pair.sender.valid() || !pair.receiver.valid()) {
    std::fprintf(stderr, "bench_wire: no loopback connection: %s\n", error.c_str());
    std::exit(1);
  }
  return pair;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The baseline: blocking send() and recv() of the bytes into a buffer made
// beforehand.
double PlainCopy(const std::string& data, std::vector<char>& sink) {
  Pair pair = Connect();
  auto start = std::chrono::steady_clock::now();
  std::thread sender([&] {
    std::size_t sent = 0;
    while (sent < data.size()) {
      ssize_t n = ::send(pair.sender.get(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) std::exit(2);
      sent += static_cast<std::size_t>(n);
    }
  });
  std::size_t got = 0;
  while (got < data.size()) {
    ssize_t n = ::recv(pair.receiver.get(), sink.data() + got, data.size() - got, 0);
    if (n <= 0) std::exit(2);
    got += static_cast<std::size_t>(n);
  }
  sender.join();
  return Seconds(std::chrono::steady_clock::now() - start);
}

// The primitives, receiving into a text that (like the baseline's buffer)
// is reused from round to round.
double Primitives(const std::string& data, std::string& text) {
  Pair pair = Connect();
  auto start = std::chrono::steady_clock::now();
  std::thread sender([&] { SendString(pair.sender.get(), data); });
  RecvString(pair.receiver.get(), text);
  sender.join();
  double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (text != data) std::exit(3);  // every byte arrived
  return seconds;
}

// The fastest round: on a shared machine, the other rounds measure the
// neighbours as much as the code.
double Best(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

}  // namespace

}  // namespace ark

using namespace ark;

int main() {
  std::string data(kSize, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 12));
  std::vector<char> sink(kSize);
  std::string text;
  std::vector<double> plain, wire;
  for (int round = 0; round < kRounds; ++round) {
    plain.push_back(PlainCopy(data, sink));
    wire.push_back(Primitives(data, text));
  }
  const double mib = double(kSize) / (1024 * 1024);
  double plainRate = mib / Best(plain), wireRate = mib / Best(wire);
  std::printf("bench_wire: 64 MiB string over loopback, best of %d rounds\n", kRounds);
  std::printf("  plain socket copy:   %8.1f MiB/s\n", plainRate);
  std::printf("  wire primitives:     %8.1f MiB/s\n", wireRate);
  std::printf("  ratio wire / plain:  %8.2f (target >= 0.50)\n", wireRate / plainRate);
  if (std::getenv("BENCH_VERBOSE") != nullptr)
    for (int round = 0; round < kRounds; ++round)
      std::printf("  round %d: plain %.1f ms, wire %.1f ms\n", round, plain[round] * 1000, wire[round] * 1000);
  return 0;
}
