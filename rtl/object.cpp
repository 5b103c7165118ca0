#include "rtl/object.h"

#include "rtl/exception.h"

void TPersistent::Assign(const TPersistent* /*source*/) { throw Exception("Cannot assign"); }
