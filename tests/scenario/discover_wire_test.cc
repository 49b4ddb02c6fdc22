// DiscoverServers (code 6) over a real connection: the exact leading bytes,
// then records with volumes and snapshots filled in by the storage listing.
#include <gtest/gtest.h>

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"
#include "tests/net/loopback.h"
#include "tests/scenario/scenario_host.h"

namespace scenario {
namespace {

TEST(DiscoverWireTest, RecordsCarryVolumesAndSnapshotsOfEachServer) {
  ScenarioHost host;
  ASSERT_TRUE(host.Install());
  ToolResult backup = host.Backup();
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;

  platform::Socket client = nettest::Connect(host.port());
  ASSERT_TRUE(client.valid());
  SendByte(client.get(), 6);
  // byte 1, "cont", two servers, partitioned, the computer name.
  std::string head(1 + 8 + 4 + 1, '\0');
  std::vector<std::uint8_t> buffer(head.size());
  RecvBuffer(client.get(), buffer);
  head.assign(buffer.begin(), buffer.end());
  EXPECT_EQ(head, nettest::Bytes({1}) + nettest::WireString("cont") + nettest::Bytes({2, 0, 0, 0, 1}));
  std::string computer;
  RecvString(client.get(), computer);
  EXPECT_EQ(computer, "ARKHOST");

  std::vector<DominoServerInfo> servers(2);
  for (DominoServerInfo& server : servers) RecvDominoServerInfo(client.get(), server);
  EXPECT_EQ(servers[0].serverName, "srv1/Org");
  EXPECT_EQ(servers[1].serverName, "srv2/Org");
  for (const DominoServerInfo& server : servers) {
    EXPECT_EQ(server.archiveLogging, 1);
    EXPECT_EQ(server.loggingStyleText, "Archive");
    EXPECT_EQ(server.dataVolume.present, 1);
    EXPECT_EQ(server.dataVolume.driveLetter, u'D');
    EXPECT_EQ(server.dataVolume.volumeName, "vol_data");
    EXPECT_EQ(server.logVolume.driveLetter, u'E');
    EXPECT_FALSE(server.dataVolume.devicePathPart1.empty());
  }
  // srv1 was backed up once: its hint file names the recent snapshot.
  ASSERT_EQ(servers[0].snapshots.size(), 1u);
  EXPECT_TRUE(platform::EqualsNoCase(servers[0].snapshots[0].name, "dominosnap__ARKHOST__SRV1__recent"))
      << servers[0].snapshots[0].name;
  EXPECT_FALSE(servers[0].snapshots[0].displayText.Get().empty());
  EXPECT_TRUE(servers[1].snapshots.empty());

  SendByte(client.get(), 15);
  EXPECT_EQ(RecvByte(client.get()), 1);
}

}  // namespace
}  // namespace scenario
