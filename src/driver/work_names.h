// The work-folder names live in the file layer now; this name stays for the
// driver code that still includes it.

#ifndef ZAVO_DRIVER_WORK_NAMES_H_
#define ZAVO_DRIVER_WORK_NAMES_H_

#include "fs/work_names.h"

#endif  // ZAVO_DRIVER_WORK_NAMES_H_
