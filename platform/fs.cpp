// The file-system procedures of fs.h: mask-word adapters over the typed
// cores of the names, volumes and files rooms.
#include <zeb/platform/fs.h>

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include "platform/files/disk_file.h"
#include "platform/files/file.h"
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/volumes/volumes.h"

using zeb::present;
using namespace zeb::platform;
namespace err = zeb::err;

namespace {

int16_t record_no_file(int16_t error) { return file_table().record_no_file(error); }

// Keeps error as the file's last error and returns it.
int16_t recorded(File* f, int16_t error) {
  f->set_last_error(error);
  return error;
}

}  // namespace

int16_t DEVICE_GETINFOBYLDEV_(uint32_t mask, int32_t ldev, void* logical_info, int16_t logical_max,
                              int16_t* logical_len, void* /*primary_info*/, int16_t /*primary_max*/,
                              int16_t* primary_len, void* /*backup_info*/, int16_t /*backup_max*/,
                              int16_t* backup_len, int32_t /*timeout*/, int16_t options,
                              int16_t match_type, int16_t match_subtype, char* devname,
                              int16_t devname_max, int16_t* devname_len) {
  if (!zeb::mask_fits(mask, 17)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  int16_t opts = present(mask, 12) ? options : 0;
  DeviceQuery query;
  query.ldev = ldev;
  query.next = (opts & 1) != 0;
  if ((opts & 2) != 0) {
    if (present(mask, 13)) query.type = match_type;
    if (present(mask, 14)) query.subtype = match_subtype;
  }
  Result<DeviceInfo> found = find_device(query);
  if (!found.ok()) return found.code();
  if (present(mask, 2) && logical_info != nullptr) {
    DeviceLogicalInfo info{};
    info.ldev = found->ldev;
    info.devtype = found->type;
    info.record_size = found->record_size;
    info.subtype = found->subtype;
    int16_t n = std::min<int16_t>(present(mask, 3) ? logical_max : 0, sizeof info);
    if (n < 0) n = 0;
    std::memcpy(logical_info, &info, static_cast<size_t>(n));
    if (present(mask, 4) && logical_len != nullptr) *logical_len = n;
  }
  if (present(mask, 7) && primary_len != nullptr) *primary_len = 0;
  if (present(mask, 10) && backup_len != nullptr) *backup_len = 0;
  if (present(mask, 15) && devname != nullptr) {
    int16_t max = present(mask, 16) ? devname_max : 0;
    if (static_cast<size_t>(std::max<int16_t>(max, 0)) < found->name.size())
      return err::kOutOfBounds;
    std::memcpy(devname, found->name.data(), found->name.size());
    if (present(mask, 17) && devname_len != nullptr) {
      *devname_len = static_cast<int16_t>(found->name.size());
    }
  }
  return 0;
}

int16_t FILE_CREATE_(uint32_t mask, char* filename, int16_t maxlen, int16_t* filenamelen,
                     int16_t filecode, int32_t primary_extent, int32_t secondary_extent,
                     int16_t maxextents, int16_t filetype, int16_t /*options*/, int16_t recordlen,
                     int16_t blocklen) {
  if (!zeb::mask_fits(mask, 11)) return record_no_file(err::kInvalidOperation);
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || filename == nullptr ||
      filenamelen == nullptr) {
    return record_no_file(err::kMissingParameter);
  }
  if (*filenamelen < 0 || *filenamelen > maxlen) return record_no_file(err::kOutOfBounds);
  long long pages = present(mask, 5) ? primary_extent : 0;
  if (present(mask, 7) && maxextents > 1) {
    pages += static_cast<long long>(present(mask, 6) ? secondary_extent : 0) * (maxextents - 1);
  }
  FileAttributes attributes;
  if (present(mask, 4)) attributes.filecode = filecode;
  if (present(mask, 5)) attributes.primary = static_cast<int16_t>(primary_extent);
  attributes.secondary =
      present(mask, 6) ? static_cast<int16_t>(secondary_extent) : attributes.primary;
  if (present(mask, 7)) attributes.maxextents = maxextents;
  if (present(mask, 8)) attributes.filetype = filetype;
  if (present(mask, 10)) attributes.recordlen = recordlen;
  if (present(mask, 11)) attributes.blocklen = blocklen;
  Result<FileName> made = create_file(std::string_view(filename, static_cast<size_t>(*filenamelen)),
                                      pages * zeb::kPageBytes, attributes);
  if (!made.ok()) return made.code();
  if (!made->temporary()) return 0;
  // A temporary file's name goes back to the caller, when it fits.
  std::string text = made->external();
  if (static_cast<size_t>(maxlen) < text.size()) {
    discard_temporary_file(*made);
    return record_no_file(err::kOutOfBounds);
  }
  std::memcpy(filename, text.data(), text.size());
  *filenamelen = static_cast<int16_t>(text.size());
  return 0;
}

int16_t CREATE(uint32_t mask, char* internal_name, int32_t primary_extent, int16_t filecode,
               int32_t secondary_extent, int16_t filetype, int16_t recordlen, int16_t blocklen,
               const void* /*keyseqinfo*/, const void* /*altkeyinfo*/,
               const void* /*partitioninfo*/, int16_t maxextents, int16_t buffersize,
               int16_t /*possible_extents*/) {
  if (!zeb::mask_fits(mask, 13)) return record_no_file(err::kInvalidOperation);
  if (!present(mask, 1) || internal_name == nullptr) return record_no_file(err::kMissingParameter);
  Extents extents;
  if (present(mask, 2)) extents.primary = primary_extent;
  if (present(mask, 4)) extents.secondary = secondary_extent;
  if (present(mask, 11)) extents.maxextents = maxextents;
  FileAttributes attributes;
  if (present(mask, 3)) attributes.filecode = filecode;
  if (present(mask, 5)) attributes.filetype = filetype;
  if (present(mask, 6)) attributes.recordlen = recordlen;
  if (present(mask, 7)) attributes.blocklen = blocklen;
  if (present(mask, 12)) attributes.buffersize = buffersize;
  return create_by_internal_name(internal_name, extents, attributes).code();
}

int16_t FILE_OPEN_(uint32_t mask, const char* filename, int16_t length, int16_t* filenum,
                   int16_t access, int16_t /*exclusion*/, int16_t nowait_depth,
                   int16_t /*sync_or_receive_depth*/, int16_t /*options*/) {
  if (!zeb::mask_fits(mask, 8)) return record_no_file(err::kInvalidOperation);
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || filename == nullptr ||
      filenum == nullptr) {
    return record_no_file(err::kMissingParameter);
  }
  *filenum = zeb::kNotOpen;
  if (length < 0) return record_no_file(err::kOutOfBounds);
  OpenOptions options;
  options.access = present(mask, 4) ? access : 0;
  options.nowait_depth = present(mask, 6) ? nowait_depth : 0;
  Result<int16_t> opened =
      open_file(std::string_view(filename, static_cast<size_t>(length)), options);
  if (!opened.ok()) return opened.code();
  *filenum = *opened;
  return 0;
}

int16_t FILE_CLOSE_(uint32_t mask, int16_t filenum, int16_t /*tape_disposition*/) {
  if (!zeb::mask_fits(mask, 2)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  return close_file(filenum).code();
}

int16_t POSITION(int16_t filenum, int32_t record_address) {
  return position_file(filenum, record_address).code();
}

int16_t WRITEX(uint32_t mask, int16_t filenum, const void* buffer, int16_t write_count,
               int16_t* count_written, int32_t /*tag*/) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  File* f = present(mask, 1) ? file_table().find(filenum) : nullptr;
  if (f == nullptr) return present(mask, 1) ? err::kNotOpenFile : err::kMissingParameter;
  if (!present(mask, 2) || !present(mask, 3)) return recorded(f, err::kMissingParameter);
  return write_file(filenum, buffer, write_count, present(mask, 4) ? count_written : nullptr)
      .code();
}

int16_t READX(uint32_t mask, int16_t filenum, void* buffer, int16_t read_count, int16_t* count_read,
              int32_t /*tag*/) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  File* f = present(mask, 1) ? file_table().find(filenum) : nullptr;
  if (f == nullptr) return present(mask, 1) ? err::kNotOpenFile : err::kMissingParameter;
  if (!present(mask, 2) || !present(mask, 3)) return recorded(f, err::kMissingParameter);
  return read_file(filenum, buffer, read_count, present(mask, 4) ? count_read : nullptr).code();
}

int16_t WRITEREADX(uint32_t mask, int16_t filenum, void* buffer, int16_t write_count,
                   int16_t read_count, int16_t* count_read, int32_t /*tag*/) {
  if (!zeb::mask_fits(mask, 6)) return err::kInvalidOperation;
  File* f = present(mask, 1) ? file_table().find(filenum) : nullptr;
  if (f == nullptr) return present(mask, 1) ? err::kNotOpenFile : err::kMissingParameter;
  if (!present(mask, 2) || !present(mask, 3) || !present(mask, 4)) {
    return recorded(f, err::kMissingParameter);
  }
  // Each kind checks the buffer and counts in its own order.
  return recorded(f, f->write_read(static_cast<char*>(buffer), write_count, read_count,
                                   present(mask, 5) ? count_read : nullptr)
                         .code());
}

int16_t FILE_GETINFO_(uint32_t mask, int16_t filenum, int16_t* lasterror, char* filename,
                      int16_t maxlen, int16_t* length, int16_t* typeinfo, int16_t /*flags*/) {
  if (!zeb::mask_fits(mask, 7)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  if (filenum == -1) {
    if (present(mask, 2) && lasterror != nullptr) *lasterror = file_table().no_file_error();
    return 0;
  }
  Result<FileInfo> info = file_info(filenum);
  if (!info.ok()) return info.code();
  if (present(mask, 2) && lasterror != nullptr) *lasterror = info->last_error;
  if (present(mask, 3) && filename != nullptr) {
    if (!present(mask, 4) ||
        static_cast<size_t>(std::max<int16_t>(maxlen, 0)) < info->name.size()) {
      return err::kOutOfBounds;
    }
    std::memcpy(filename, info->name.data(), info->name.size());
    if (present(mask, 5) && length != nullptr) *length = static_cast<int16_t>(info->name.size());
  }
  if (present(mask, 6) && typeinfo != nullptr) {
    // Device type, subtype, then three words not kept on this host.
    const int16_t words[5] = {info->device_type, info->device_subtype, 0, 0, 0};
    std::memcpy(typeinfo, words, sizeof words);
  }
  return 0;
}

int16_t FILEINFO(uint32_t mask, int16_t filenum, int16_t* error, char* filename, int16_t* ldevnum,
                 int16_t* devtype, int16_t* primary_extent, void*, void*, void*, int16_t* filecode,
                 int16_t* secondary_extent, void*, void*, void*, void*, int16_t* security, void*,
                 int32_t* capacity, void*, void*, int16_t* filetype, int16_t* maxextents,
                 int16_t* buffersize, int16_t* possible_extents) {
  if (!zeb::mask_fits(mask, 24)) return err::kInvalidOperation;
  auto set = [&](int n, auto* target, auto value) {
    if (present(mask, n) && target != nullptr) *target = value;
  };
  // The creation attributes of a disk file.
  auto set_attributes = [&](const FileAttributes& a) {
    set(6, primary_extent, a.primary);
    set(10, filecode, a.filecode);
    set(11, secondary_extent, a.secondary);
    set(21, filetype, a.filetype);
    set(22, maxextents, a.maxextents);
    set(23, buffersize, a.buffersize);
    set(24, possible_extents, a.maxextents);
  };
  if (present(mask, 1)) {
    if (filenum == -1) {
      set(2, error, file_table().no_file_error());
      return 0;
    }
    Result<FileDetails> details = file_details(filenum);
    if (!details.ok()) return details.code();
    set(2, error, details->last_error);
    if (present(mask, 3) && filename != nullptr) {
      FileName name;
      if (parse_name(details->name, &name)) to_internal(name, filename);
    }
    set(4, ldevnum, details->ldev);
    set(5, devtype, details->device_type);
    if (present(mask, 18) && capacity != nullptr) {
      if (!details->capacity.ok()) return details->capacity.code();
      *capacity = *details->capacity;
    }
    if (details->disk) {
      set_attributes(details->attributes);
      if (details->security) set(16, security, *details->security);
    }
    return 0;
  }
  if (!present(mask, 3) || filename == nullptr) return err::kMissingParameter;
  // By name: look the file up without opening it for the caller.
  Result<DiskFileInfo> info = disk_file_info(filename);
  set(2, error, info.code());
  if (!info.ok()) return info.code();
  set(4, ldevnum, info->ldev);
  set(5, devtype, info->device_type);
  set(18, capacity, info->capacity);
  set_attributes(info->attributes);
  if (info->security) set(16, security, *info->security);
  return 0;
}

int16_t FILERECINFO(uint32_t mask, int16_t filenum, void*, void*, void*, void*, void*, void*, void*,
                    int16_t* filetype, int16_t* recordlen, int16_t* blocklen, FileKeyInfo* keyinfo,
                    FileKeyInfo* altkeys, FileKeyInfo* partitions, const char* filename) {
  if (!zeb::mask_fits(mask, 15)) return err::kInvalidOperation;
  Result<FileAttributes> a = Status::error(err::kMissingParameter);
  if (present(mask, 1) && filenum != -1) {
    a = disk_file_attributes(filenum);
  } else if (present(mask, 15) && filename != nullptr) {
    a = disk_file_attributes(filename);
  }
  if (!a.ok()) return a.code();
  auto set = [&](int n, int16_t* target, int16_t value) {
    if (present(mask, n) && target != nullptr) *target = value;
  };
  set(9, filetype, a->filetype);
  set(10, recordlen, a->recordlen);
  set(11, blocklen, a->blocklen);
  for (auto [n, info] :
       {std::pair{12, keyinfo}, std::pair{13, altkeys}, std::pair{14, partitions}}) {
    if (present(mask, n) && info != nullptr) *info = FileKeyInfo{};
  }
  return 0;
}

int16_t FILE_SETSECURITY_(const char* internal_name, int16_t security) {
  if (internal_name == nullptr) return err::kMissingParameter;
  return set_security(internal_name, security).code();
}

int16_t FNAMECOLLAPSE(const char* internal_name, char* external_name) {
  std::string text = collapse_name(internal_name);
  std::memcpy(external_name, text.data(), text.size());
  return static_cast<int16_t>(text.size());
}

int16_t FNAMEEXPAND(const char* external_name, int16_t length, char* internal_name,
                    const char* defaults) {
  if (length <= 0) return 0;
  Result<FileName> name =
      expand_name(std::string_view(external_name, static_cast<size_t>(length)), defaults);
  if (!name.ok()) return 0;
  to_internal(*name, internal_name);
  return length;
}

int16_t FILENAME_DECOMPOSE_(uint32_t mask, const char* filename, int16_t length, char* piece,
                            int16_t maxlen, int16_t* piecelen, int16_t level) {
  if (!zeb::mask_fits(mask, 6)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || !present(mask, 4) ||
      !present(mask, 5) || filename == nullptr || piece == nullptr || piecelen == nullptr) {
    return err::kMissingParameter;
  }
  if (length < 0) return err::kOutOfBounds;
  Result<std::string> part = file_name_part(std::string_view(filename, static_cast<size_t>(length)),
                                            present(mask, 6) ? level : 0);
  if (!part.ok()) return part.code();
  if (static_cast<size_t>(std::max<int16_t>(maxlen, 0)) < part->size()) return err::kOutOfBounds;
  std::memcpy(piece, part->data(), part->size());
  *piecelen = static_cast<int16_t>(part->size());
  return 0;
}
