// The code-to-text tables of the e, m and n directives and their handlers.
//
// Each table is a constant array in ascending code order; a lookup is a
// binary search. The file-system table also holds the library's own error
// numbers (300 to 320) and the server-class errors (900 to 947). Texts are
// the tables' own wording and are written exactly as they stand.
#include <algorithm>
#include <cstring>
#include <iterator>

#include <zeb/format/format.h>
#include <zeb/platform/convert.h>
#include <zeb/platform/fs.h>
#include "format/format_internal.h"

namespace zeb::format {

namespace {

constexpr TableEntry kFileErrors[] = {
    {0, "operation successful"},
    {1, "end-of-file"},
    {2, "operation not allowed on this type file"},
    {3, "failure to open or purge a partition"},
    {4, "failure to open an alternate key file"},
    {5, "failure to provide sequential buffering"},
    {6, "system message received"},
    {7, "process not accepting CONTROL or SETMODE"},
    {8, "operation successful (examine MCW for additional status)"},
    {9, "reading through locked record"},
    {10, "file/record already exists"},
    {11, "file not in directory or record not in file"},
    {12, "file in use"},
    {13, "illegal filename specification"},
    {14, "device does not exist"},
    {16, "file number has not been opened"},
    {18, "system does not exist"},
    {19, "no more devices in logical device table"},
    {20, "attempt to open network file with long crtpid"},
    {21, "illegal <count> specified"},
    {22, "application parameter or buffer address out of bounds"},
    {23, "disc address out of bounds"},
    {24, "privileged mode required for this operation"},
    {25, "AWAITIO or CANCEL attempted on wait file"},
    {26, "AWAITIO attempted with no outstanding operations"},
    {27, "wait operation attempted when outstanding requests pending"},
    {28, "too many outstanding no-wait operations for file"},
    {29, "missing parameter"},
    {30, "unable to obtain main memory space for a link control block"},
    {31, "unable to obtain file system buffer space"},
    {32, "unable to obtain storage pool space (SYSPOOL)"},
    {33, "I/O process is unable to obtain I/O segment space"},
    {34, "unable to obtain file system control block"},
    {35, "unable to obtain I/O process control block"},
    {36, "unable to lock physical memory"},
    {37, "I/O process is unable to lock physical memory"},
    {38, "attempt to perform operation on wrong type of system"},
    {39, "server process received a request with old syncid"},
    {40, "operation timed out."},
    {41, "checksum error on file synchronization block"},
    {42, "attempt to read from unallocated extent"},
    {43, "unable to obtain disc space for file extent"},
    {44, "disc directory or DCT is full"},
    {45, "file is full"},
    {46, "invalid key specified"},
    {47, "key not consistent with file data"},
    {48, "security violation"},
    {49, "access violation"},
    {50, "directory error"},
    {51, "directory is marked bad"},
    {52, "error in disc free space table"},
    {53, "file system internal error"},
    {54, "I/O error in disc free space table, or DP2 undo area"},
    {55, "I/O error in directory"},
    {56, "I/O error on volume label"},
    {57, "disc free space table is full"},
    {58, "disc free space table is marked bad"},
    {59, "file is bad"},
    {60, "server has been replaced by process with the same name"},
    {61, "no more file opens permitted on this volume or device"},
    {62, "volume has been mounted, but mount order has not been given"},
    {63, "volume has been mounted and mount is in progress"},
    {64, "volume has been mounted and mount is in progress"},
    {65, "only special requests permitted or one device up"},
    {66, "device downed, or hard failure occurred on controller"},
    {70, "continue file operation"},
    {71, "duplicate record"},
    {72, "invalid access to partition attempted"},
    {73, "file/record locked"},
    {74, "exceeded <recv depth> or REPLY called with an invalid <tag>"},
    {75, "process has no current process Transaction Identifier"},
    {76, "transaction is in the process of ending"},
    {78, "Transaction Identifier is invalid or obsolete"},
    {79, "attempt by transaction to alter record not previously locked"},
    {80, "invalid operation on audited file or non-audited disc volume"},
    {81, "operation invalid for transaction with I/O's outstanding"},
    {82, "all or part of the transaction subsystem is not running"},
    {83, "attempt to begin too many concurrent transactions"},
    {84, "the transaction subsystem has not been configured"},
    {85, "the device is not up for transactions"},
    {86, "operator disabled BEGINTRANSACTION or audit reached maxfiles"},
    {87, "waiting on a READ request and did not get it"},
    {88, "a CONTROL READ is pending, new READ invalid"},
    {89, "remote device has no buffer available"},
    {90, "transaction aborted by system/its parent process died"},
    {91, "transaction aborted by system/database id inconsistency"},
    {92, "distributed transaction aborted by system/network partition"},
    {93, "transaction spanning too many AUDIT Files aborted by system"},
    {94, "transaction aborted by operator command"},
    {95, "transaction aborted because of disc process takeover"},
    {97, "transaction was aborted"},
    {98, "Transaction Control Block table is full"},
    {99, "attempt to use microcode option that is not installed"},
    {100, "device not ready or controller not operational"},
    {101, "media is write protected"},
    {102, "paper out, bail open or end of ribbon"},
    {103, "disc not ready due to power fail"},
    {104, "no response from device"},
    {105, "invalid VFU buffer"},
    {106, "a previously-buffered WRITE has failed"},
    {110, "only break access permitted"},
    {111, "operation aborted because of break"},
    {112, "READ or WRITEREAD preempted by operator message"},
    {113, "DEFINE attributes not valid for attempted function"},
    {114, "X25 Network problem - RESTART FAILURE"},
    {115, "X25 Network problem - RESET FAILURE"},
    {116, "X25 Network problem - CLEAR FAILURE"},
    {119, "error code value was too large to fit into 8-bit container"},
    {120, "data parity error, or wrong tape density"},
    {121, "data overrun error"},
    {123, "sub-device busy"},
    {124, "a line reset is in progress"},
    {130, "illegal address to disc"},
    {131, "write check error from disc"},
    {132, "seek incomplete from disc"},
    {133, "access not ready on disc"},
    {134, "address compare error on disc"},
    {135, "write protect violation with disc"},
    {136, "unit ownership error (dual-port disc)"},
    {137, "controller buffer parity error"},
    {138, "interrupt overrun"},
    {139, "controller error or last disc error"},
    {140, "modem error"},
    {145, "card reader motion check error"},
    {146, "card reader read check error"},
    {147, "card reader invalid Hollerith code read"},
    {148, "attempted invalid access of data on Optical Disk"},
    {150, "end-of-tape marker detected"},
    {151, "runaway tape detected, or wrong tape density"},
    {152, "unusual end"},
    {153, "tape drive power on"},
    {154, "BOT detected during backspace files or backspace records"},
    {155, "only nine track magnetic tape allowed"},
    {156, "tape command rejected or TIL protocol violation detected"},
    {157, "I/O process internal error"},
    {159, "device mode wrong for request"},
    {160, "request is invalid for device state"},
    {161, "impossible event occurred for line state"},
    {162, "operation timed out"},
    {163, "EOT received"},
    {164, "disconnect received"},
    {165, "RVI received"},
    {166, "ENQ received"},
    {167, "EOT received on line bid"},
    {168, "NAK received on line bid"},
    {169, "WACK received on line bid"},
    {170, "no id sequence received during circuit assurance mode"},
    {171, "no response received on bid/poll/select, or reply invalid"},
    {172, "reply not proper for protocol"},
    {173, "maximum allowable NAKs received"},
    {174, "WACK received or CLB frame aborted"},
    {175, "incorrect alternating ACK received"},
    {176, "poll sequence ended with no responder"},
    {177, "text overrun (insufficient buffer space for data transfer)"},
    {178, "no address list specified"},
    {179, "application buffer is incorrect"},
    {180, "unknown device status received"},
    {181, "status receipt currently enabled for subdevice"},
    {182, "SNALU access method outbound RU error"},
    {183, "SNA session has ended"},
    {190, "device error"},
    {191, "device power on"},
    {192, "device in diagnose mode"},
    {193, "invalid or missing microcode file"},
    {194, "device use or mount request rejected by operator"},
    {195, "operation requires use of $ZSVR but it is not running"},
    {196, "tape label record missing or incorrect"},
    {197, "An SQL error has occured"},
    {198, "a DEFINE of the given name could not be found"},
    {199, "disc file is protected by the security subsystem"},
    {200, "device is owned by alternate port"},
    {201, "the current path to the device is down"},
    {210, "device ownership changed during operation"},
    {211, "CPU performing operation failed during operation"},
    {213, "channel data parity error"},
    {214, "channel timeout"},
    {215, "I/O attempted to absent memory page"},
    {216, "memory breakpoint encountered during this I/O"},
    {217, "memory parity error during this I/O"},
    {218, "interrupt timeout"},
    {219, "illegal device reconnect"},
    {220, "protect violation"},
    {221, "controller handshake violation"},
    {222, "bad channel status from EIO instruction"},
    {223, "bad channel status from IIO instruction"},
    {224, "controller error"},
    {225, "no unit or multiple units assigned to same unit number"},
    {230, "CPU power failed then restored"},
    {231, "controller power failed then restored"},
    {233, "Error in call to SERVERCLASS_SEND_"},
    {240, "network line handler error, operation not started"},
    {241, "network error, operation not started"},
    {246, "external cluster bypass error, operation aborted"},
    {248, "network line handler error, operation aborted"},
    {249, "network error, operation aborted"},
    {250, "all paths to the system are down"},
    {251, "network protocol error"},
    {252, "required network class is not available"},
    {255, "net line handler flooded - too many interrupts"},
    {300, "inconsistant queue links"},
    {301, "end of queue"},
    {302, "invalid pool size"},
    {303, "unable to allocate poolspace"},
    {304, "not a valid pool buffer"},
    {305, "inconsistant pool tags"},
    {306, "freepool is corrupt"},
    {307, "segment base address is invalid"},
    {308, "invalid message format"},
    {309, "env startup processing not performed"},
    {310, "operation denied by $cmon"},
    {311, "newprocess failed"},
    {312, "invalid timer detected"},
    {313, "filenums not the same file"},
    {314, "invalid data detected"},
    {315, "invalid numeric value"},
    {316, "invalid tcp/ip address format"},
    {317, "unable to allocate segment"},
    {318, "buffer is too small for usage"},
    {319, "unexpected response from 6530 terminal"},
    {320, "device is not a 6530 blockmode terminal"},
    {900, "invalid server class name"},
    {901, "invalid server-class monitor process name"},
    {902, "error with server-class monitor connection"},
    {903, "unknown message received from server-class monitor"},
    {904, "error with Server Link connection"},
    {905, "no Server Available"},
    {906, "called SC_SEND_INFO before calling SC_SEND_"},
    {907, "extended segment ID out of range"},
    {908, "extended address parameter out of range"},
    {909, "caller set reserved flags bits"},
    {910, "required parameter was not supplied"},
    {911, "one of the buffer length parameters is invalid"},
    {912, "reference parameter is out of bounds"},
    {913, "Server Class is Frozen"},
    {914, "server-class monitor does not recognize Server Class name"},
    {915, "denied because server-class monitor is shutting down"},
    {916, "denied by server-class monitor, Server creation failure"},
    {917, "send request has a TransId, ServerClass has transactions OFF"},
    {918, "send operation aborted"},
    {919, "caller supplied an invalid timeout value"},
    {920, "caller's PFS segment could not be accessed"},
    {921, "maximum server-class monitors allowed has been exceeded"},
    {922, "maximum server classes allowed has been exceeded"},
    {923, "maximum server links has been exceeded"},
    {924, "maximum send requests has been exceeded"},
    {925, "maximum requesters has been exceeded"},
    {947, "Error with LINKMON connection"},
};

constexpr TableEntry kProcessCreationErrors[] = {
    {0, "no error, process created"},
    {1, "warning, undefined externals"},
    {2, "no process control block available"},
    {3, "file system error on program file"},
    {4, "unable to allocate map"},
    {5, "file system error on swap file"},
    {6, "illegal file format"},
    {7, "unlicensed privileged program"},
    {8, "process name error"},
    {9, "library conflict"},
    {10, "unable to communicate with system monitor"},
    {11, "file system error on library file"},
    {12, "program file and library file are the same file"},
    {13, "extended data segment initialization error"},
    {14, "extended segment swap file error"},
    {15, "illegal home terminal"},
    {16, "i/o error to hometerm"},
    {17, "define context propagation error"},
    {18, "object file with an illegal process device subtype"},
    {19, "process device subtype of backup is not same as primary"},
};

constexpr TableEntry kSystemMessages[] = {
    {2, "cpu down"},
    {3, "cpu up"},
    {5, "process normal deletion (stop)"},
    {6, "process abnormal deletion (abend)"},
    {8, "change in status of network nodes"},
    {9, "job process deletion"},
    {10, "settime"},
    {11, "power on"},
    {12, "newprocessnowait completion"},
    {13, "messages missed"},
    {20, "break received from terminal"},
    {21, "3270 device status received"},
    {22, "time signal"},
    {23, "memory lock complete"},
    {24, "memory lock failure"},
    {26, "process signal timeout"},
    {30, "process open"},
    {31, "process close"},
    {32, "process control"},
    {33, "process setmode"},
    {34, "process resetsync"},
    {35, "process controlbuf"},
    {37, "process setparam"},
    {38, "queued message cancellation"},
    {40, "device type inquiry"},
    {41, "nowait deviceinfo2 completion"},
    {100, "remote cpu down"},
    {101, "process deletion"},
    {102, "nowait process_create_ completion"},
    {103, "process open"},
    {104, "process close"},
    {105, "break on device"},
    {106, "devicetype inquiry"},
    {107, "subordinate name inquiry"},
    {108, "nowait file_getinfobyname_ completion"},
    {109, "nowait filename_findnext_ completion"},
    {110, "loss of communication with network node"},
    {111, "establishment of communication with network node"},
    {112, "job process completion"},
    {113, "remote cpu up"},
    {141, "nowait process_spawn_ completion"},
};

struct TableRef {
  const TableEntry* entries;
  int count;
};

constexpr TableRef ref(Table table) {
  switch (table) {
    case Table::kFileError:
      return {kFileErrors, static_cast<int>(std::size(kFileErrors))};
    case Table::kProcessCreation:
      return {kProcessCreationErrors, static_cast<int>(std::size(kProcessCreationErrors))};
    case Table::kSystemMessage:
      return {kSystemMessages, static_cast<int>(std::size(kSystemMessages))};
  }
  return {kFileErrors, 0};
}

constexpr bool ascending(const TableEntry* e, int n) {
  for (int i = 1; i < n; ++i) {
    if (e[i - 1].code >= e[i].code) return false;
  }
  return true;
}
static_assert(std::size(kFileErrors) == 247 && ascending(kFileErrors, 247));
static_assert(std::size(kProcessCreationErrors) == 20 && ascending(kProcessCreationErrors, 20));
static_assert(std::size(kSystemMessages) == 41 && ascending(kSystemMessages, 41));

// Writes code in decimal (a minus sign first when negative) and, when the
// table has a text for its magnitude, " (", the text and ")". dest has room
// for at least 70 bytes (7 for the number, 63 for the text and brackets).
// Returns the length written.
int table_lookup(Table table, int code, char* dest) {
  int n = 0;
  int magnitude = code;
  if (code < 0) {
    dest[n++] = '-';
    magnitude = -code;  // -32768 becomes 32768, which has no text
  }
  n += DNUMOUT(zeb::mask({1, 2, 3}), dest + n, magnitude, 10);
  if (const char* text = table_text(table, magnitude)) {
    size_t len = std::strlen(text);
    dest[n++] = ' ';
    dest[n++] = '(';
    std::memcpy(dest + n, text, len);
    n += static_cast<int>(len);
    dest[n++] = ')';
  }
  return n;
}

constexpr char kNotOpen[] = "<Not open>";

}  // namespace

const TableEntry* table_entries(Table table, int* count) {
  TableRef r = ref(table);
  if (count != nullptr) *count = r.count;
  return r.entries;
}

const char* table_text(Table table, int code) {
  TableRef r = ref(table);
  const TableEntry* end = r.entries + r.count;
  const TableEntry* it =
      std::lower_bound(r.entries, end, code, [](const TableEntry& e, int c) { return e.code < c; });
  return (it != end && it->code == code) ? it->text : nullptr;
}

void process_file_error(State& s) {
  s.next_char();
  int len = 0;
  if (s.test_char('n')) {
    int16_t fnum = s.param<int16_t>();
    int16_t error = 0;
    if (FILEINFO(zeb::mask({1, 2}), fnum, &error) != 0) {
      len = static_cast<int>(sizeof kNotOpen) - 1;
      std::memcpy(s.work, kNotOpen, static_cast<size_t>(len));
    } else {
      len = table_lookup(Table::kFileError, error, s.work);
    }
  } else {
    len = table_lookup(Table::kFileError, s.param<int16_t>(), s.work);
  }
  int width = clamp_field(s.get_value());
  s.output(width, s.work, len, kLeft | kTrim);
}

void process_system_message(State& s) {
  s.next_char();
  int len = table_lookup(Table::kSystemMessage, s.param<int16_t>(), s.work);
  int width = clamp_field(s.get_value());
  s.output(width, s.work, len, kLeft | kTrim);
}

// The process-creation errors whose detail byte is a file-system error.
static bool has_detail(int error) {
  switch (error) {
    case 3:
    case 5:
    case 6:
    case 8:
    case 10:
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
      return true;
    default:
      return false;
  }
}

void process_newprocess_error(State& s) {
  s.next_char();
  uint16_t word = static_cast<uint16_t>(s.param<int16_t>());
  int error = word >> 8;
  int detail = word & 0xFF;
  int len = table_lookup(Table::kProcessCreation, error, s.work);
  int width = clamp_field(s.get_value());
  if (has_detail(error)) {
    // Error 6 keeps its file-system error in the top seven bits.
    if (error == 6) detail >>= 1;
    s.work[len++] = ' ';
    len += table_lookup(Table::kFileError, detail, s.work + len);
  }
  s.output(width, s.work, len, kLeft | kTrim);
}

}  // namespace zeb::format
