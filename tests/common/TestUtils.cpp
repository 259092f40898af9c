#include "tests/common/TestUtils.h"
