// Extended data segments as shared mappings of their swap files.
//
// The process reserves one range of address space (kMaxSegmentBytes long,
// inaccessible, no memory committed) the first time a segment is asked for,
// at 0x80000 when that range is free, else where the kernel puts it. The
// segment in use is mapped over the start of that range with MAP_FIXED,
// which is safe because the range is ours; switching segments puts the
// reservation back first. Because the mappings are shared, a segment's
// contents live in its swap file while another segment is in use.
//
// The segments and the one in use belong to the host in force (host.h); a
// host that goes puts its segment's range back to the reservation and
// closes its swap files. The reservation itself stays the process's for its
// whole life: the base address is fixed for the process (the library's
// context is reached through it and records hold offsets from it), and
// keeping the range reserved means no other mapping can take it between
// one host and the next.
#include <zeb/platform/segment.h>

#include <sys/mman.h>

#include <cerrno>
#include <map>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/system/segments.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace {

namespace err = zeb::err;
using zeb::platform::syscalls;

struct Segment {
  int fd;        // the swap file, held open while the segment exists
  int32_t size;  // bytes
};

constexpr int kReserveFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;

// The host's segments by id and the one mapped at the base (-1: none).
struct SegmentState {
  SegmentState() = default;
  ~SegmentState();
  SegmentState(const SegmentState&) = delete;
  SegmentState& operator=(const SegmentState&) = delete;
  std::map<int16_t, Segment> table;
  int16_t in_use = -1;
  // The state of the host before this one whose segment this one took the
  // base from; its segment goes back to the base when this state goes.
  SegmentState* displaced = nullptr;
};

// The process's reservation and the host state whose segment is mapped at
// its start (null: none). Process-wide, as the base is.
struct Reservation {
  char* base;
  SegmentState* holder = nullptr;
};
Reservation& reservation();

SegmentState& state() { return zeb::platform::host().state<SegmentState>(); }
std::map<int16_t, Segment>& segments() { return state().table; }

char* reserve() {
  void* want = reinterpret_cast<void*>(zeb::kPreferredSegmentBase);
  void* p = syscalls().mmap(want, static_cast<size_t>(zeb::kMaxSegmentBytes), PROT_NONE,
                            kReserveFlags | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == nullptr) {
    // Something already lies at the preferred address: take any range.
    p = syscalls().mmap(nullptr, static_cast<size_t>(zeb::kMaxSegmentBytes), PROT_NONE,
                        kReserveFlags, -1, 0);
  }
  return static_cast<char*>(p);
}

Reservation& reservation() {
  static Reservation r{reserve()};
  return r;
}

// Gives the start of the range back to the reservation.
void unmap_in_use(SegmentState& st) {
  if (st.in_use < 0) return;
  auto it = st.table.find(st.in_use);
  if (it != st.table.end()) {
    syscalls().mmap(zeb::platform::segment_base(), static_cast<size_t>(it->second.size), PROT_NONE,
                    kReserveFlags | MAP_FIXED, -1, 0);
  }
  st.in_use = -1;
  if (reservation().holder == &st) reservation().holder = nullptr;
}

void unmap_in_use() { unmap_in_use(state()); }

bool map_at_base(SegmentState& st, const Segment& s);

// A host that goes closes its swap files and hands the base back to the
// host whose segment it displaced, which finds its segment where it was.
SegmentState::~SegmentState() {
  unmap_in_use(*this);
  if (reservation().holder == this) reservation().holder = nullptr;
  for (const auto& [id, segment] : table) syscalls().close(segment.fd);
  if (displaced != nullptr && displaced->in_use >= 0 && reservation().holder == nullptr) {
    auto it = displaced->table.find(displaced->in_use);
    if (it == displaced->table.end() || !map_at_base(*displaced, it->second)) {
      displaced->in_use = -1;
    }
  }
}

// The segment is reached at random, a page here and a page there: the
// context at the base, the pool's headers, buffers where the pool puts them.
// Without advice a fault on the shared mapping reads ahead around it, which
// for a fresh swap file means allocating and zero-filling many pages that
// start-up never touches; MADV_RANDOM makes each fault bring in its own page.
bool map_at_base(SegmentState& st, const Segment& s) {
  char* base = zeb::platform::segment_base();
  if (syscalls().mmap(base, static_cast<size_t>(s.size), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_FIXED, s.fd, 0) == nullptr) {
    return false;
  }
  syscalls().madvise(base, static_cast<size_t>(s.size), MADV_RANDOM);
  Reservation& r = reservation();
  if (r.holder != &st) {
    if (st.displaced == nullptr) st.displaced = r.holder;
    r.holder = &st;
  }
  return true;
}

// Makes the swap file at least size bytes long with its blocks reserved, so
// that a page of the segment never faults for want of disk space.
zeb::platform::Status prepare_file(int fd, int32_t size) {
  if (zeb::platform::reserve_file(fd, size) == 0) return {};
  return zeb::platform::Status::from_errno(
      errno, "cannot make the swap file " + std::to_string(size) + " bytes long");
}

}  // namespace

namespace zeb::platform {

// Process-wide on purpose: the base is fixed for the life of the process.
char* segment_base() { return reservation().base; }

int16_t segment_in_use() { return state().in_use; }

int32_t segment_in_use_size() {
  if (state().in_use < 0) return 0;
  auto it = segments().find(state().in_use);
  return it != segments().end() ? it->second.size : 0;
}

}  // namespace zeb::platform

namespace zeb::platform {

Status allocate_segment(int16_t segment_id, int32_t segment_size, const char* swapfile) {
  if (swapfile == nullptr) return Status::error(err::kMissingParameter);
  if (segment_id < 0 || segment_size <= 0 || segment_size > zeb::kMaxSegmentBytes) {
    return Status::error(err::kOutOfBounds);
  }
  if (segments().count(segment_id) != 0) return Status::error(err::kFileInUse);
  if (segment_base() == nullptr) {
    // The range every segment is mapped in could not be reserved; the usual
    // cause is an address-space limit below it.
    return Status::error(err::kNoSegment,
                         "cannot reserve " + std::to_string(kMaxSegmentBytes >> 20) +
                             " MB of address space for segments (is ulimit -v too low?)");
  }

  Result<int> opened = open_internal_for_mapping(swapfile);
  if (!opened.ok()) return opened.status();
  const int fd = *opened;
  if (Status prepared = prepare_file(fd, segment_size); !prepared.ok()) {
    // The preparation's error is the one reported.
    syscalls().close(fd);
    return prepared;
  }
  Segment s{fd, segment_size};
  if (state().in_use < 0) {
    if (!map_at_base(state(), s)) {
      syscalls().close(fd);
      return Status::error(err::kNoSegment);
    }
    state().in_use = segment_id;
  }
  segments()[segment_id] = s;
  return Status();
}

Result<int16_t> use_segment(int16_t segment_id) {
  auto it = segments().find(segment_id);
  if (it == segments().end()) return Status::error(err::kOutOfBounds);
  int16_t previous = state().in_use;
  if (previous == segment_id) return previous;
  unmap_in_use();
  if (!map_at_base(state(), it->second)) {
    // Keep the range reserved, then put the previous segment back, so the
    // base never changes meaning on a failed call. What the reservation
    // and the remapping answer changes nothing of that: the call failed.
    syscalls().mmap(segment_base(), static_cast<size_t>(it->second.size), PROT_NONE,
                    kReserveFlags | MAP_FIXED, -1, 0);
    auto prev = segments().find(previous);
    if (prev != segments().end() && map_at_base(state(), prev->second)) state().in_use = previous;
    return Status::error(err::kNoSegment);
  }
  state().in_use = segment_id;
  return previous;
}

}  // namespace zeb::platform

int16_t ALLOCATESEGMENT(uint32_t mask, int16_t segment_id, int32_t segment_size,
                        const char* swapfile, int16_t /*flags*/) {
  // The flags word selects segment options (read-only, shared,
  // extensible); on this host a segment is always a private read-write view
  // of its own swap file, so the word is accepted and not interpreted.
  if (!zeb::mask_fits(mask, 4)) return err::kInvalidOperation;
  if (!zeb::present(mask, 1) || !zeb::present(mask, 2) || !zeb::present(mask, 3)) {
    return err::kMissingParameter;
  }
  return zeb::platform::allocate_segment(segment_id, segment_size, swapfile).code();
}

int16_t USESEGMENT(uint32_t mask, int16_t segment_id) {
  if (!zeb::mask_fits(mask, 1) || !zeb::present(mask, 1)) return -2;
  zeb::platform::Result<int16_t> previous = zeb::platform::use_segment(segment_id);
  return previous.ok() ? *previous : -2;
}

int16_t DEALLOCATESEGMENT(uint32_t mask, int16_t segment_id, int16_t /*flags*/) {
  if (!zeb::mask_fits(mask, 2)) return err::kInvalidOperation;
  if (!zeb::present(mask, 1)) return err::kMissingParameter;
  auto it = segments().find(segment_id);
  if (it == segments().end()) return err::kOutOfBounds;
  if (state().in_use == segment_id) unmap_in_use();
  syscalls().close(it->second.fd);
  segments().erase(it);
  return 0;
}
