// The record of a Domino server of the organisation Org as discovery names
// it, for tests that hand one to the engine or send it over the wire; the
// volumes and the rest stay empty for the code under test to fill.
#pragma once

#include <string>

#include "common/records.h"

inline ark::DominoServerInfo ServerRecord(const std::string& commonName, const std::string& dataDirectory = "",
                                     const std::string& logDirectory = "") {
  ark::DominoServerInfo server;
  server.serverName = commonName + "/Org";
  server.commonName = commonName;
  server.dataDirectory = dataDirectory;
  server.logDirectory = logDirectory;
  return server;
}
