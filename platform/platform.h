// Not installed, and not to be included by new code: <zeb/zeb.h> is the
// library's umbrella header, and a source names the headers it uses.
// The operating-system procedures the library relies on, as this host
// provides them. Only the platform folder talks to the operating system.
#pragma once

#include <zeb/platform/clock.h>
#include <zeb/platform/define.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/filename.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/keyfile.h>
#include <zeb/platform/terminal.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
