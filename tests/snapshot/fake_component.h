// Moved to tests/support; kept until tests/verify includes it from there.
#pragma once
#include "tests/support/fake_component.h"
