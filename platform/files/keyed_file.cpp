// Key-sequenced files in SQLite.
//
// A key-sequenced file is an SQLite database marked with the application id
// "zebk" and holding its key length in user_version, with one table
//   records(key BLOB PRIMARY KEY, record BLOB NOT NULL) WITHOUT ROWID
// whose key is the record's first key-length bytes. SQLite keeps the index;
// reads go straight to it. An open file is read through its descriptor
// (/proc/self/fd) as an immutable database: the library never writes one in
// place, and writers replace the whole file by renaming a new one over it,
// so the open file never changes under the reader and needs no locks.
#include <zeb/platform/keyfile.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/files/disk_file.h"
#include "platform/files/files.h"
#include "platform/files/host_file.h"
#include "platform/host/syscalls.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

constexpr uint32_t kApplicationId = 0x7A65626B;  // "zebk"
constexpr char kMagic[] = "SQLite format 3";     // with its NUL: the first 16 bytes
constexpr int kHeaderSize = 100;
constexpr int kApplicationIdOffset = 68;

struct KeyFile {
  sqlite3* db = nullptr;
  int key_length = 0;
  int16_t mode = kPositionApproximate;
  std::string key;    // the positioning key
  std::string last;   // the key of the record read last
  bool read = false;  // a record was read since positioning
};

// Statement with automatic finalisation. A statement that fails to prepare
// is null, which ok() tells; finalising repeats the last step's error,
// which its caller has seen, so it is not looked at again.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  bool ok() const { return stmt_ != nullptr; }
  // Binding fails only for a bad index or a null statement, neither of
  // which its callers make.
  void bind(int n, const std::string& blob) {
    sqlite3_bind_blob(stmt_, n, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// SQLite's result codes as file-system errors.
int16_t sqlite_error(int code) {
  switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return err::kOk;
    case SQLITE_NOMEM:
      return err::kNoBufferSpace;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return err::kFileInUse;
    case SQLITE_READONLY:
      return err::kWriteProtected;
    case SQLITE_FULL:
      return err::kNoDiscSpace;
    case SQLITE_CANTOPEN:
      return err::kNotFound;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return err::kSecurityViolation;
    case SQLITE_IOERR:
      return err::kDeviceError;
    default:
      return err::kInvalidOperation;  // not a key-sequenced file of ours
  }
}

// Opens the database behind an open descriptor for reading. A database that
// is refused is closed after its statements are finalised: SQLite does not
// close a connection that still has prepared statements, which would keep
// its descriptor and memory for good.
int16_t open_database(int fd, sqlite3** db, int* key_length) {
  std::string uri = "file:/proc/self/fd/" + std::to_string(fd) + "?immutable=1";
  int rc = sqlite3_open_v2(uri.c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  int16_t error = rc == SQLITE_OK ? err::kOk : sqlite_error(rc);
  if (error == err::kOk) {
    Statement version(*db, "PRAGMA user_version");
    Statement table(*db, "SELECT record FROM records LIMIT 0");
    if (!version.ok() || !table.ok() || sqlite3_step(version.get()) != SQLITE_ROW) {
      error = err::kInvalidOperation;
    } else {
      *key_length = sqlite3_column_int(version.get(), 0);
      if (*key_length <= 0 || *key_length > 255) error = err::kInvalidOperation;
    }
  }  // both statements are finalised here
  if (error != err::kOk) {
    // A read-only connection, or one that failed to open, holds nothing to
    // lose; with no statement left its close cannot be refused.
    sqlite3_close(*db);
    *db = nullptr;
  }
  return error;
}

// The next record for the file's position into *record; false at the end.
int16_t next_record(KeyFile& k, std::string* record) {
  const char* sql = nullptr;
  std::string from;
  if (k.mode == kPositionExact) {
    if (k.read) return err::kEndOfFile;
    sql = "SELECT key, record FROM records WHERE key = ?1";
    from = k.key;
  } else if (!k.read) {
    sql = "SELECT key, record FROM records WHERE key >= ?1 ORDER BY key LIMIT 1";
    from = k.key;
  } else {
    sql = "SELECT key, record FROM records WHERE key > ?1 ORDER BY key LIMIT 1";
    from = k.last;
  }
  Statement s(k.db, sql);
  if (!s.ok()) return sqlite_error(sqlite3_errcode(k.db));
  s.bind(1, from);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return k.mode == kPositionExact ? err::kNotFound : err::kEndOfFile;
  if (rc != SQLITE_ROW) return sqlite_error(rc);
  std::string key(static_cast<const char*>(sqlite3_column_blob(s.get(), 0)),
                  static_cast<size_t>(sqlite3_column_bytes(s.get(), 0)));
  if (k.mode == kPositionGeneric && key.compare(0, k.key.size(), k.key) != 0) {
    return err::kEndOfFile;
  }
  const void* data = sqlite3_column_blob(s.get(), 1);
  record->assign(static_cast<const char*>(data),
                 static_cast<size_t>(sqlite3_column_bytes(s.get(), 1)));
  k.last = key;
  k.read = true;
  return err::kOk;
}

}  // namespace

bool keyfile_recognise(int fd) {
  unsigned char header[kHeaderSize];
  long n = syscalls().pread(fd, header, sizeof header, 0);
  if (n != kHeaderSize || std::memcmp(header, kMagic, sizeof kMagic) != 0) return false;
  const unsigned char* id = header + kApplicationIdOffset;
  uint32_t value = static_cast<uint32_t>(id[0]) << 24 | static_cast<uint32_t>(id[1]) << 16 |
                   static_cast<uint32_t>(id[2]) << 8 | id[3];
  return value == kApplicationId;
}

// A key-sequenced file: a disk file read through its index. It cannot be
// written or positioned by byte address; KEYPOSITIONX positions it.
class KeyedFile : public DiskFile {
 public:
  KeyedFile(std::string name, int fd, const Volume* volume, std::shared_ptr<HeldFile> held,
            const KeyFile& k)
      : DiskFile(std::move(name), fd, volume, std::move(held)), k_(k) {}
  // The index was opened read-only: its close has nothing to lose.
  ~KeyedFile() override { sqlite3_close(k_.db); }
  KeyFile& state() { return k_; }
  KeyedFile* keyed() override { return this; }

  Status write(std::span<const char>, int16_t*) override {
    return Status::error(err::kInvalidOperation);
  }
  Status position(int32_t) override { return Status::error(err::kInvalidOperation); }

  // The next record after the current position (see KEYPOSITIONX).
  Status read(std::span<char> buffer, int16_t* count_read) override {
    std::string record;
    int16_t error = next_record(k_, &record);
    if (error != err::kOk) return Status::error(error);
    size_t n = std::min(record.size(), buffer.size());
    std::memcpy(buffer.data(), record.data(), n);
    if (count_read != nullptr) *count_read = static_cast<int16_t>(n);
    return Status();
  }

  void close() override {
    // The index was opened read-only: its close has nothing to lose.
    sqlite3_close(k_.db);
    k_.db = nullptr;
    DiskFile::close();
  }

 private:
  KeyFile k_;
};

Result<std::unique_ptr<File>> make_keyed_file(std::string name, int fd, const Volume* volume,
                                              std::shared_ptr<HeldFile> held) {
  KeyFile k;
  int16_t error = open_database(fd, &k.db, &k.key_length);
  if (error != err::kOk) return Status::error(error);
  return std::unique_ptr<File>(
      std::make_unique<KeyedFile>(std::move(name), fd, volume, std::move(held), k));
}

namespace {

// The new file of a write to path is named path.new-PID-N (N the attempt).
// Removes such files, and journals a build of an older release left beside
// them, whose writer has ended: a writer killed before its rename cannot
// remove its own. A name of a process that still runs is left alone, as
// is anything that is not a regular file; a process id used again by a
// later process only delays the sweep until that process has ended.
void sweep_abandoned(const std::string& dir, const std::string& base) {
  std::vector<std::string> names;
  if (syscalls().list_directory(dir.c_str(), &names) != 0) return;
  const std::string prefix = base + ".new-";
  for (const std::string& name : names) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string rest = name.substr(prefix.size());
    const std::string journal = "-journal";
    if (rest.size() > journal.size() &&
        rest.compare(rest.size() - journal.size(), journal.size(), journal) == 0) {
      rest.resize(rest.size() - journal.size());
    }
    size_t dash = rest.find('-');
    auto digits = [](const std::string& t) {
      return !t.empty() && t.size() <= 10 &&
             std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (dash == std::string::npos || !digits(rest.substr(0, dash)) ||
        !digits(rest.substr(dash + 1))) {
      continue;
    }
    long pid = std::stol(rest.substr(0, dash));
    if (pid <= 0 || pid == syscalls().getpid()) continue;
    int pidfd = syscalls().pidfd_open(pid);
    if (pidfd >= 0) {
      // Only asked whether the process runs: the descriptor holds nothing.
      syscalls().close(pidfd);
      continue;
    }
    if (errno != ESRCH) continue;  // cannot tell: keep it
    const std::string full = dir + "/" + name;
    FileStatus st;
    if (syscalls().lstat(full.c_str(), &st) != 0 || !st.is_regular()) continue;
    // Removal is best effort: a name that will not go stays for a later sweep.
    syscalls().unlink(full.c_str());
  }
}

// The whole database image of records, made in memory: the file is then
// written in one pass, with no journal beside it.
int16_t build_image(int key_length, const std::vector<std::string>& records, std::string* image,
                    std::string* problem) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::string schema = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                       "; PRAGMA user_version = " + std::to_string(key_length) +
                       "; CREATE TABLE records (key BLOB PRIMARY KEY, record BLOB NOT NULL)"
                       " WITHOUT ROWID; BEGIN";
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    Statement insert(db, "INSERT INTO records (key, record) VALUES (?1, ?2)");
    for (const std::string& r : records) {
      if (!insert.ok()) break;
      insert.bind(1, r.substr(0, static_cast<size_t>(key_length)));
      insert.bind(2, r);
      rc = sqlite3_step(insert.get());
      // reset repeats the step's error, which rc holds.
      sqlite3_reset(insert.get());
      if (rc != SQLITE_DONE) break;
      rc = SQLITE_OK;
    }
    if (!insert.ok()) rc = sqlite3_errcode(db);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_int64 size = 0;
    unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0);
    if (bytes == nullptr) {
      rc = SQLITE_NOMEM;
    } else {
      image->assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
      sqlite3_free(bytes);
    }
  }
  int16_t error = err::kOk;
  if (rc != SQLITE_OK) {
    error = (rc & 0xFF) == SQLITE_CONSTRAINT ? err::kAlreadyExists : sqlite_error(rc);
    *problem = error == err::kAlreadyExists ? "two records with one key" : sqlite3_errmsg(db);
  }
  // The database lives in memory and its image is taken: the close loses
  // nothing.
  sqlite3_close(db);
  return error;
}

}  // namespace

int16_t keyfile_write(const std::string& path, int key_length,
                      const std::vector<std::string>& records, std::string* problem) {
  auto fail = [&](int16_t error, const std::string& what) {
    *problem = what;
    return error;
  };
  if (key_length <= 0 || key_length > 255) return fail(err::kOutOfBounds, "bad key length");
  std::string dir = ".";
  std::string base = path;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos) {
    dir = slash == 0 ? "/" : path.substr(0, slash);
    base = path.substr(slash + 1);
  }
  if (base.empty()) return fail(err::kBadName, "no file name");
  // The new file takes the mode of the file it replaces, else the usual
  // mode of a new file under the process's umask. A symbolic link is not
  // replaced: the library opens files without following links, so a link
  // would never be read, and renaming over it would leave its target as it
  // was. The caller names the file itself instead.
  bool keep_mode = false;
  FileStatus st;
  if (syscalls().lstat(path.c_str(), &st) == 0) {
    if ((st.mode & 0170000u) == 0120000u) {
      return fail(err::kInvalidOperation, "a symbolic link; name the file it points to");
    }
    if (!st.is_regular()) return fail(err::kInvalidOperation, "not a regular file");
    keep_mode = true;
  }
  std::string image;
  if (int16_t error = build_image(key_length, records, &image, problem); error != err::kOk) {
    return error;
  }
  sweep_abandoned(dir, base);
  // The new file is made unnamed in the directory (O_TMPFILE) and named
  // path.new-PID-N only when it is whole and on disk, just before the
  // rename: a writer killed before then leaves nothing behind.
  Replacement how;
  const std::string pid = std::to_string(syscalls().getpid());
  how.temp_name = [&](int attempt) { return path + ".new-" + pid + "-" + std::to_string(attempt); };
  how.unnamed = true;
  // The mode of the file replaced is kept where the file system allows; a
  // rewritten file with the default mode is still whole.
  if (keep_mode) how.exact_mode = st.mode & 07777;
  how.mode_best_effort = true;
  Status replaced = replace_host_file(path, image, how);
  if (!replaced.ok()) {
    const char* host_text = host_error_text(replaced.code());
    return fail(replaced.code(), replaced.what() + (host_text != nullptr ? ": " : "") +
                                     (host_text != nullptr ? host_text : ""));
  }
  return err::kOk;
}

int16_t keyfile_read_all(const std::string& path, std::vector<std::string>* records,
                         std::string* problem) {
  // Opened without waiting, so that a FIFO in the file's place is refused
  // instead of holding the reader until some writer comes.
  int fd = syscalls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
  if (fd < 0) {
    *problem = std::strerror(errno);
    return error_from_errno(errno);
  }
  int16_t error = err::kOk;
  if (FileStatus st; syscalls().fstat(fd, &st) == 0 && !st.is_regular()) {
    error = err::kInvalidOperation;
    *problem = st.is_directory() ? "a directory" : "not a regular file";
  } else if (!keyfile_recognise(fd)) {
    error = err::kInvalidOperation;
    *problem = "not a key-sequenced file";
  }
  KeyFile k;
  if (error == err::kOk) {
    error = open_database(fd, &k.db, &k.key_length);
    if (error != err::kOk) *problem = "not a key-sequenced file";
  }
  records->clear();
  std::string record;
  while (error == err::kOk && (error = next_record(k, &record)) == err::kOk) {
    records->push_back(record);
  }
  if (error == err::kEndOfFile) error = err::kOk;
  if (error != err::kOk && problem->empty()) *problem = "cannot read the records";
  // Both were only read: their closes have nothing to lose.
  sqlite3_close(k.db);
  syscalls().close(fd);
  return error;
}

Status position_by_key(int16_t filenum, const char* key, std::optional<int16_t> length,
                       int16_t mode, int16_t key_specifier) {
  if (host_fd(filenum) < 0) return Status::error(err::kNotOpenFile);
  auto fail = [&](int16_t error) {
    set_file_error(filenum, error);
    return Status::error(error);
  };
  if (key == nullptr) return fail(err::kMissingParameter);
  KeyedFile* keyed = file_table().find(filenum)->keyed();
  if (keyed == nullptr) return fail(err::kInvalidOperation);
  KeyFile& k = keyed->state();
  if (key_specifier != 0) return fail(err::kInvalidOperation);
  if (mode < zeb::kPositionApproximate || mode > zeb::kPositionExact) {
    return fail(err::kInvalidOperation);
  }
  int used = length ? *length : k.key_length;
  if (used < 0 || used > k.key_length) return fail(err::kOutOfBounds);
  k.mode = mode;
  k.key.assign(key, static_cast<size_t>(used));
  k.last.clear();
  k.read = false;
  return fail(err::kOk);
}

}  // namespace zeb::platform
