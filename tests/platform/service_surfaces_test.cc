// What the service uses of the system: component objects, the event log and
// the capture of its standard output.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/stdout_capture.h"
#include "tests/support/child_process.h"
#include "tests/support/os_calls.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

constexpr GUID kClsid = {0x4d19cff7, 0x4c5d, 0x4f02, {0x95, 0xc8, 0x80, 0xed, 0xe5, 0x68, 0xf0, 0x53}};
constexpr GUID kIid = {0x1, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

class IThing : public IUnknown {
 public:
  virtual int Value() = 0;
};
class Thing : public IThing {
 public:
  int Value() override { return 7; }
};
template <typename T>
class Factory : public IClassFactory {
 public:
  HRESULT CreateInstance(const GUID&, std::unique_ptr<IUnknown>& out) override {
    out = std::make_unique<T>();
    return S_OK;
  }
};

TEST(Com, ClassObjectsNeedTheRegistryKeyAndAServer) {
  TempHostRoot root;
  ASSERT_TRUE(SUCCEEDED(CoInitialize()));  // as each service turn does
  EXPECT_EQ(GuidToString(kClsid), "{4d19cff7-4c5d-4f02-95c8-80ede568f053}");

  std::unique_ptr<IClassFactory> factory;
  EXPECT_EQ(CoGetClassObject(kClsid, 5, factory), REGDB_E_CLASSNOTREG);
  RegisterClassServer(kClsid, [](std::unique_ptr<IClassFactory>& out) {
    out = std::make_unique<Factory<Thing>>();
    return S_OK;
  });
  EXPECT_EQ(CoGetClassObject(kClsid, 5, factory), REGDB_E_CLASSNOTREG);  // key missing
  ASSERT_EQ(RegCreateKey("SOFTWARE\\Classes\\CLSID\\{4D19CFF7-4C5D-4F02-95C8-80EDE568F053}"), ERROR_SUCCESS);
  EXPECT_EQ(CoGetClassObject(kClsid, CLSCTX_REMOTE_SERVER, factory), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoGetClassObject(kClsid, 0x15, factory), S_OK);
  std::unique_ptr<IThing> thing;
  ASSERT_EQ(CreateInstance(*factory, kIid, thing), S_OK);
  EXPECT_EQ(thing->Value(), 7);

  // A server's failure is passed on; an object of the wrong kind is refused.
  RegisterClassServer(kClsid, [](std::unique_ptr<IClassFactory>&) { return E_OUTOFMEMORY; });
  EXPECT_EQ(CoGetClassObject(kClsid, 1, factory), E_OUTOFMEMORY);
  EXPECT_EQ(factory, nullptr);
  Factory<IUnknown> other;
  EXPECT_EQ(CreateInstance(other, kIid, thing), E_NOINTERFACE);
  UnregisterClassServer(kClsid);
  EXPECT_EQ(CoGetClassObject(kClsid, 5, factory), REGDB_E_CLASSNOTREG);
  CoUninitialize();
}

TEST(EventLog, EveryEventReachesTheLogAndTheObserver) {
  TempHostRoot root;
  std::vector<EventRecord> seen;
  SetEventObserver([&](const EventRecord& event) { seen.push_back(event); });
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 3, 0x40000065, {}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_ERROR_TYPE, 2, 0x4000006D,
                          {"POINT IN TIME", "snap", "srv1", "ERROR: first\r\nsecond\r\n"}));
  SetEventObserver(nullptr);
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_WARNING_TYPE, 3, 0x40000072, {"10.0.0.9"}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].source, "arksvc");
  EXPECT_EQ(seen[0].eventId, 0x40000065u);
  EXPECT_TRUE(seen[0].strings.empty());
  EXPECT_EQ(seen[1].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(seen[1].category, 2);
  EXPECT_EQ(seen[1].strings, (std::vector<std::string>{"POINT IN TIME", "snap", "srv1", "ERROR: first\r\nsecond\r\n"}));
}

TEST(StdoutCapture, ForwardsEverythingInSmallPiecesInOrder) {
  std::mutex mutex;
  std::vector<std::string> pieces;
  {
    StdoutCapture capture;
    ASSERT_TRUE(capture.Start([&](std::string_view piece) {
      std::lock_guard<std::mutex> lock(mutex);
      pieces.emplace_back(piece);
    }));
    EXPECT_TRUE(capture.active());
    EXPECT_FALSE(capture.Start(nullptr));  // one capture at a time
    std::string text;
    for (int i = 0; i < 600; ++i) text += static_cast<char>('a' + i % 26);
    std::printf("%s", text.c_str());         // through the C stream
    WriteStandardOutputDirectly("|direct");  // and below it
    ASSERT_TRUE(capture.Stop());
    EXPECT_FALSE(capture.active());

    // Stop returned only after the worker forwarded everything, and nothing
    // comes after it.
    std::lock_guard<std::mutex> lock(mutex);
    std::string all;
    for (const std::string& p : pieces) {
      EXPECT_LE(p.size(), StdoutCapture::kPieceSize);
      all += p;
    }
    EXPECT_EQ(all, text + "|direct");
    EXPECT_GE(pieces.size(), 3u);
    pieces.clear();
  }
  EXPECT_TRUE(pieces.empty());

  // Standard output works again and a new capture can start.
  StdoutCapture again;
  std::string got;
  ASSERT_TRUE(again.Start([&](std::string_view piece) { got += piece; }));
  std::printf("second");
  again.Stop();
  EXPECT_EQ(got, "second");
}

// A service starts without a standard output.
TEST(StdoutCapture, WorksWhenTheProcessHasNoStandardOutput) {
  ChildProcess child(ProgramBesideTest("test_helper"), {"capture-unattached"});
  EXPECT_EQ(child.Wait(), 0) << "1: no start, 2: no stop, 3: text lost";
}

}  // namespace
}  // namespace platform
