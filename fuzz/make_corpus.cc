// make_corpus DIR: writes the seed inputs of fuzz_protocol, made with the
// real senders: a few valid conversations and one input per decoder.
#include <cstdio>
#include <fstream>
#include <string>

#include "fuzz/wire_pipe.h"
#include "net/command.h"
#include "net/wire.h"
#include "net/wire_records.h"

namespace ark {

namespace {

SnapshotEntry Entry(const std::string& name, const std::string& stamp) {
  SnapshotEntry entry;
  entry.name = name;
  entry.dateText.Set("1-2-2024");
  entry.timeText.Set("10:0:0");
  entry.stampText.Set(stamp);
  entry.displayText.Set("1/2/2024 10:0:00");
  entry.componentName.Set(u"dominosnap");
  entry.componentValue1 = 0x12345678;
  entry.componentValue2 = 0x01DA3D5E;
  return entry;
}

DominoServerInfo Server() {
  DominoServerInfo server;
  server.partition = -1;
  server.dataVolume.driveLetter = u'E';
  server.dataVolume.diskPath = "/vol1/disk";
  server.dataVolume.devicePath = "\\\\dev\\disk1";
  server.dataVolume.present = 1;
  server.dataVolume.volumeName = "vol1";
  server.logVolume = server.dataVolume;
  server.logVolume.driveLetter = u'L';
  server.dataDirectory = "E:\\Domino\\Data";
  server.logDirectory = "L:\\Logs";
  server.notesIniPath = "E:\\Domino\\Data\\notes.ini";
  server.serverName = "srv1/Org";
  server.commonName = "srv1";
  server.loggingStyle = 1;
  server.archiveLogging = 1;
  server.serverNameResolved = true;
  server.loggingStyleText = "archive";
  server.snapshots = {Entry("dominosnap__HOST1__SRV1__RECENT", "1-3-2024_10.0.0"),
                      Entry("dominosnap__HOST1__srv1__1-2-2024_10.0.0", "1-2-2024_10.0.0")};
  return server;
}

void Write(const std::string& dir, const std::string& name, int mode,
           const std::function<void(SOCKET)>& send) {
  const std::string bytes = std::string(1, char(mode)) + fuzzwire::Capture(send);
  std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
}

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const DominoServerInfo server = Server();
  BackupRequest backup;
  backup.deleteExcessSnapshots = true;
  backup.keepCount = 5;
  backup.text5 = "nightly";
  RestoreRequest restore;
  restore.server = server;
  restore.snapshot = server.snapshots[1];
  restore.pointInTime = 1;

  Write(dir, "conversation-backup", 0, [&](SOCKET s) {
    SendByte(s, 12);
    SendByte(s, 7);
    SendBackupRequest(s, backup);
    SendDominoServerInfo(s, server);
    SendByte(s, 15);
  });
  Write(dir, "conversation-restore", 0, [&](SOCKET s) {
    SendByte(s, 8);
    SendRestoreRequest(s, restore);
    SendByte(s, 15);
  });
  Write(dir, "conversation-reports", 0, [&](SOCKET s) {
    SendByte(s, 1), SendByte(s, 1);
    SendByte(s, 2), SendByte(s, 1), SendString(s, "01-02-2024_10.00.00.txt");
    SendByte(s, 3), SendByte(s, 2), SendString(s, "abc");
    SendByte(s, 4), SendByte(s, 7);  // invalid type: no name follows
    SendByte(s, 5), SendByte(s, 3);
    SendByte(s, 14), SendU32(s, 5);
    for (int code : {6, 9, 10, 11, 13, 0, 200, 255}) SendByte(s, code);
    SendByte(s, 15);
  });
  Write(dir, "conversation-verify", 0, [&](SOCKET s) {
    SendByte(s, 16);
    SendDominoServerInfo(s, server);
    SendString(s, "dominosnap__HOST1__srv1__1-2-2024_10.0.0");
    SendByte(s, 16);
    SendDominoServerInfo(s, server);
    SendString(s, "");
    SendByte(s, 17);
    SendByte(s, 15);
  });
  Write(dir, "server-info", 1, [&](SOCKET s) { SendDominoServerInfo(s, server); });
  Write(dir, "backup-request", 2, [&](SOCKET s) { SendBackupRequest(s, backup); });
  Write(dir, "restore-request", 3, [&](SOCKET s) { SendRestoreRequest(s, restore); });
  Write(dir, "texts", 4, [&](SOCKET s) {
    SendString(s, "done");
    SendString(s, "a text longer than thirty-two bytes, to be cut");
    SendWideText(s, u"wide \u00e9\u4e2d text");
    SendString(s, "");
  });
  Write(dir, "discovery-reply", 5, [&](SOCKET s) {
    SendString(s, "cont");
    SendU32(s, 1);
    SendBool(s, false);
    SendString(s, "HOST1");
    SendDominoServerInfo(s, server);
  });
  Write(dir, "snapshot-entry", 6, [&](SOCKET s) { SendSnapshotEntry(s, server.snapshots[0]); });
  return 0;
}
