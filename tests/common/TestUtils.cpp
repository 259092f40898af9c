// SPDX-License-Identifier: MIT

#include "tests/common/TestUtils.h"
