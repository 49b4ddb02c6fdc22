// Moved to tests/support; kept until tests/verify builds it from there.
#include "tests/support/fake_component.cc"
