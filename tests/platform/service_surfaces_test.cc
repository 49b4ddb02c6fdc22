// What the service uses of the system: component objects and the capture of
// its standard output.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/com.h"
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

// Ordered pieces and a restart are the output tests'; here what they do not
// reach: one capture at a time, and writes below the C stream.
TEST(StdoutCapture, OneAtATimeAndWritesBelowTheCStreamToo) {
  std::string got;
  StdoutCapture capture;
  ASSERT_TRUE(capture.Start([&](std::string_view piece) { got += piece; }));
  EXPECT_FALSE(capture.Start(nullptr));
  std::printf("printed");
  WriteStandardOutputDirectly("|direct");
  ASSERT_TRUE(capture.Stop());
  EXPECT_FALSE(capture.active());
  EXPECT_EQ(got, "printed|direct");
}

// A service starts without a standard output.
TEST(StdoutCapture, WorksWhenTheProcessHasNoStandardOutput) {
  ChildProcess child(ProgramBesideTest("test_helper"), {"capture-unattached"});
  EXPECT_EQ(child.Wait(), 0) << "1: no start, 2: no stop, 3: text lost";
}

}  // namespace
}  // namespace platform
