#include "rtl/files.h"


std::string TemporaryNameFor(const std::string& path) { return path + ".new"; }
