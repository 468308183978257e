#include "zip/zip_functions.h"

// libarchive's tar reads zip archives (GNU tar does not), as Windows' own
// tar.exe does; it is found on PATH.
std::string tar_program() { return "bsdtar"; }
