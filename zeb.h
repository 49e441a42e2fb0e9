// The library's umbrella header: every public procedure and record.
#pragma once

#include <zeb/platform/convert.h>
#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/newprocess.h>
#include <zeb/platform/platform.h>
#include <zeb/platform/procinfo.h>
#include <zeb/platform/receive.h>
#include <zeb/platform/segment.h>

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
