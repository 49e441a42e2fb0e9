// The procedures of receive.h: adapters over the queue's typed calls
// (platform/ipc/receive_queue.h) that check the mask, copy results out and keep the
// file's last error.
#include <zeb/platform/receive.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/files/files.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/receive_queue.h"
#include "platform/names/file_names.h"
#include "platform/processes/processes.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace err = zeb::err;
using zeb::present;
using namespace zeb::platform;

namespace {

constexpr int16_t kNoOutstanding = 26;  // AWAITIO with no outstanding operation

// The error a read or a wait reports: 6 for a system message.
int16_t delivery_error(const Result<Delivery>& r) {
  if (!r.ok()) return r.code();
  return r.value().system ? err::kSystemMessage : int16_t{0};
}

}  // namespace

int16_t READUPDATE(uint32_t mask, int16_t filenum, void* buffer, int16_t read_count,
                   int16_t* count_read, int32_t /*tag*/) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  auto done = [&](int16_t error) {
    set_last_error(filenum, error);
    return error;
  };
  if (!receive_holds(filenum)) {
    return set_last_error(filenum, err::kInvalidOperation) ? err::kInvalidOperation
                                                           : err::kNotOpenFile;
  }
  if (!present(mask, 2) || !present(mask, 3) || (buffer == nullptr && read_count > 0)) {
    return done(err::kMissingParameter);
  }
  if (read_count < 0) return done(err::kBadCount);
  Result<Delivery> r =
      receive_read(std::span<char>(static_cast<char*>(buffer), static_cast<size_t>(read_count)));
  if (r.ok() && !r->pending && present(mask, 4) && count_read != nullptr) *count_read = r->count;
  return done(delivery_error(r));
}

int16_t AWAITIO(uint32_t mask, int16_t* filenum, void** buffer_addr, int16_t* count_read,
                int32_t* tag, int32_t timelimit) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  if (!present(mask, 1) || filenum == nullptr) return err::kMissingParameter;
  const int16_t open = receive_filenum();
  int16_t number = *filenum == -1 && open >= 0 ? open : *filenum;
  if (!receive_holds(number)) {
    // Every other file is waited: there is nothing to complete.
    return set_last_error(number, kNoOutstanding) ? kNoOutstanding : err::kNotOpenFile;
  }
  Result<Delivery> r = receive_await(present(mask, 5) ? timelimit : -1);
  const int16_t error = delivery_error(r);
  if (error != err::kTimedOut && error != kNoOutstanding) {
    *filenum = number;
    if (present(mask, 2) && buffer_addr != nullptr) *buffer_addr = receive_buffer();
    if (present(mask, 3) && count_read != nullptr) *count_read = r.ok() ? r->count : int16_t{0};
    if (present(mask, 4) && tag != nullptr) *tag = 0;
  }
  set_last_error(number, error);
  return error;
}

int16_t REPLY(uint32_t mask, const void* buffer, int16_t write_count, int16_t* count_written,
              int16_t /*message_tag*/, int16_t error) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  std::span<const char> data;
  if (present(mask, 1) && present(mask, 2) && buffer != nullptr && write_count > 0) {
    data =
        std::span<const char>(static_cast<const char*>(buffer), static_cast<size_t>(write_count));
  }
  Result<int16_t> r = receive_reply(data, present(mask, 5) ? error : int16_t{0});
  if (r.code() == err::kInvalidOperation) return r.code();
  if (present(mask, 3) && count_written != nullptr) *count_written = r.ok() ? *r : int16_t{0};
  return r.code();
}

int16_t FILE_GETRECEIVEINFO_(uint32_t mask, int16_t* receive_info_out, int32_t* dialog_info) {
  if (!zeb::mask_fits(mask, 2)) return err::kInvalidOperation;
  if (!present(mask, 1) || receive_info_out == nullptr) return err::kMissingParameter;
  Result<std::array<int16_t, 17>> info = receive_info();
  if (!info.ok()) return info.code();
  std::copy(info->begin(), info->end(), receive_info_out);
  if (present(mask, 2) && dialog_info != nullptr) *dialog_info = 0;
  return 0;
}

int16_t PROCESS_GETPAIRINFO_(uint32_t mask, const int16_t* processhandle, char* pair,
                             int16_t pair_max, int16_t* pair_len, int16_t* primary, int16_t* backup,
                             int32_t* /*search_index*/, int16_t* ancestor, const char* /*node*/,
                             int16_t /*node_len*/, int16_t /*options*/, char* /*ancestor_desc*/,
                             int16_t /*ancestor_desc_max*/, int16_t* ancestor_desc_len,
                             int16_t* error_detail) {
  auto fail = [&](int16_t error, int16_t detail) {
    if (present(mask, 15) && error_detail != nullptr) *error_detail = detail;
    return error;
  };
  if (!zeb::mask_fits(mask, 15)) return fail(err::kInvalidOperation, 0);
  if (present(mask, 1) && processhandle != nullptr && !null_or_own_handle(processhandle)) {
    return fail(err::kNotFound, 1);
  }
  // No process of this host has a backup or an ancestor.
  if (present(mask, 6) && backup != nullptr) null_handle(backup);
  if (present(mask, 8) && ancestor != nullptr) null_handle(ancestor);
  if (present(mask, 14) && ancestor_desc_len != nullptr) *ancestor_desc_len = 0;
  if (!present(mask, 1) && present(mask, 2) && pair != nullptr) {
    // Without a handle the pair is named: pair_max bytes of its name.
    const int16_t length = present(mask, 3) ? pair_max : 0;
    if (length <= 0) return fail(err::kMissingParameter, 3);
    Result<ProcessPair> named = named_pair(std::string(pair, static_cast<size_t>(length)));
    if (!named.ok()) return fail(named.code(), 2);
    if (present(mask, 4) && pair_len != nullptr) *pair_len = length;
    if (present(mask, 5) && primary != nullptr) {
      std::copy(named->primary.begin(), named->primary.end(), primary);
    }
    return fail(0, 0);
  }
  Result<ProcessPair> own = own_pair();
  if (!own.ok()) return fail(own.code(), 0);
  const std::string& name = own->name;
  if (present(mask, 2) && pair != nullptr) {
    if (!present(mask, 3) || pair_max < static_cast<int16_t>(name.size())) {
      return fail(err::kOutOfBounds, 2);
    }
    std::memcpy(pair, name.data(), name.size());
    if (present(mask, 4) && pair_len != nullptr) *pair_len = static_cast<int16_t>(name.size());
  }
  if (present(mask, 5) && primary != nullptr) {
    std::copy(own->primary.begin(), own->primary.end(), primary);
  }
  return fail(0, 0);
}
