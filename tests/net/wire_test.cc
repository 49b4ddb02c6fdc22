// The wire values byte for byte, and every way a conversation can fail; the
// records on the wire: field order and kinds, what travels and what does
// not, and hostile counts.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"
#include "tests/support/loopback.h"
#include "tests/support/os_calls.h"

namespace ark {

using namespace nettest;

namespace {

class WirePrimitivesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetIoTimeoutMilliseconds(3000); }
  void TearDown() override { SetIoTimeoutSeconds(kDefaultIoTimeoutSeconds); }
  LoopbackPair pair_ = MakeLoopbackPair();
};

TEST_F(WirePrimitivesTest, ReceiversReadValuesDeliveredInPiecesAndCutFixedFields) {
  std::string big(70000, 'x');
  big[0] = 'a';
  big[69999] = 'z';
  const std::string accented = platform::WideToAnsi(u"\u00e9") + std::string(40, 'w');
  std::thread peer([&] {
    std::string all = Bytes({2}) + U32(0xA1B2C3D4) + WireString("") + WireString(big) + WireString("short") +
                      WireString(std::string(40, 'd')) + WireString(accented) + U32(77);
    // Many small pieces with pauses, so no receive gets the value whole.
    for (std::size_t at = 0; at < all.size(); at += 9973) {
      WriteRaw(pair_.client.get(), std::string_view(all).substr(at, 9973));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  SOCKET s = pair_.server.get();
  EXPECT_TRUE(RecvBool(s));  // byte 2 is true
  EXPECT_EQ(RecvU32(s), 0xA1B2C3D4u);
  std::string text = "stale";
  RecvString(s, text);
  EXPECT_EQ(text, "");
  RecvString(s, text);
  EXPECT_EQ(text, big);
  RecvString(s, text);  // into the storage of the longer text before
  EXPECT_EQ(text, "short");
  // Fixed fields are cut, and nothing of the cut texts is left behind.
  FixedText<32> shortText;
  FixedWideText<32> wideText;
  RecvShortText(s, shortText);
  RecvWideText(s, wideText);
  EXPECT_EQ(shortText.Get(), std::string(31, 'd'));
  EXPECT_EQ(wideText.Get(), u"\u00e9" + std::u16string(30, u'w'));
  EXPECT_EQ(RecvU32(s), 77u);
  peer.join();
}

// A silent peer is the server test's; here nothing half-received is handed on.
TEST_F(WirePrimitivesTest, PeerCloseAndHugeLengthsEndTheConversation) {
  // A length above the bound is refused at once, before any body arrives.
  LoopbackPair huge = MakeLoopbackPair();
  WriteRaw(huge.client.get(), U32(kMaxWireStringLength + 1));
  std::string target = "kept?";
  EXPECT_EQ(ErrorOf([&] { RecvString(huge.server.get(), target); }), "recv failed");
  EXPECT_EQ(target, "");

  // The peer closes in the middle of a string, then before a byte.
  LoopbackPair closing = MakeLoopbackPair();
  WriteRaw(closing.client.get(), U32(10) + "abc");
  closing.client.reset();
  std::string partial = "x";
  EXPECT_EQ(ErrorOf([&] { RecvString(closing.server.get(), partial); }), "client closed the socket");
  EXPECT_EQ(partial, "");  // nothing half-received is handed on
  EXPECT_EQ(ErrorOf([&] { RecvByte(closing.server.get()); }), "client closed the socket");
  std::vector<std::uint8_t> buffer(3);
  EXPECT_EQ(ErrorOf([&] { RecvBuffer(closing.server.get(), buffer); }), "client closed the socket");
}

TEST_F(WirePrimitivesTest, SendsGiveUpOnAPeerThatStopsReadingOrIsGone) {
  SetIoTimeoutMilliseconds(300);
  // The peer never reads: a big string fills the socket buffers and the
  // send times out instead of blocking for ever.
  const std::string big(32 * 1024 * 1024, 'b');
  EXPECT_EQ(ErrorOf([&] { SendString(pair_.server.get(), big); }), "send timed out");

  // The peer resets the connection: byte and u32 sends fail.
  LoopbackPair reset = MakeLoopbackPair();
  AbortConnection(reset.client);
  ASSERT_TRUE(PeerClosed(reset.server.get()));  // the reset has arrived
  EXPECT_EQ(ErrorOf([&] { SendByte(reset.server.get(), 1); }), "send failed");
  EXPECT_EQ(ErrorOf([&] { SendU32(reset.server.get(), 1); }), "send failed");
  // A closed socket cannot be waited on.
  EXPECT_EQ(ErrorOf([&] { RecvByte(platform::INVALID_SOCKET); }), "select failed");
  EXPECT_EQ(ErrorOf([&] { SendByte(platform::INVALID_SOCKET, 1); }), "select failed");
}

// A whole server record as it travels, every field set to a value of its own.
std::string ServerBytes() {
  const auto entry = [](const std::string& name, std::uint32_t low) {
    return WireString(name) + WireString("12-5-2026") + WireString("3:38:16") + WireString("12-5-2026_3.38.16") +
           WireString("12/5/2026 3:38:00") + WireString("snap") + U32(low) + U32(0x01DC0000);
  };
  const std::string dataVolume = U32('D') + WireString("/vol_data/disk1") + WireString("\\\\host\\disk1") +
                                 Bytes({1}) + WireString("vol_data") + WireString("host") + WireString("disk1");
  const std::string logVolume = U32('L') + U32(0) + U32(0) + Bytes({0}) + U32(0) + U32(0) + U32(0);
  return Bytes({2, 1}) + dataVolume + logVolume + WireString("D:\\Domino\\Data") + WireString("L:\\Logs") +
         WireString("D:\\Domino\\notes.ini") + WireString("srv1/Org") + WireString("srv1") + Bytes({1}) + U32(1) +
         U32(3) + Bytes({1}) + WireString("ARCHIVE") + U32(2) + entry("dominosnap__HOST__srv1__recent", 7) +
         entry(std::string(300, 'n'), 8);
}

// A partition, its byte on the wire, and the partition that comes back.
const std::tuple<int, int, int> kNarrowed[] = {{-1, 0xFF, -1}, {300, 0x2C, 44}};

class WireRecordsTest : public WirePrimitivesTest, public ::testing::WithParamInterface<std::size_t> {
 protected:
  static std::string Wire(const DominoServerInfo& server) {
    return SentBytes([&](SOCKET s) { SendDominoServerInfo(s, server); });
  }
  DominoServerInfo Received(const std::string& bytes) {
    WriteRaw(pair_.client.get(), bytes);
    DominoServerInfo got;
    RecvDominoServerInfo(pair_.server.get(), got);
    return got;
  }
};

TEST_F(WireRecordsTest, ServerInfoTravelsFieldByFieldAndOnlyWhatTravels) {
  const std::string bytes = ServerBytes();
  DominoServerInfo got = Received(bytes);
  EXPECT_EQ(got.partition, 2);
  EXPECT_EQ(got.dataVolume.devicePath, "\\\\host\\disk1");
  EXPECT_EQ(got.logDirectory, "L:\\Logs");
  EXPECT_EQ(got.serverName, "srv1/Org");
  EXPECT_EQ(got.archiveLogging, 3);
  ASSERT_EQ(got.snapshots.size(), 2u);
  EXPECT_EQ(got.snapshots[0].wideName.Get(), u"dominosnap__HOST__srv1__recent");
  EXPECT_EQ(got.snapshots[0].componentName.Get(), u"snap");
  // The name's fixed copies are cut to their fields; the name itself is whole.
  EXPECT_EQ(got.snapshots[1].name, std::string(300, 'n'));
  EXPECT_EQ(got.snapshots[1].nameText.Get(), std::string(255, 'n'));
  EXPECT_EQ(got.snapshots[1].wideName.Get(), std::u16string(255, u'n'));
  EXPECT_EQ(got.snapshots[1].componentValue1, 8u);
  // Every field goes out again as it came; the fields that do not travel stay home.
  got.registryValueName = "PARTITION2";
  got.loggingEnabled = true;
  got.logDirectoryRelative = 5;
  got.dominoVersion = 9;
  EXPECT_EQ(Wire(got), bytes);
}

// partition -1 goes out as FF and comes back as -1; 300 as 2C and back as 44.
// present 2 is sent as 0 (only exactly 1 is sent as 1); a drive letter is
// widened to a u32 and cut back to 16 bits.
TEST_P(WireRecordsTest, NarrowedFieldsOnTheWire) {
  const auto [partition, byte, back] = kNarrowed[GetParam()];
  DominoServerInfo server;
  server.partition = partition;
  server.dataVolume.present = 2;
  server.dataVolume.driveLetter = u'D';
  std::string bytes = Wire(server);
  // An empty record is 90 bytes: 15 up to the data volume's present flag.
  ASSERT_EQ(bytes.size(), 90u);
  EXPECT_EQ(bytes.substr(0, 15), Bytes({byte, 0}) + Bytes({'D', 0, 0, 0}) + U32(0) + U32(0) + Bytes({0}));
  const DominoServerInfo got = Received(bytes.replace(2, 4, U32(0x10044)));
  EXPECT_EQ(got.partition, back);
  EXPECT_EQ(got.dataVolume.driveLetter, u'D');
  EXPECT_EQ(got.dataVolume.present, 0);
}
INSTANTIATE_TEST_SUITE_P(Rows, WireRecordsTest, ::testing::Range<std::size_t>(0, std::size(kNarrowed)));

TEST_F(WireRecordsTest, RequestsKeepTheirFlagsAsSpecified) {
  // The backup's delete flag is normalised to true; the restore's
  // point-in-time byte is kept raw (only 1 means point in time).
  WriteRaw(pair_.client.get(), Bytes({5}) + U32(3) + Bytes({0, 9}) + WireString("t5"));
  BackupRequest backup;
  RecvBackupRequest(pair_.server.get(), backup);
  EXPECT_TRUE(backup.deleteExcessSnapshots);
  EXPECT_EQ(backup.keepCount, 3u);
  EXPECT_FALSE(backup.flag3);
  EXPECT_TRUE(backup.flag4);
  EXPECT_EQ(backup.text5, "t5");

  RestoreRequest restore;
  restore.pointInTime = 2;
  restore.flag5 = true;
  restore.number6 = 0xDEADBEEF;
  WriteRaw(pair_.client.get(), SentBytes([&](SOCKET s) { SendRestoreRequest(s, restore); }));
  RestoreRequest got;
  RecvRestoreRequest(pair_.server.get(), got);
  EXPECT_EQ(got.pointInTime, 2);
  EXPECT_FALSE(got.flag4);
  EXPECT_TRUE(got.flag5);
  EXPECT_EQ(got.number6, 0xDEADBEEFu);
}

// Command 17's request: the server, then its own fields in their order.
TEST_F(WireRecordsTest, DatabaseRestoreRequestFieldByField) {
  const std::string tail = WireString("dominosnap__HOST__srv1__recent") + U32(2) + WireString("2026-05-12 10:30:00") +
                           U32(1) + WireString("old") + Bytes({1}) + U32(2) + WireString("mail\\a.nsf") +
                           WireString("mail\\");
  WriteRaw(pair_.client.get(), ServerBytes() + tail);
  DatabaseRestoreRequest got;
  RecvDatabaseRestoreRequest(pair_.server.get(), got);
  EXPECT_EQ(got.server.serverName, "srv1/Org");
  EXPECT_EQ(got.snapshotName, "dominosnap__HOST__srv1__recent");
  EXPECT_EQ(got.target, 2u);
  EXPECT_EQ(got.moment, "2026-05-12 10:30:00");
  EXPECT_EQ(got.placement, 1u);
  EXPECT_EQ(got.folder, "old");
  EXPECT_TRUE(got.newReplicaId);
  EXPECT_EQ(got.paths, (std::vector<std::string>{"mail\\a.nsf", "mail\\"}));
  EXPECT_EQ(SentBytes([&](SOCKET s) { SendDatabaseRestoreRequest(s, got); }), ServerBytes() + tail);
}

TEST_F(WireRecordsTest, DiscoveryTailAndHostileCounts) {
  std::vector<DominoServerInfo> servers = {Received(ServerBytes())};
  // A count beyond the list sends what the list holds, with a matching count.
  SendDiscoveryReplyTail(pair_.client.get(), 3, true, "HOST", servers);
  DiscoveryReply reply;
  RecvDiscoveryReplyTail(pair_.server.get(), reply);
  EXPECT_TRUE(reply.partitioned);
  EXPECT_EQ(reply.computerName, "HOST");
  ASSERT_EQ(reply.servers.size(), 1u);
  EXPECT_EQ(reply.servers[0].snapshots.size(), 2u);

  WriteRaw(pair_.client.get(), WireString("nope"));
  EXPECT_EQ(ErrorOf([&] { RecvDiscoveryReplyTail(pair_.server.get(), reply); }), "unexpected reply");

  // A snapshot count far beyond any volume is refused before it is read.
  std::string bytes = Wire(DominoServerInfo{});
  bytes.replace(bytes.size() - 4, 4, U32(0xFFFFFFFF));
  WriteRaw(pair_.client.get(), bytes);
  DominoServerInfo hostile;
  EXPECT_EQ(ErrorOf([&] { RecvDominoServerInfo(pair_.server.get(), hostile); }), "recv failed");
  EXPECT_TRUE(hostile.snapshots.empty());
}

}  // namespace

}  // namespace ark
