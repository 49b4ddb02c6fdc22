// The wire values byte for byte, and every way a conversation can fail.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/wire.h"
#include "platform/text.h"
#include "tests/net/loopback.h"
#include "tests/support/os_calls.h"

using namespace nettest;

namespace {

class WirePrimitivesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetIoTimeoutMilliseconds(3000); }
  void TearDown() override { SetIoTimeoutSeconds(kDefaultIoTimeoutSeconds); }
  LoopbackPair pair_ = MakeLoopbackPair();
};

TEST_F(WirePrimitivesTest, SendersWriteExactBytes) {
  const std::string sent = SentBytes([](SOCKET s) {
    SendU32(s, 1);
    SendString(s, "");
    SendString(s, "done");
    SendBool(s, true);
    SendBool(s, false);
    SendByte(s, 0x1FF);  // only the low 8 bits
    SendByte(s, -1);
    SendCString(s, "ab");
    SendWideText(s, u"\u00e9t\u00e9");  // converted to the ANSI code page (UTF-8 on POSIX)
  });
  EXPECT_EQ(sent, U32(1) + U32(0) + Bytes({4, 0, 0, 0, 0x64, 0x6F, 0x6E, 0x65}) + Bytes({1, 0, 0xFF, 0xFF}) +
                      WireString("ab") + WireString(platform::WideToAnsi(u"\u00e9t\u00e9")));
}

TEST_F(WirePrimitivesTest, ReceiversReadValuesDeliveredInPieces) {
  std::string big(70000, 'x');
  big[0] = 'a';
  big[69999] = 'z';
  std::thread peer([&] {
    std::string all = Bytes({2}) + U32(0xA1B2C3D4) + WireString("") + WireString(big) + WireString("short");
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
  peer.join();
}

TEST_F(WirePrimitivesTest, FixedFieldsAreCutAndTheStreamStaysInStep) {
  const std::string accented = platform::WideToAnsi(u"\u00e9") + std::string(40, 'w');
  WriteRaw(pair_.client.get(), WireString(std::string(40, 'd')) + WireString(accented) + U32(77));
  FixedText<32> shortText;
  FixedWideText<32> wideText;
  RecvShortText(pair_.server.get(), shortText);
  RecvWideText(pair_.server.get(), wideText);
  EXPECT_EQ(shortText.Get(), std::string(31, 'd'));
  EXPECT_EQ(wideText.Get(), u"\u00e9" + std::u16string(30, u'w'));
  EXPECT_EQ(RecvU32(pair_.server.get()), 77u);  // nothing of the cut texts was left behind
}

TEST_F(WirePrimitivesTest, SilencePeerCloseAndHugeLengthsEndTheConversation) {
  SetIoTimeoutMilliseconds(200);
  SOCKET s = pair_.server.get();
  WriteRaw(pair_.client.get(), Bytes({1, 0}));  // half a u32, then silence
  EXPECT_EQ(ErrorOf([&] { RecvU32(s); }), "recv timed out");
  EXPECT_EQ(ErrorOf([&] { RecvByte(s); }), "recv timed out");

  // A length above the bound is refused at once, before any body arrives.
  LoopbackPair huge = MakeLoopbackPair();
  WriteRaw(huge.client.get(), U32(kMaxWireStringLength + 1));
  std::string target = "kept?";
  EXPECT_EQ(ErrorOf([&] { RecvString(huge.server.get(), target); }), "recv failed");
  EXPECT_EQ(target, "");
  WriteRaw(huge.client.get(), U32(0xFFFFFFFF));
  EXPECT_EQ(ErrorOf([&] { RecvString(huge.server.get()); }), "recv failed");

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
  std::vector<std::uint8_t> none;
  EXPECT_EQ(ErrorOf([&] { RecvBuffer(closing.server.get(), none); }), "(no error)");
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

}  // namespace
