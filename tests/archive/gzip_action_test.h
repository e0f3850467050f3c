// The fixture of the gzip step's tests: the install actions' fixture.
#pragma once

#include "tests/support/action_test.h"

namespace pelisto::testing {

using GzipActionTest = ActionTest;

}  // namespace pelisto::testing
