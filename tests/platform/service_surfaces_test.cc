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

// Objects and their interfaces are the component registration test's; here
// what it does not reach: the key, the context and a server's failure.
TEST(Com, ClassObjectsNeedTheRegistryKeyALocalContextAndAServer) {
  TempHostRoot root;
  ASSERT_TRUE(SUCCEEDED(CoInitialize()));  // as each service turn does
  std::unique_ptr<IClassFactory> factory;
  RegisterClassServer(kClsid, [](std::unique_ptr<IClassFactory>&) { return E_OUTOFMEMORY; });
  EXPECT_EQ(CoGetClassObject(kClsid, 5, factory), REGDB_E_CLASSNOTREG);  // key missing
  ASSERT_EQ(RegCreateKey("SOFTWARE\\Classes\\CLSID\\{4D19CFF7-4C5D-4F02-95C8-80EDE568F053}"), ERROR_SUCCESS);
  EXPECT_EQ(CoGetClassObject(kClsid, CLSCTX_REMOTE_SERVER, factory), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoGetClassObject(kClsid, 1, factory), E_OUTOFMEMORY);
  EXPECT_EQ(factory, nullptr);
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
  EXPECT_EQ(got, "printed|direct");
}

// A service starts without a standard output.
TEST(StdoutCapture, WorksWhenTheProcessHasNoStandardOutput) {
  ChildProcess child(ProgramBesideTest("test_helper"), {"capture-unattached"});
  EXPECT_EQ(child.Wait(), 0) << "1: no start, 2: no stop, 3: text lost";
}

}  // namespace
}  // namespace platform
