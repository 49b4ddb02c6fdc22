// The file helpers of the system tests, and the client that speaks the wire.
#include <algorithm>
#include <filesystem>

#include "net/command.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "tests/system/system_host.h"

namespace systest {

namespace fs = std::filesystem;

::testing::AssertionResult Says(const std::string& output, const std::vector<std::string>& says,
                                const std::vector<std::string>& never) {
  for (const std::string& text : says) {
    if (!Has(output, text)) return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << output;
  }
  for (const std::string& text : never) {
    if (Has(output, text)) return ::testing::AssertionFailure() << "\"" << text << "\" in:\n" << output;
  }
  return ::testing::AssertionSuccess();
}

Digests RolledForwardOnly(const Digests& digests, const std::set<std::string>& unlogged) {
  Digests kept;
  for (const auto& [path, hash] : digests) {
    std::string name = path.substr(path.find_last_of('\\') + 1);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name != "log.nsf" && !name.ends_with(".ntf") && unlogged.count(path) == 0) kept[path] = hash;
  }
  return kept;
}

std::vector<std::string> FileNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Tree(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), dir).string();
    out.push_back(it->is_directory() ? rel + "/" : rel + "=" + ReadText(it->path().string()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

StreamingClient::StreamingClient(std::uint16_t port) {
  std::string error;
  socket_ = platform::ConnectTcp("127.0.0.1", port, &error);
  EXPECT_TRUE(socket_.valid()) << error;
  SetIoTimeoutSeconds(120);
}

DominoServerInfo StreamingClient::Discover(const std::string& name) {
  SendByte(socket_.get(), int(CommandCode::DiscoverServers));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  DiscoveryReply reply;
  RecvDiscoveryReplyTail(socket_.get(), reply);
  for (const DominoServerInfo& server : reply.servers) {
    if (server.commonName == name || server.serverName == name) return server;
  }
  ADD_FAILURE() << "discovery does not know " << name;
  return {};
}

void StreamingClient::StartBackup(const DominoServerInfo& server, const BackupRequest& request) {
  SendByte(socket_.get(), int(CommandCode::RunBackup));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  SendBackupRequest(socket_.get(), request);
  DominoServerInfo record = server;
  record.snapshots.clear();
  SendDominoServerInfo(socket_.get(), record);
}

void StreamingClient::StartRestore(const DominoServerInfo& server, const SnapshotEntry& snapshot, bool pointInTime) {
  SendByte(socket_.get(), int(CommandCode::RunRestore));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  RestoreRequest request;
  request.server = server;
  request.server.snapshots.clear();
  request.snapshot = snapshot;
  request.pointInTime = pointInTime ? 1 : 0;
  SendRestoreRequest(socket_.get(), request);
}

bool StreamingClient::ReadUntil(const std::string& needle, std::string& seen) {
  try {
    for (;;) {
      const std::string piece = RecvString(socket_.get());
      if (piece == "done") return false;
      seen += piece;
      if (Has(piece, needle)) return true;
    }
  } catch (const WireError& error) {
    seen += "[" + error.text() + "]";
    return false;
  }
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string U32(std::uint32_t v) { return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)}); }

void WriteRaw(platform::SOCKET s, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    ASSERT_EQ(platform::WaitReady(s, true, 30000), 1);
    const long n = platform::Send(s, bytes.data() + at, bytes.size() - at);
    ASSERT_GE(n, 0);
    at += std::size_t(n);
  }
}

std::string ReadRaw(platform::SOCKET s, std::size_t n, long timeoutMs) {
  std::string out;
  char buffer[65536];
  while (out.size() < n && platform::WaitReady(s, false, timeoutMs) == 1) {
    const long got = platform::Recv(s, buffer, std::min(n - out.size(), sizeof buffer));
    if (got <= 0) break;
    out.append(buffer, std::size_t(got));
  }
  return out;
}

}  // namespace systest
