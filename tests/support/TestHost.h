// A test host that drives an add-in library exactly as the platform does.
//
// The loading and calling code is the command-line host's own (host/uAddInHost.h):
// tests and quarnel-host reach the add-in through the same code. This header adds
// what only tests need: the library of this build found through the test
// environment, the exported symbol table, and a temporary log folder.
//
//   TTestHost host;                                   // libquarnel.so, class "quarnel"
//   TCallResult r = host.Call("GetVersion", {});      // CallAsFunc by name
//   EXPECT_TRUE(r.Ok); EXPECT_EQ(r.Text(), "...");
//   auto out = host.Call("GetLineLength", {"id", THostArg::Empty()});
//   EXPECT_EQ(out.ParamInt(1), 48);                   // out-argument read back
//   host.CallProc("OpenCashDrawer", {"id"});         // CallAsProc
//   host.GetProp("LogEnabled").Bool(); host.SetProp("LogEnabled", true);
//   EXPECT_EQ(host.Memory.Live(), 0); EXPECT_EQ(host.Memory.BadFrees(), 0);
//   host.Connection.Errors                            // every AddError call
//
// Link `quarnel_test_support`; it depends on the `quarnel` target, so the
// add-in is built before any test that uses the harness.
#pragma once

#include <string>
#include <vector>

#include "host/uAddInHost.h"

// The built libquarnel.so: $QUARNEL_TEST_BINARY_DIR/hostbridge/libquarnel.so
// when it exists, else the path compiled into the harness.
std::string DefaultAddInPath();

using TTestMemoryManager = THostMemoryManager;
using TTestConnection = THostConnection;

// The names of the functions and objects a shared library exports (defined
// global or weak symbols of its dynamic symbol table).
std::vector<std::string> ExportedSymbols(const std::string& LibraryPath);

class TTestHost : public TAddInHost {
 public:
  explicit TTestHost(const std::string& LibraryPath = DefaultAddInPath(),
                     const std::string& ClassName = "quarnel")
      : TAddInHost(LibraryPath, ClassName) {}
};

// A temporary folder set as QUARNEL_DATA_DIR for the lifetime of the object,
// so that the log of an add-in loaded in this process lands in it.
class TTempDataDir {
 public:
  TTempDataDir();
  ~TTempDataDir();
  TTempDataDir(const TTempDataDir&) = delete;
  TTempDataDir& operator=(const TTempDataDir&) = delete;
  const std::string& Path() const { return FPath; }
  // Everything written to the log files below the folder, concatenated.
  std::string ReadLogs() const;

 private:
  std::string FPath;
  std::string FOldValue;
  bool FHadOldValue = false;
};
