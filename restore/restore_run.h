// The restore run of one server.
#pragma once

#include <string>

#include "common/records.h"

std::int32_t PerformRestore(RestoreRequest& request);
int RestoreSnapshotAndRecover(RestoreRequest& request, std::string& errorText);
