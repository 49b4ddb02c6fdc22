#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "file_util.h"
#include "platform/com.h"
#include "platform/debug.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "temp_root.h"

namespace platform {
namespace {

using testing::ReadHost;
using testing::TempRoot;

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
class Factory : public IClassFactory {
 public:
  HRESULT CreateInstance(const GUID&, std::unique_ptr<IUnknown>& out) override {
    out = std::make_unique<Thing>();
    return S_OK;
  }
};
class OtherFactory : public IClassFactory {
 public:
  HRESULT CreateInstance(const GUID&, std::unique_ptr<IUnknown>& out) override {
    out = std::make_unique<IUnknown>();
    return S_OK;
  }
};

TEST(Com, ClassObjectsNeedTheRegistryKeyAndAServer) {
  TempRoot root;
  EXPECT_EQ(GuidToString(kClsid), "{4d19cff7-4c5d-4f02-95c8-80ede568f053}");
  EXPECT_TRUE(kClsid == kClsid);
  EXPECT_FALSE(kClsid == kIid);

  std::unique_ptr<IClassFactory> factory;
  EXPECT_EQ(CoGetClassObject(kClsid, 5, factory), REGDB_E_CLASSNOTREG);
  RegisterClassServer(kClsid, [](std::unique_ptr<IClassFactory>& out) {
    out = std::make_unique<Factory>();
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
  OtherFactory other;
  EXPECT_EQ(CreateInstance(other, kIid, thing), E_NOINTERFACE);
  UnregisterClassServer(kClsid);
  EXPECT_EQ(CoGetClassObject(kClsid, 5, factory), REGDB_E_CLASSNOTREG);
}

TEST(EventLog, OneLinePerEventWithItsText) {
  TempRoot root;
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 3, 0x40000065, {}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 1, 0x40000071,
                          {"dominosnap__HOST__srv1__recent", "D", "srv1/Org"}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_ERROR_TYPE, 2, 0x4000006D,
                          {"POINT IN TIME", "snap", "srv1", "ERROR: first\r\nsecond\r\n"}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_WARNING_TYPE, 3, 0x40000999, {"a", "b"}));
  const std::string log = ReadHost(root.path() + "/Logs/Application.log");
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < log.size();) {
    const auto nl = log.find('\n', start);
    lines.push_back(log.substr(start, nl - start));
    start = nl + 1;
  }
  ASSERT_EQ(lines.size(), 4u) << log;
  EXPECT_TRUE(lines[0].ends_with(
      " Information category 3 event 0x40000065 arksvc: The ARKServer service started."));
  EXPECT_TRUE(lines[1].ends_with(
      "Snapshot dominosnap__HOST__srv1__recent was created on drive D for the Domino server srv1/Org."));
  EXPECT_TRUE(lines[2].ends_with(
      " Error category 2 event 0x4000006D arksvc: The POINT IN TIME restore of snapshot snap for the "
      "Domino server srv1 failed: ERROR: first | second"));
  EXPECT_TRUE(lines[3].ends_with(" Warning category 3 event 0x40000999 arksvc: Event 0x40000999: a; b"));
  // A host root that cannot hold the log: the event is reported as not written.
  SetHostRoot(root.path() + "/missing/root");
  EXPECT_FALSE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 3, 0x40000066, {}));
}

TEST(DebugTrace, OnlyWhenAsked) {
  char path[] = "/tmp/ark-debug-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  ::unsetenv("ARK_DEBUG");
  OutputDebugString("hidden\n");
  ::setenv("ARK_DEBUG", "1", 1);
  OutputDebugString("(ARKServer) shown\n");
  ::unsetenv("ARK_DEBUG");
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(fd);
  EXPECT_EQ(ReadHost(path), "(ARKServer) shown\n");
  ::unlink(path);
}

}  // namespace
}  // namespace platform
