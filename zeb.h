// The library's one umbrella header: every public procedure and record,
// the platform's included.
#pragma once

#include <zeb/platform/clock.h>
#include <zeb/platform/convert.h>
#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/define.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/filename.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/keyfile.h>
#include <zeb/platform/newprocess.h>
#include <zeb/platform/procinfo.h>
#include <zeb/platform/receive.h>
#include <zeb/platform/segment.h>
#include <zeb/platform/terminal.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>

#include <zeb/format/format.h>

#include <zeb/containers/pool.h>
#include <zeb/containers/queue.h>
#include <zeb/containers/timer.h>

#include <zeb/cipher/des.h>
#include <zeb/cpu/cpu.h>
#include <zeb/env/env.h>
#include <zeb/msg/msg.h>
#include <zeb/util/checksum.h>
#include <zeb/util/helpers.h>

#include <zeb/env/context.h>
#include <zeb/runtime/entry.h>
#include <zeb/runtime/library_segment.h>
#include <zeb/runtime/runtime.h>
#include <zeb/terminal/session.h>
#include <zeb/terminal/zeb_term.h>

#include <zeb/terminal/control.h>
