// fuzz_protocol: feeds untrusted bytes to the service's command reader and to
// the record decoders, as a client would send them, through a socket pair.
// The first byte of an input chooses what reads the rest:
//   0  a whole conversation: command codes and each command's request
//   1  DominoServerInfo   2  BackupRequest   3  RestoreRequest
//   4  strings, short texts and wide texts   5  the discovery reply (client side)
//   6  SnapshotEntry
// Every WireError is an expected outcome. A crash, a leak, undefined
// behaviour, or a record that does not survive being sent again unchanged
// (the sender and receiver disagree about the bytes) is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/wire_pipe.h"
#include "net/command.h"
#include "net/io_timeout.h"
#include "net/wire.h"
#include "net/wire_records.h"

namespace ark {

namespace {

constexpr long kFuzzIoTimeoutMilliseconds = 1000;
constexpr int kModes = 7;

[[noreturn]] void Finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_protocol: %s: %s\n", what, detail.c_str());
  std::abort();
}

// A received record, sent again, must come back as the same record: the
// bytes of the second sending equal those of the first.
template <typename Record>
void CheckRoundTrip(const char* what, const Record& received, void (*send)(SOCKET, const Record&),
                    void (*recv)(SOCKET, Record&)) {
  try {
    const std::string first = fuzzwire::Capture([&](SOCKET s) { send(s, received); });
    Record again;
    fuzzwire::Feed(first, [&](SOCKET s) { recv(s, again); });
    const std::string second = fuzzwire::Capture([&](SOCKET s) { send(s, again); });
    if (first != second) {
      Finding(what, "sent again, " + std::to_string(first.size()) + " bytes became " +
                        std::to_string(second.size()) + " different bytes");
    }
  } catch (const WireError& error) {
    Finding(what, "what the sender made cannot be received: " + error.text());
  }
}

void ServerInfo(SOCKET s) {
  DominoServerInfo server;
  RecvDominoServerInfo(s, server);
  CheckRoundTrip<DominoServerInfo>("DominoServerInfo", server, SendDominoServerInfo, RecvDominoServerInfo);
}

void Backup(SOCKET s) {
  BackupRequest request;
  RecvBackupRequest(s, request);
  CheckRoundTrip<BackupRequest>("BackupRequest", request, SendBackupRequest, RecvBackupRequest);
}

void Restore(SOCKET s) {
  RestoreRequest request;
  RecvRestoreRequest(s, request);
  CheckRoundTrip<RestoreRequest>("RestoreRequest", request, SendRestoreRequest, RecvRestoreRequest);
}

void Entry(SOCKET s) {
  SnapshotEntry entry;
  RecvSnapshotEntry(s, entry);
  CheckRoundTrip<SnapshotEntry>("SnapshotEntry", entry, SendSnapshotEntry, RecvSnapshotEntry);
}

// A report command's type byte, then its name when the type is valid (an
// invalid type leaves the name unread, as the session does).
void ReportRequest(SOCKET s, bool withName) {
  const int type = static_cast<std::int8_t>(RecvByte(s));
  if (withName && type >= 0 && type < 4) RecvString(s);
}

// Reads requests the way the session does until EndSession or a wire error.
void Conversation(SOCKET s) {
  for (;;) {
    Command command;
    ReadCommand(s, command);
    switch (static_cast<CommandCode>(command.code)) {
      case CommandCode::ListReports:
        if (command.payload.size() != 1) std::abort();
        break;
      case CommandCode::GetReportTime:
      case CommandCode::ReadReport:
      case CommandCode::DeleteReport:
        ReportRequest(s, true);
        break;
      case CommandCode::DeleteReportsOfType:
        ReportRequest(s, false);
        break;
      case CommandCode::RunBackup:
        Backup(s);
        ServerInfo(s);
        break;
      case CommandCode::RunRestore:
        Restore(s);
        break;
      case CommandCode::TestFlag:
        RecvU32(s);
        break;
      case CommandCode::VerifySnapshot:
        ServerInfo(s);
        RecvString(s);
        break;
      case CommandCode::EndSession:
        return;
      case CommandCode::DiscoverServers:
      case CommandCode::QueryBackupWizardRun:
      case CommandCode::QueryConfigWizardRun:
      case CommandCode::QueryDominoRunning:
      case CommandCode::Noop:
      case CommandCode::QueryZero:
      case CommandCode::Unknown:
        break;
      default:
        std::abort();  // the reader never produces another code
    }
  }
}

void Texts(SOCKET s) {
  for (;;) {
    std::string text;
    RecvString(s, text);
    FixedText<32> shortText;
    RecvShortText(s, shortText);
    if (shortText.bytes[31] != 0) std::abort();
    FixedWideText<32> wide;
    RecvWideText(s, wide);
    if (wide.chars[31] != 0) std::abort();
  }
}

void Discovery(SOCKET s) {
  DiscoveryReply reply;
  RecvDiscoveryReplyTail(s, reply);
  const auto send = [&reply](SOCKET out) {
    SendDiscoveryReplyTail(out, std::uint32_t(reply.servers.size()), reply.partitioned, reply.computerName,
                           reply.servers);
  };
  try {
    const std::string first = fuzzwire::Capture(send);
    DiscoveryReply again;
    fuzzwire::Feed(first, [&](SOCKET in) { RecvDiscoveryReplyTail(in, again); });
    reply = std::move(again);
    const std::string second = fuzzwire::Capture(send);
    if (first != second) Finding("discovery reply", "sent again, the bytes differ");
  } catch (const WireError& error) {
    Finding("discovery reply", "what the sender made cannot be received: " + error.text());
  }
}

bool Initialize() {
  SetIoTimeoutMilliseconds(kFuzzIoTimeoutMilliseconds);
  // The reader keeps only the codes that have a handler; the long
  // operations' handlers are never called here.
  const CommandHandler unused = [](SOCKET, Command&) { return true; };
  for (CommandCode code : {CommandCode::DiscoverServers, CommandCode::RunBackup, CommandCode::RunRestore,
                           CommandCode::VerifySnapshot}) {
    RegisterCommand(code, unused);
  }
  return true;
}

}  // namespace

}  // namespace ark

using namespace ark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialized = Initialize();
  (void)initialized;
  if (size == 0) return 0;
  const int mode = data[0] % kModes;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  fuzzwire::Feed(rest, [mode](SOCKET s) {
    try {
      switch (mode) {
        case 0:
          Conversation(s);
          break;
        case 1:
          ServerInfo(s);
          break;
        case 2:
          Backup(s);
          break;
        case 3:
          Restore(s);
          break;
        case 4:
          Texts(s);
          break;
        case 5:
          Discovery(s);
          break;
        default:
          Entry(s);
          break;
      }
    } catch (const WireError&) {
      // The expected end of every malformed or cut conversation.
    }
  });
  return 0;
}
