// The library's umbrella header: every public procedure and record.
#pragma once

#include "platform/convert.h"
#include "platform/cpuinfo.h"
#include "platform/platform.h"
#include "platform/procinfo.h"
#include "platform/receive.h"
#include "platform/segment.h"
#include "platform/spawn.h"

#include "format/format.h"

#include "containers/pool.h"
#include "containers/queue.h"
#include "containers/timer.h"

#include "cipher/des.h"
#include "cpu/cpu.h"
#include "env/env.h"
#include "msg/msg.h"
#include "util/checksum.h"
#include "util/process.h"

#include "runtime/context.h"
#include "runtime/entry.h"
#include "runtime/runtime.h"
#include "runtime/segment.h"
#include "runtime/term.h"
#include "runtime/zeb_term.h"

#include "terminal/control.h"
