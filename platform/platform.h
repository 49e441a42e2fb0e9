// The operating-system procedures the library relies on, as this host
// provides them. Only the platform folder talks to the operating system.
#pragma once

#include "platform/clock.h"
#include "platform/define.h"
#include "platform/errors.h"
#include "platform/filename.h"
#include "platform/fs.h"
#include "platform/keyfile.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "platform/types.h"
