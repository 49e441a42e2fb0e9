// File-system procedures on Linux.
//
// Open files live in one table indexed by file number. Every open file has a
// host descriptor: a directory volume's files are host files below the
// volume's root, a simulated volume's files are in-memory files (memfd), and
// the reserved stream names are duplicates of the standard descriptors.
// Disk files are opened O_DSYNC, so a write returns when its data is on
// stable storage and a timed rewrite measures the device.
#include <zeb/platform/fs.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <zeb/platform/errors.h>
#include <zeb/platform/terminal.h>
#include <zeb/platform/types.h>
#include "platform/files/keyfile_host.h"
#include "platform/files/simdisk.h"
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/queue.h"
#include "platform/names/name_rules.h"
#include "platform/rooms.h"
#include "platform/volumes/volumes.h"

using zeb::present;
namespace err = zeb::err;

namespace zeb::platform {
namespace {

constexpr int kMaxFiles = 256;

// A file that lives only as long as someone holds it: a temporary file, or
// any file of a simulated volume. The creator's descriptor keeps it alive
// until its last open is closed.
struct HeldFile {
  int fd = -1;
  int opens = 0;
  bool temporary = true;
  std::string directory;  // where a temporary file of a directory volume was made
  ~HeldFile() {
    if (fd >= 0) syscalls().close(fd);
  }
};

enum class Kind { kDisk, kStream, kTerminal, kReceive, kProcess };

struct OpenFile {
  bool used = false;
  Kind kind = Kind::kDisk;
  int fd = -1;
  const Volume* volume = nullptr;
  long long position = 0;
  int16_t last_error = 0;
  std::string name;  // external name
  std::shared_ptr<HeldFile> held;
  // A stream whose writes can raise SIGPIPE (a pipe or socket): its writes
  // keep the signal away. Fixed at open: a descriptor's file type never
  // changes.
  bool may_sigpipe = true;
};

// Parsed file name.
struct Name {
  std::string volume;  // "$VOL", upper case
  std::string subvol;  // upper case; "#nnnnnnn" for a temporary file
  std::string file;    // upper case
  bool temporary() const { return !subvol.empty() && subvol[0] == '#' && file.empty(); }
  bool volume_only() const { return subvol.empty() && file.empty(); }
  std::string external() const {
    std::string text = volume;
    if (!subvol.empty()) text += "." + subvol;
    if (!file.empty()) text += "." + file;
    return text;
  }
};

OpenFile g_files[kMaxFiles];
int16_t g_last_error_no_file = 0;  // the last error of file number -1
int g_temp_counter = 0;
// Files held by name: temporary files and the files of simulated volumes.
std::map<std::string, std::shared_ptr<HeldFile>> g_held;

// A part of a name: a letter then up to seven letters or digits ("#" and
// seven digits for a temporary file's part).
bool valid_part(const std::string& part, bool allow_temp) {
  if (allow_temp && !part.empty() && part[0] == '#') {
    return part.size() == 8 && std::all_of(part.begin() + 1, part.end(), is_digit);
  }
  return is_name_part(part, 8);
}

// The dot-separated parts of a name, upper case.
std::vector<std::string> split_parts(std::string_view text) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    if (c == '.') {
      parts.push_back(current);
      current.clear();
    } else {
      current.push_back(to_upper(c));
    }
  }
  parts.push_back(current);
  return parts;
}

// Parses "$VOL[.SUB[.FILE]]" or "$VOL.#nnnnnnn"; false when malformed.
bool parse_name(std::string_view text, Name* name) {
  std::vector<std::string> parts = split_parts(text);
  if (parts.size() > 3) return false;
  const std::string& vol = parts[0];
  if (!is_dollar_name(vol, 8)) return false;
  *name = Name{vol, "", ""};
  if (parts.size() >= 2) {
    if (!valid_part(parts[1], parts.size() == 2)) return false;
    name->subvol = parts[1];
  }
  if (parts.size() == 3) {
    if (!valid_part(parts[2], false)) return false;
    name->file = parts[2];
  }
  return true;
}

// The 24-byte internal form of a parsed name.
void to_internal(const Name& name, char* internal) {
  std::memset(internal, ' ', 24);
  std::memcpy(internal, name.volume.data(), name.volume.size());
  std::memcpy(internal + 8, name.subvol.data(), name.subvol.size());
  std::memcpy(internal + 16, name.file.data(), name.file.size());
}

std::string trimmed_part(const char* part) {
  std::string text(part, 8);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool from_internal(const char* internal, Name* name) {
  Name result{trimmed_part(internal), trimmed_part(internal + 8), trimmed_part(internal + 16)};
  if (result.subvol.empty() && !result.file.empty()) return false;
  return parse_name(result.external(), name);
}

bool is_stream_name(const std::string& volume) {
  return volume == kHomeTerminalName || volume == kStdinName || volume == kStdoutName ||
         volume == kStderrName;
}

// Host path of a named file on a directory volume: subvolume and file are
// lower-case directory and file names below the root.
std::string host_path(const Volume& v, const Name& name) {
  std::string sub = lower(name.subvol), file = lower(name.file);
  std::string root = v.root;
  if (root.empty() || root.back() != '/') root.push_back('/');
  return root + sub + "/" + file;
}

int16_t errno_error() { return error_from_errno(errno); }

OpenFile* file_at(int16_t filenum) {
  if (filenum < 0 || filenum >= kMaxFiles || !g_files[filenum].used) return nullptr;
  return &g_files[filenum];
}

int16_t record_no_file(int16_t error) {
  g_last_error_no_file = error;
  return error;
}

int16_t device_type(const OpenFile& f) {
  return f.kind == Kind::kDisk ? kDeviceTypeDisk : kDeviceTypeTerminal;
}

int16_t device_subtype(int16_t filenum, const OpenFile& f) {
  if (f.kind == Kind::kTerminal) return terminal_subtype(filenum);
  return f.kind == Kind::kDisk ? f.volume->subtype : 0;
}

int16_t device_type_word(int16_t filenum, const OpenFile& f) {
  if (f.kind == Kind::kReceive || f.kind == Kind::kProcess) {
    return static_cast<int16_t>(2 << 6);  // a process
  }
  if (f.kind != Kind::kDisk) {
    return static_cast<int16_t>((kDeviceTypeTerminal << 6) | device_subtype(filenum, f));
  }
  return static_cast<int16_t>((kDeviceTypeDisk << 6) | (f.volume->subtype & 0x3F));
}

// Both sizing procedures measure the file against the file-size limit first:
// extending beyond it would raise SIGXFSZ, which ends the process; here it is
// EFBIG (error 45) instead.
bool beyond_size_limit(int fd, long long size) {
  long long limit = syscalls().file_size_limit();
  if (limit < 0 || size <= limit) return false;
  FileStatus st;
  return syscalls().fstat(fd, &st) != 0 || st.size < size;
}

}  // namespace

int extend_file(int fd, long long size) {
  if (beyond_size_limit(fd, size)) {
    errno = EFBIG;
    return -1;
  }
  FileStatus st;
  if (syscalls().fstat(fd, &st) != 0) return -1;
  return st.size < size ? syscalls().ftruncate(fd, size) : 0;
}

int reserve_file(int fd, long long size) {
  if (beyond_size_limit(fd, size)) {
    errno = EFBIG;
    return -1;
  }
  if (syscalls().fallocate(fd, 0, size) == 0) return 0;
  if (errno != EOPNOTSUPP && errno != EINVAL) return -1;
  return extend_file(fd, size);
}

namespace {

// ", beyond the file-size limit of N bytes" when size is beyond it.
std::string file_size_limit_text(long long size) {
  long long limit = syscalls().file_size_limit();
  if (limit < 0 || size <= limit) return "";
  return ", beyond the file-size limit of " + std::to_string(limit) + " bytes";
}

// Errors after which a temporary file is tried in the next directory: the
// user may not create files there.
bool refused_here(int e) { return e == EACCES || e == EPERM || e == EROFS; }

// Marks a private directory that was not the one this process made.
constexpr int kNotOurs = -2;

// The fallback for file systems without O_TMPFILE. The file is made inside a
// private directory (mode 0700, made for the purpose), opened through that
// directory's descriptor and unlinked through it, so no other user can
// rename, link or keep it: the directory admits nobody else. Before the file
// is made the directory is checked to be ours (owner, mode), and before it is
// removed by name the name is checked to be still ours (inode), since in a
// world-writable parent without the sticky bit another user may rename it.
// Returns the descriptor, or -1 with errno set, or kNotOurs.
int create_in_private_directory(const std::string& dir, int dsync_flag) {
  const Syscalls& sys = syscalls();
  static int counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = dir + "/.zeb-" + std::to_string(sys.getpid()) + "-" +
                       std::to_string(++counter) + "-" +
                       std::to_string(static_cast<uint64_t>(sys.monotonic_ns()) % 1000000007);
    if (sys.mkdir(path.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    int dirfd = sys.open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
    if (dirfd < 0) return kNotOurs;
    FileStatus made;
    if (sys.fstat(dirfd, &made) != 0 || !made.is_directory() ||
        made.uid != static_cast<uint32_t>(sys.geteuid()) || (made.mode & 07777) != 0700) {
      sys.close(dirfd);
      return kNotOurs;
    }
    int fd =
        sys.openat(dirfd, "scratch", O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | dsync_flag, 0600);
    int e = errno;
    if (fd >= 0) sys.unlinkat(dirfd, "scratch", 0);
    FileStatus named;
    bool still_ours = sys.lstat(path.c_str(), &named) == 0 && named.device == made.device &&
                      named.inode == made.inode;
    if (still_ours) sys.rmdir(path.c_str());
    sys.close(dirfd);
    if (fd < 0) {
      errno = e;
      return -1;
    }
    if (!still_ours) {
      sys.close(fd);
      return kNotOurs;
    }
    return fd;
  }
  errno = EEXIST;
  return -1;
}

// A nameless file in dir: O_TMPFILE, or the private-directory fallback.
// dsync_flag is O_DSYNC or 0.
int create_nameless(const std::string& dir, int dsync_flag) {
  int fd = syscalls().open(dir.c_str(), O_TMPFILE | O_RDWR | dsync_flag, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    fd = create_in_private_directory(dir, dsync_flag);
  }
  return fd;
}

// The directories where a temporary file of volume v may go, in order. A
// swap file (swap) goes in the temporary directory itself when that is on
// the volume. Any other goes in the volume's root, else in the first of the
// temporary directory, the home directory and the current directory that is
// on the root's file system (same device) and where the user may create it.
std::vector<std::string> temporary_directories(const Volume& v, bool swap) {
  std::string tmp = temp_directory();
  if (swap && volume_holds(v, tmp)) return {tmp};
  std::vector<std::string> dirs = {v.root};
  FileStatus root;
  if (syscalls().stat(v.root.c_str(), &root) != 0) return dirs;
  std::vector<std::string> others = {tmp};
  if (const auto& home = host().config().home; home && !home->empty() && (*home)[0] == '/') {
    others.push_back(*home);
  }
  std::string cwd;
  if (syscalls().realpath(".", &cwd) == 0) others.push_back(cwd);
  for (const std::string& dir : others) {
    FileStatus st;
    if (std::find(dirs.begin(), dirs.end(), dir) != dirs.end()) continue;
    if (syscalls().stat(dir.c_str(), &st) == 0 && st.is_directory() && st.device == root.device) {
      dirs.push_back(dir);
    }
  }
  return dirs;
}

// Creates a temporary file on volume v (a swap file when swap); returns its
// held record.
int16_t create_temporary(const Volume& v, Name* name, std::shared_ptr<HeldFile>* held,
                         bool swap = false) {
  auto file = std::make_shared<HeldFile>();
  if (v.simulated) {
    file->fd = syscalls().memfd_create("zeb-sim");
    if (file->fd < 0) return errno_error();
  } else {
    int16_t first_error = 0;
    std::string first_dir;
    for (const std::string& dir : temporary_directories(v, swap)) {
      // A swap file is not O_DSYNC: its contents never outlive the process,
      // and on ext4 reserving the blocks of an O_DSYNC file waits for a
      // journal commit.
      file->fd = create_nameless(dir, swap ? 0 : O_DSYNC);
      if (file->fd >= 0) {
        file->directory = dir;
        break;
      }
      // Another user's hand in the private directory is this volume's error.
      int16_t error = file->fd == kNotOurs ? err::kSecurityViolation : errno_error();
      bool refused = file->fd != kNotOurs && refused_here(errno);
      // The first refusal is the volume's error, unless something other than
      // a refusal ends the search.
      if (first_error == 0 || !refused) {
        first_error = error;
        first_dir = dir;
      }
      if (!refused) break;
    }
    if (file->fd < 0) {
      note_failure("cannot create a temporary file in " + first_dir);
      return first_error;
    }
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "#%07d", ++g_temp_counter % 10000000);
  *name = Name{v.name, digits, ""};
  g_held[name->external()] = file;
  *held = file;
  return 0;
}

// The attributes a disk file was created with, kept with the file in the
// extended attribute "user.zeb.attributes" as "name=value" words. A file
// without them (made by other means, or on a file system that keeps no
// extended attributes) reports the defaults, its primary extent being its
// size in pages.
struct Attributes {
  int16_t filecode = 0;
  int16_t primary = 1;
  int16_t secondary = 1;
  int16_t maxextents = 16;
  int16_t filetype = 0;
  int16_t recordlen = 0;
  int16_t blocklen = 4096;
  int16_t buffersize = 4096;
};
constexpr char kAttributesName[] = "user.zeb.attributes";

void store_attributes(int fd, const Attributes& a) {
  std::string text =
      "filecode=" + std::to_string(a.filecode) + " primary=" + std::to_string(a.primary) +
      " secondary=" + std::to_string(a.secondary) + " maxextents=" + std::to_string(a.maxextents) +
      " filetype=" + std::to_string(a.filetype) + " recordlen=" + std::to_string(a.recordlen) +
      " blocklen=" + std::to_string(a.blocklen) + " buffersize=" + std::to_string(a.buffersize);
  syscalls().fsetxattr(fd, kAttributesName, text);  // kept where the file system can
}

Attributes read_attributes(int fd) {
  Attributes a;
  FileStatus status;
  if (syscalls().fstat(fd, &status) == 0) {
    long long pages = (status.size + zeb::kPageBytes - 1) / zeb::kPageBytes;
    a.primary = a.secondary = static_cast<int16_t>(std::clamp<long long>(pages, 1, INT16_MAX));
  }
  std::string text;
  if (syscalls().fgetxattr(fd, kAttributesName, &text) != 0) return a;
  const std::pair<const char*, int16_t*> fields[] = {
      {"filecode", &a.filecode},     {"primary", &a.primary},      {"secondary", &a.secondary},
      {"maxextents", &a.maxextents}, {"filetype", &a.filetype},    {"recordlen", &a.recordlen},
      {"blocklen", &a.blocklen},     {"buffersize", &a.buffersize}};
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    size_t eq = word.find('=');
    for (const auto& [key, field] : fields) {
      if (eq != std::string::npos && word.compare(0, eq, key) == 0 && std::strlen(key) == eq) {
        long value = std::strtol(word.c_str() + eq + 1, nullptr, 10);
        *field = static_cast<int16_t>(std::clamp<long>(value, INT16_MIN, INT16_MAX));
      }
    }
    pos = end + 1;
  }
  return a;
}

// Creates a named disk file of size bytes (0: empty).
int16_t create_named(const Volume& v, const Name& name, long long size,
                     const Attributes& attributes) {
  if (v.simulated) {
    if (g_held.count(name.external()) != 0) return err::kAlreadyExists;
    auto file = std::make_shared<HeldFile>();
    file->temporary = false;
    file->fd = syscalls().memfd_create("zeb-sim");
    if (file->fd < 0) return errno_error();
    if (size > 0 && extend_file(file->fd, size) != 0) return errno_error();
    store_attributes(file->fd, attributes);
    g_held[name.external()] = file;
    return 0;
  }
  std::string path = host_path(v, name);
  std::string dir = path.substr(0, path.find_last_of('/'));
  if (syscalls().mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return errno_error();
  int fd = syscalls().open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return errno_error();
  int16_t error = 0;
  if (size > 0 && extend_file(fd, size) != 0) error = errno_error();
  if (error == 0) store_attributes(fd, attributes);
  syscalls().close(fd);
  if (error != 0) syscalls().unlink(path.c_str());
  return error;
}

// Opens a host descriptor for a parsed name; *held is set for held files.
// flags holds the access mode (O_RDONLY, O_WRONLY or O_RDWR) and any other
// open flags; a held file's descriptor is a duplicate and keeps the mode the
// file was made with.
int16_t open_descriptor(const Name& name, const Volume** volume, int* fd,
                        std::shared_ptr<HeldFile>* held, int flags) {
  const Volume* v = find_volume(name.volume);
  if (v == nullptr) return err::kNoSuchDevice;
  *volume = v;
  if (name.volume_only()) return err::kBadName;
  auto it = g_held.find(name.external());
  if (it != g_held.end()) {
    *fd = syscalls().dup(it->second->fd);
    if (*fd < 0) {
      int16_t error = errno_error();
      const std::string& dir = it->second->directory;
      note_failure("cannot open " + name.external() +
                   (dir.empty() ? "" : " (a temporary file in " + dir + ")") + " again");
      return error;
    }
    *held = it->second;
    return 0;
  }
  if (v->simulated || name.temporary()) return err::kNotFound;
  *fd = syscalls().open(host_path(*v, name).c_str(), O_NOFOLLOW | O_CLOEXEC | flags, 0);
  if (*fd < 0) return errno_error();
  return 0;
}

int16_t allocate_file_number() {
  for (int16_t i = 0; i < kMaxFiles; ++i) {
    if (!g_files[i].used) return i;
  }
  return -1;
}

}  // namespace

void forget_held_files() {
  for (auto it = g_held.begin(); it != g_held.end();) {
    Name name;
    const Volume* v = parse_name(it->first, &name) ? find_volume(name.volume) : nullptr;
    bool forget = v == nullptr || v->simulated || (it->second->temporary && it->second->opens == 0);
    it = forget ? g_held.erase(it) : std::next(it);
  }
}

int16_t add_process_file(int fd, const std::string& name, int16_t* filenum) {
  int16_t number = allocate_file_number();
  if (number < 0) return err::kNoControlBlock;
  OpenFile f;
  f.used = true;
  f.kind = Kind::kProcess;
  f.fd = fd;
  f.name = name;
  g_files[number] = f;
  *filenum = number;
  return 0;
}

int16_t record_open_error(int16_t error) { return record_no_file(error); }

bool set_last_error(int16_t filenum, int16_t error) {
  OpenFile* f = file_at(filenum);
  if (f == nullptr) return false;
  f->last_error = error;
  return true;
}

void set_file_error(int16_t filenum, int16_t error) { set_last_error(filenum, error); }

int host_fd(int16_t filenum) {
  OpenFile* f = file_at(filenum);
  return f != nullptr ? f->fd : -1;
}

int open_internal_for_mapping(const char* internal_name, int16_t* error) {
  Name name;
  if (!from_internal(internal_name, &name)) {
    *error = err::kBadName;
    return -1;
  }
  const Volume* v = nullptr;
  int fd = -1;
  std::shared_ptr<HeldFile> held;
  *error = open_descriptor(name, &v, &fd, &held, O_RDWR);
  return *error == 0 ? fd : -1;
}

int16_t host_path_of_internal(const char* internal_name, std::string* path) {
  Name name;
  if (!from_internal(internal_name, &name) || name.temporary() || name.file.empty()) {
    return err::kBadName;
  }
  const Volume* v = find_volume(name.volume);
  if (v == nullptr) return err::kNoSuchDevice;
  if (v->simulated) return err::kInvalidOperation;
  *path = host_path(*v, name);
  return 0;
}

bool internal_name_of_path(const std::string& path, char* internal_name) {
  for (const Volume& v : volumes()) {
    if (v.simulated) continue;
    std::string root;
    if (syscalls().realpath(v.root.c_str(), &root) != 0) continue;
    if (root.back() != '/') root.push_back('/');
    if (path.compare(0, root.size(), root) != 0) continue;
    std::string rest = path.substr(root.size());
    size_t slash = rest.find('/');
    if (slash == std::string::npos) continue;
    Name name{v.name, rest.substr(0, slash), rest.substr(slash + 1)};
    std::transform(name.subvol.begin(), name.subvol.end(), name.subvol.begin(), to_upper);
    std::transform(name.file.begin(), name.file.end(), name.file.begin(), to_upper);
    // Only a path spelled exactly as the volume spells its files maps back.
    std::string spelled = name.subvol + "/" + name.file;
    std::transform(spelled.begin(), spelled.end(), spelled.begin(), to_lower);
    Name parsed;
    if (spelled != rest || !parse_name(name.external(), &parsed) || parsed.temporary()) continue;
    to_internal(parsed, internal_name);
    return true;
  }
  return false;
}

}  // namespace zeb::platform

using namespace zeb::platform;

int16_t DEVICE_GETINFOBYLDEV_(uint32_t mask, int32_t ldev, void* logical_info, int16_t logical_max,
                              int16_t* logical_len, void* /*primary_info*/, int16_t /*primary_max*/,
                              int16_t* primary_len, void* /*backup_info*/, int16_t /*backup_max*/,
                              int16_t* backup_len, int32_t /*timeout*/, int16_t options,
                              int16_t match_type, int16_t match_subtype, char* devname,
                              int16_t devname_max, int16_t* devname_len) {
  if (!zeb::mask_fits(mask, 17)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  int16_t opts = present(mask, 12) ? options : 0;
  const Volume* found = nullptr;
  for (const Volume& v : volumes()) {
    bool position_ok = (opts & 1) != 0 ? v.ldev > ldev : v.ldev == ldev;
    if (!position_ok) continue;
    if ((opts & 2) != 0) {
      if (present(mask, 13) && match_type != zeb::kDeviceTypeDisk) continue;
      if (present(mask, 14) && match_subtype != v.subtype) continue;
    }
    found = &v;
    break;
  }
  if (found == nullptr) return err::kNoMoreDevices;
  if (present(mask, 2) && logical_info != nullptr) {
    DeviceLogicalInfo info{};
    info.ldev = found->ldev;
    info.devtype = zeb::kDeviceTypeDisk;
    info.record_size = 512;
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
  Name name;
  if (!parse_name(std::string_view(filename, static_cast<size_t>(*filenamelen)), &name) ||
      name.temporary() || (!name.volume_only() && name.file.empty())) {
    return record_no_file(err::kBadName);
  }
  const Volume* v = find_volume(name.volume);
  if (v == nullptr) return record_no_file(err::kNoSuchDevice);
  if (name.volume_only()) {
    std::shared_ptr<HeldFile> held;
    int16_t error = create_temporary(*v, &name, &held);
    if (error != 0) return record_no_file(error);
    std::string text = name.external();
    if (static_cast<size_t>(maxlen) < text.size()) {
      g_held.erase(text);
      return record_no_file(err::kOutOfBounds);
    }
    std::memcpy(filename, text.data(), text.size());
    *filenamelen = static_cast<int16_t>(text.size());
    return 0;
  }
  long long pages = present(mask, 5) ? primary_extent : 0;
  if (present(mask, 7) && maxextents > 1) {
    pages += static_cast<long long>(present(mask, 6) ? secondary_extent : 0) * (maxextents - 1);
  }
  Attributes attributes;
  if (present(mask, 4)) attributes.filecode = filecode;
  if (present(mask, 5)) attributes.primary = static_cast<int16_t>(primary_extent);
  attributes.secondary =
      present(mask, 6) ? static_cast<int16_t>(secondary_extent) : attributes.primary;
  if (present(mask, 7)) attributes.maxextents = maxextents;
  if (present(mask, 8)) attributes.filetype = filetype;
  if (present(mask, 10)) attributes.recordlen = recordlen;
  if (present(mask, 11)) attributes.blocklen = blocklen;
  return record_no_file(create_named(*v, name, pages * zeb::kPageBytes, attributes));
}

int16_t CREATE(uint32_t mask, char* internal_name, int32_t primary_extent, int16_t filecode,
               int32_t secondary_extent, int16_t filetype, int16_t recordlen, int16_t blocklen,
               const void* /*keyseqinfo*/, const void* /*altkeyinfo*/,
               const void* /*partitioninfo*/, int16_t maxextents, int16_t buffersize,
               int16_t /*possible_extents*/) {
  if (!zeb::mask_fits(mask, 13)) return record_no_file(err::kInvalidOperation);
  if (!present(mask, 1) || internal_name == nullptr) return record_no_file(err::kMissingParameter);
  Name name;
  if (!from_internal(internal_name, &name) || name.temporary() ||
      (!name.volume_only() && name.file.empty())) {
    return record_no_file(err::kBadName);
  }
  const Volume* v = find_volume(name.volume);
  if (v == nullptr) return record_no_file(err::kNoSuchDevice);
  // Extents are in 2048-byte pages; a file gets its primary extent and
  // maxextents - 1 secondary extents at once (defaults 1 page, 16 extents).
  long long primary = present(mask, 2) && primary_extent > 0 ? primary_extent : 1;
  long long secondary = present(mask, 4) && secondary_extent > 0 ? secondary_extent : primary;
  long long extents = present(mask, 11) && maxextents > 0 ? maxextents : 16;
  long long size = (primary + secondary * (extents - 1)) * zeb::kPageBytes;
  if (name.volume_only()) {
    std::shared_ptr<HeldFile> held;
    int16_t error = create_temporary(*v, &name, &held, true);
    if (error != 0) return record_no_file(error);
    // The blocks are reserved now, so a full disk is this call's error.
    if (reserve_file(held->fd, size) != 0) {
      error = errno_error();
      note_failure("cannot make a temporary file of " + std::to_string(size) + " bytes in " +
                   (v->simulated ? v->name : held->directory) + file_size_limit_text(size));
      g_held.erase(name.external());
      return record_no_file(error);
    }
    // A temporary made by CREATE lives until the process ends: nothing
    // closes it by file number.
    held->opens = 1;
    to_internal(name, internal_name);
    return 0;
  }
  Attributes attributes;
  attributes.filecode = present(mask, 3) ? filecode : 0;
  attributes.primary = static_cast<int16_t>(std::min<long long>(primary, INT16_MAX));
  attributes.secondary = static_cast<int16_t>(std::min<long long>(secondary, INT16_MAX));
  attributes.maxextents = static_cast<int16_t>(extents);
  if (present(mask, 5)) attributes.filetype = filetype;
  if (present(mask, 6)) attributes.recordlen = recordlen;
  if (present(mask, 7)) attributes.blocklen = blocklen;
  if (present(mask, 12)) attributes.buffersize = buffersize;
  return record_no_file(create_named(*v, name, size, attributes));
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
  Name name;
  if (!parse_name(std::string_view(filename, static_cast<size_t>(length)), &name)) {
    return record_no_file(err::kBadName);
  }
  int16_t nowait = present(mask, 6) ? nowait_depth : 0;
  // $RECEIVE, terminal devices, and the standard streams opened for nowait
  // I/O take a nowait depth; nothing else does.
  bool receive = name.volume == kReceiveName && name.volume_only();
  bool terminal =
      !receive && name.volume_only() &&
      (!terminal_device_path(name.volume).empty() || (is_stream_name(name.volume) && nowait != 0));
  if (nowait != 0 && !terminal && !receive) return record_no_file(err::kInvalidOperation);
  // A name that is no volume, device or stream but a process's: that
  // process's $RECEIVE.
  if (!receive && !terminal && name.volume_only() && !is_stream_name(name.volume) &&
      find_volume(name.volume) == nullptr && is_process_name(name.volume)) {
    return record_no_file(open_process_by_name(name.volume, filenum));
  }
  int16_t number = allocate_file_number();
  if (number < 0) return record_no_file(err::kNoControlBlock);
  OpenFile f;
  f.name = name.external();
  if (receive) {
    int16_t error = receive_open(number, nowait);
    if (error != 0) return record_no_file(error);
    f.kind = Kind::kReceive;
  } else if (terminal) {
    f.kind = Kind::kTerminal;
    int16_t error = terminal_open(number, name.volume, nowait, &f.fd);
    if (error != 0) return record_no_file(error);
  } else if (is_stream_name(name.volume) && name.volume_only()) {
    int source = name.volume == kStdinName ? 0 : name.volume == kStderrName ? 2 : 1;
    f.kind = Kind::kStream;
    f.fd = syscalls().dup(source);
    if (f.fd < 0) {
      int16_t error = errno_error();
      note_failure(std::string("cannot open ") +
                   (source == 0   ? "standard input"
                    : source == 1 ? "standard output"
                                  : "standard error") +
                   " (" + f.name + ")");
      return record_no_file(error);
    }
    f.may_sigpipe = may_raise_sigpipe(f.fd);
  } else {
    // Access 1 reads only and 2 writes only, so a file on a read-only file
    // system, or one the user may only read, can be opened for reading.
    int16_t mode = present(mask, 4) ? access : 0;
    int how = mode == 1 ? O_RDONLY : mode == 2 ? O_WRONLY : O_RDWR;
    int16_t error = open_descriptor(name, &f.volume, &f.fd, &f.held, how | O_DSYNC);
    if (error != 0) return record_no_file(error);
    // A key-sequenced file is read through its index from now on.
    if (keyfile_recognise(f.fd)) {
      error = keyfile_attach(number, f.fd);
      if (error != 0) {
        syscalls().close(f.fd);
        return record_no_file(error);
      }
    }
    if (f.held) ++f.held->opens;
  }
  f.used = true;
  g_files[number] = f;
  *filenum = number;
  return record_no_file(0);
}

int16_t FILE_CLOSE_(uint32_t mask, int16_t filenum, int16_t /*tape_disposition*/) {
  if (!zeb::mask_fits(mask, 2)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  OpenFile* f = file_at(filenum);
  if (f == nullptr) return err::kNotOpenFile;
  if (f->kind == Kind::kTerminal) terminal_close(filenum);
  keyfile_detach(filenum);
  if (f->kind == Kind::kReceive)
    receive_close(filenum);
  else if (f->kind == Kind::kProcess)
    close_process(f->fd);
  else
    syscalls().close(f->fd);
  if (f->held && --f->held->opens <= 0 && f->held->temporary) {
    // The last open of a temporary file is gone: discard it.
    for (auto it = g_held.begin(); it != g_held.end(); ++it) {
      if (it->second == f->held) {
        g_held.erase(it);
        break;
      }
    }
  }
  *f = OpenFile{};
  return 0;
}

int16_t POSITION(int16_t filenum, int32_t record_address) {
  OpenFile* f = file_at(filenum);
  if (f == nullptr) return err::kNotOpenFile;
  if (f->kind != Kind::kDisk) return f->last_error = err::kInvalidOperation;
  if (keyfile_attached(filenum)) return f->last_error = err::kInvalidOperation;
  if (record_address == -1) {
    FileStatus status;
    if (syscalls().fstat(f->fd, &status) != 0) return f->last_error = errno_error();
    f->position = status.size;
  } else if (record_address < 0) {
    return f->last_error = err::kOutOfBounds;
  } else {
    f->position = record_address;
  }
  return f->last_error = 0;
}

int16_t WRITEX(uint32_t mask, int16_t filenum, const void* buffer, int16_t write_count,
               int16_t* count_written, int32_t /*tag*/) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  OpenFile* f = present(mask, 1) ? file_at(filenum) : nullptr;
  if (f == nullptr) return present(mask, 1) ? err::kNotOpenFile : err::kMissingParameter;
  if (!present(mask, 2) || !present(mask, 3) || (buffer == nullptr && write_count > 0)) {
    return f->last_error = err::kMissingParameter;
  }
  if (write_count < 0) return f->last_error = err::kBadCount;
  if (f->kind == Kind::kTerminal) {
    return f->last_error = terminal_writex(filenum, buffer, write_count,
                                           present(mask, 4) ? count_written : nullptr);
  }
  if (f->kind == Kind::kReceive) return f->last_error = err::kInvalidOperation;
  if (f->kind == Kind::kProcess) {
    // The process's reply error is the write's.
    int16_t reply = 0;
    int16_t error = process_message(f->fd, buffer, write_count, nullptr, 0, nullptr, &reply);
    if (error != 0) return f->last_error = error;
    if (present(mask, 4) && count_written != nullptr) *count_written = write_count;
    return f->last_error = reply;
  }
  if (keyfile_attached(filenum)) return f->last_error = err::kInvalidOperation;
  size_t count = static_cast<size_t>(write_count);
  if (f->kind == Kind::kStream) {
    // Each write to a terminal or stream is one line.
    char line[32768 + 1];
    if (count > 0) std::memcpy(line, buffer, count);
    line[count] = '\n';
    // A reader that went away is an error of this write, never a signal.
    long n = f->may_sigpipe ? write_all_no_sigpipe(f->fd, line, count + 1)
                            : write_all(f->fd, line, count + 1);
    if (n < 0) return f->last_error = errno_error();
  } else {
    if (f->volume->simulated) {
      int16_t error = simdisk_write(*f->volume, f->position);
      if (error != 0) return f->last_error = error;
    }
    if (count > 0) {
      long n = syscalls().pwrite(f->fd, buffer, count, f->position);
      if (n < 0) return f->last_error = errno_error();
      if (static_cast<size_t>(n) != count) return f->last_error = err::kNoDiscSpace;
      f->position += n;
    }
  }
  if (present(mask, 4) && count_written != nullptr) *count_written = write_count;
  return f->last_error = 0;
}

int16_t READX(uint32_t mask, int16_t filenum, void* buffer, int16_t read_count, int16_t* count_read,
              int32_t /*tag*/) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  OpenFile* f = present(mask, 1) ? file_at(filenum) : nullptr;
  if (f == nullptr) return present(mask, 1) ? err::kNotOpenFile : err::kMissingParameter;
  if (!present(mask, 2) || !present(mask, 3) || buffer == nullptr) {
    return f->last_error = err::kMissingParameter;
  }
  if (read_count < 0) return f->last_error = err::kBadCount;
  if (f->kind == Kind::kTerminal) {
    return f->last_error =
               terminal_readx(filenum, buffer, read_count, present(mask, 4) ? count_read : nullptr);
  }
  if (f->kind == Kind::kReceive || f->kind == Kind::kProcess) {
    return f->last_error = err::kInvalidOperation;
  }
  if (keyfile_attached(filenum)) {
    return f->last_error =
               keyfile_read(filenum, buffer, read_count, present(mask, 4) ? count_read : nullptr);
  }
  long n;
  if (f->kind == Kind::kStream) {
    // One read is one line, as one write is: bytes are taken one at a time
    // up to the line feed, so the next line stays in the stream for the next
    // read. A line longer than read_count is returned in pieces.
    char* out = static_cast<char*>(buffer);
    n = 0;
    bool ended = false;
    while (n < read_count) {
      char c;
      long got = syscalls().read(f->fd, &c, 1);
      if (got < 0) return f->last_error = errno_error();
      if (got == 0) {
        ended = true;
        break;
      }
      // A line read from a stream arrives without its line feed.
      if (c == '\n') break;
      out[n++] = c;
    }
    // Nothing at all is the end of the input; an empty line is a line.
    if (ended && n == 0 && read_count > 0) return f->last_error = err::kEndOfFile;
  } else {
    n = syscalls().pread(f->fd, buffer, static_cast<size_t>(read_count), f->position);
  }
  if (n < 0) return f->last_error = errno_error();
  if (n == 0 && read_count > 0 && f->kind == Kind::kDisk) return f->last_error = err::kEndOfFile;
  if (f->kind == Kind::kDisk) f->position += n;
  if (present(mask, 4) && count_read != nullptr) *count_read = static_cast<int16_t>(n);
  return f->last_error = 0;
}

int16_t WRITEREADX(uint32_t mask, int16_t filenum, void* buffer, int16_t write_count,
                   int16_t read_count, int16_t* count_read, int32_t /*tag*/) {
  if (!zeb::mask_fits(mask, 6)) return err::kInvalidOperation;
  OpenFile* f = present(mask, 1) ? file_at(filenum) : nullptr;
  if (f == nullptr) return present(mask, 1) ? err::kNotOpenFile : err::kMissingParameter;
  if (f->kind == Kind::kTerminal) {
    return terminal_writereadx(mask, filenum, buffer, write_count, read_count, count_read);
  }
  if (!present(mask, 2) || !present(mask, 3) || !present(mask, 4) || buffer == nullptr) {
    return f->last_error = err::kMissingParameter;
  }
  if (write_count < 0 || read_count < 0) return f->last_error = err::kBadCount;
  if (f->kind != Kind::kProcess) return f->last_error = err::kInvalidOperation;
  int16_t reply = 0, got = 0;
  int16_t error = process_message(f->fd, buffer, write_count, buffer, read_count, &got, &reply);
  if (error != 0) return f->last_error = error;
  if (present(mask, 5) && count_read != nullptr) *count_read = got;
  return f->last_error = reply;
}

int16_t FILE_GETINFO_(uint32_t mask, int16_t filenum, int16_t* lasterror, char* filename,
                      int16_t maxlen, int16_t* length, int16_t* typeinfo, int16_t /*flags*/) {
  if (!zeb::mask_fits(mask, 7)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  if (filenum == -1) {
    if (present(mask, 2) && lasterror != nullptr) *lasterror = g_last_error_no_file;
    return 0;
  }
  OpenFile* f = file_at(filenum);
  if (f == nullptr) return err::kNotOpenFile;
  if (present(mask, 2) && lasterror != nullptr) *lasterror = f->last_error;
  if (present(mask, 3) && filename != nullptr) {
    if (!present(mask, 4) || static_cast<size_t>(std::max<int16_t>(maxlen, 0)) < f->name.size()) {
      return err::kOutOfBounds;
    }
    std::memcpy(filename, f->name.data(), f->name.size());
    if (present(mask, 5) && length != nullptr) *length = static_cast<int16_t>(f->name.size());
  }
  if (present(mask, 6) && typeinfo != nullptr) {
    // Device type, subtype, then three words not kept on this host.
    const int16_t words[5] = {device_type(*f), device_subtype(filenum, *f), 0, 0, 0};
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
  // The creation attributes of a disk file's descriptor.
  auto set_attributes = [&](int fd) {
    Attributes a = read_attributes(fd);
    set(6, primary_extent, a.primary);
    set(10, filecode, a.filecode);
    set(11, secondary_extent, a.secondary);
    set(21, filetype, a.filetype);
    set(22, maxextents, a.maxextents);
    set(23, buffersize, a.buffersize);
    set(24, possible_extents, a.maxextents);
    FileStatus status;
    if (syscalls().fstat(fd, &status) == 0) {
      set(16, security, static_cast<int16_t>(status.mode & 0777));
    }
  };
  auto size_of = [](int fd) -> int32_t {
    FileStatus status;
    if (syscalls().fstat(fd, &status) != 0) return -1;
    return status.size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(status.size);
  };
  if (present(mask, 1)) {
    if (filenum == -1) {
      set(2, error, g_last_error_no_file);
      return 0;
    }
    OpenFile* f = file_at(filenum);
    if (f == nullptr) return err::kNotOpenFile;
    set(2, error, f->last_error);
    if (present(mask, 3) && filename != nullptr) {
      Name name;
      if (parse_name(f->name, &name)) to_internal(name, filename);
    }
    set(4, ldevnum, static_cast<int16_t>(f->volume != nullptr ? f->volume->ldev : 0));
    set(5, devtype, device_type_word(filenum, *f));
    if (present(mask, 18) && capacity != nullptr) {
      if (f->kind != Kind::kDisk)
        *capacity = 0;
      else if ((*capacity = size_of(f->fd)) < 0)
        return errno_error();
    }
    if (f->kind == Kind::kDisk) set_attributes(f->fd);
    return 0;
  }
  if (!present(mask, 3) || filename == nullptr) return err::kMissingParameter;
  // By name: look the file up without opening it for the caller.
  Name name;
  int16_t result = 0;
  if (!from_internal(filename, &name)) result = err::kBadName;
  const Volume* v = nullptr;
  int fd = -1;
  std::shared_ptr<HeldFile> held;
  if (result == 0) result = open_descriptor(name, &v, &fd, &held, O_RDONLY);
  set(2, error, result);
  if (result != 0) return result;
  set(4, ldevnum, static_cast<int16_t>(v->ldev));
  set(5, devtype, static_cast<int16_t>((zeb::kDeviceTypeDisk << 6) | (v->subtype & 0x3F)));
  if (present(mask, 18) && capacity != nullptr) *capacity = size_of(fd);
  set_attributes(fd);
  syscalls().close(fd);
  return 0;
}

int16_t FILERECINFO(uint32_t mask, int16_t filenum, void*, void*, void*, void*, void*, void*, void*,
                    int16_t* filetype, int16_t* recordlen, int16_t* blocklen, FileKeyInfo* keyinfo,
                    FileKeyInfo* altkeys, FileKeyInfo* partitions, const char* filename) {
  if (!zeb::mask_fits(mask, 15)) return err::kInvalidOperation;
  int fd = -1;
  bool owned = false;
  if (present(mask, 1) && filenum != -1) {
    OpenFile* f = file_at(filenum);
    if (f == nullptr) return err::kNotOpenFile;
    if (f->kind != Kind::kDisk) return err::kInvalidOperation;
    fd = f->fd;
  } else {
    if (!present(mask, 15) || filename == nullptr) return err::kMissingParameter;
    Name name;
    if (!from_internal(filename, &name)) return err::kBadName;
    const Volume* v = nullptr;
    std::shared_ptr<HeldFile> held;
    if (int16_t error = open_descriptor(name, &v, &fd, &held, 0); error != 0) return error;
    owned = true;
  }
  Attributes a = read_attributes(fd);
  if (owned) syscalls().close(fd);
  auto set = [&](int n, int16_t* target, int16_t value) {
    if (present(mask, n) && target != nullptr) *target = value;
  };
  set(9, filetype, a.filetype);
  set(10, recordlen, a.recordlen);
  set(11, blocklen, a.blocklen);
  for (auto [n, info] :
       {std::pair{12, keyinfo}, std::pair{13, altkeys}, std::pair{14, partitions}}) {
    if (present(mask, n) && info != nullptr) *info = FileKeyInfo{};
  }
  return 0;
}

int16_t FILE_SETSECURITY_(const char* internal_name, int16_t security) {
  if (internal_name == nullptr) return err::kMissingParameter;
  Name name;
  if (!from_internal(internal_name, &name)) return err::kBadName;
  const Volume* v = nullptr;
  int fd = -1;
  std::shared_ptr<HeldFile> held;
  if (int16_t error = open_descriptor(name, &v, &fd, &held, 0); error != 0) return error;
  int16_t result = 0;
  if (syscalls().fchmod(fd, static_cast<unsigned>(security) & 0777u) != 0) result = errno_error();
  syscalls().close(fd);
  return result;
}

int16_t FNAMECOLLAPSE(const char* internal_name, char* external_name) {
  std::string text;
  if (internal_name[0] == '\\') {
    // A name on another system: this host knows no system names.
    text = "\\??";
    std::string volume =
        trimmed_part(internal_name).substr(std::min<size_t>(2, trimmed_part(internal_name).size()));
    text += ".$" + volume;
  } else {
    text = trimmed_part(internal_name);
  }
  // Blank parts are left out, dots only between the parts that stand.
  for (const std::string& part :
       {trimmed_part(internal_name + 8), trimmed_part(internal_name + 16)}) {
    if (part.empty()) continue;
    if (!text.empty()) text += ".";
    text += part;
  }
  // The promise is at most 26 bytes, the longest name of this system
  // ("$VOLUMEX.SUBVOLXX.FILENAME"). A name on another system can run to 29
  // ("\??." before a seven-character volume): its text only shows the name,
  // since this host cannot reach that system, so it is cut rather than
  // written past the caller's buffer.
  if (text.size() > zeb::kCollapsedNameMax) text.resize(zeb::kCollapsedNameMax);
  std::memcpy(external_name, text.data(), text.size());
  return static_cast<int16_t>(text.size());
}

int16_t FNAMEEXPAND(const char* external_name, int16_t length, char* internal_name,
                    const char* defaults) {
  if (length <= 0) return 0;
  std::string text(external_name, static_cast<size_t>(length));
  std::vector<std::string> parts = split_parts(text);
  Name name;
  if (!parts[0].empty() && parts[0][0] == '$') {
    if (!parse_name(text, &name)) return 0;
  } else {
    // A name without a volume takes the default volume (and subvolume when
    // only a file is named).
    if (defaults == nullptr || parts.size() > 2) return 0;
    std::string vol = trimmed_part(defaults), sub = trimmed_part(defaults + 8);
    std::string full = parts.size() == 1 ? vol + "." + sub + "." + parts[0]
                                         : vol + "." + parts[0] + "." + parts[1];
    if (!parse_name(full, &name)) return 0;
  }
  to_internal(name, internal_name);
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
  Name name;
  if (!parse_name(std::string_view(filename, static_cast<size_t>(length)), &name)) {
    return err::kBadName;
  }
  int16_t which = present(mask, 6) ? level : 0;
  const std::string& part = which == 0 ? name.volume : which == 1 ? name.subvol : name.file;
  if (which < 0 || which > 2) return err::kOutOfBounds;
  if (static_cast<size_t>(std::max<int16_t>(maxlen, 0)) < part.size()) return err::kOutOfBounds;
  std::memcpy(piece, part.data(), part.size());
  *piecelen = static_cast<int16_t>(part.size());
  return 0;
}
