// The database file on Windows: a file handle read and written with
// explicit offsets (ReadFile and WriteFile with an OVERLAPPED position on a
// synchronous handle).  System errors become errno values as the Microsoft
// C runtime's own file functions translate them, so a failure reads the
// same as it did through a C runtime stream.
#include <windows.h>

#include <cerrno>

#include "platform/osfile_impl.h"

namespace {

struct ErrorMap {
  DWORD win;
  int err;
};

// The C runtime's translation of system errors; anything not listed (and
// not in one of the two ranges below) is EINVAL, as there.
constexpr ErrorMap kErrors[] = {
    {ERROR_INVALID_FUNCTION, EINVAL},    {ERROR_FILE_NOT_FOUND, ENOENT},     {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE}, {ERROR_ACCESS_DENIED, EACCES},      {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_ARENA_TRASHED, ENOMEM},       {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},  {ERROR_INVALID_BLOCK, ENOMEM},
    {ERROR_BAD_ENVIRONMENT, E2BIG},      {ERROR_BAD_FORMAT, ENOEXEC},        {ERROR_INVALID_ACCESS, EINVAL},
    {ERROR_INVALID_DATA, EINVAL},        {ERROR_INVALID_DRIVE, ENOENT},      {ERROR_CURRENT_DIRECTORY, EACCES},
    {ERROR_NOT_SAME_DEVICE, EXDEV},      {ERROR_NO_MORE_FILES, ENOENT},      {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_BAD_NETPATH, ENOENT},         {ERROR_NETWORK_ACCESS_DENIED, EACCES}, {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_FILE_EXISTS, EEXIST},         {ERROR_CANNOT_MAKE, EACCES},        {ERROR_FAIL_I24, EACCES},
    {ERROR_INVALID_PARAMETER, EINVAL},   {ERROR_NO_PROC_SLOTS, EAGAIN},      {ERROR_DRIVE_LOCKED, EACCES},
    {ERROR_BROKEN_PIPE, EPIPE},          {ERROR_DISK_FULL, ENOSPC},          {ERROR_INVALID_TARGET_HANDLE, EBADF},
    {ERROR_WAIT_NO_CHILDREN, ECHILD},    {ERROR_CHILD_NOT_COMPLETE, ECHILD}, {ERROR_DIRECT_ACCESS_HANDLE, EBADF},
    {ERROR_NEGATIVE_SEEK, EINVAL},       {ERROR_SEEK_ON_DEVICE, EACCES},     {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_NOT_LOCKED, EACCES},          {ERROR_BAD_PATHNAME, ENOENT},       {ERROR_MAX_THRDS_REACHED, EAGAIN},
    {ERROR_LOCK_FAILED, EACCES},         {ERROR_ALREADY_EXISTS, EEXIST},     {ERROR_FILENAME_EXCED_RANGE, ENOENT},
    {ERROR_NESTING_NOT_ALLOWED, EAGAIN}, {ERROR_NOT_ENOUGH_QUOTA, ENOMEM},
};

void setErrnoFrom(DWORD code) {
  for (const ErrorMap& m : kErrors) {
    if (m.win == code) {
      errno = m.err;
      return;
    }
  }
  if (code >= ERROR_WRITE_PROTECT && code <= ERROR_SHARING_BUFFER_EXCEEDED) errno = EACCES;
  else if (code >= ERROR_INVALID_STARTING_CODESEG && code <= ERROR_INFLOOP_IN_RELOC_CHAIN) errno = ENOEXEC;
  else errno = EINVAL;
}

HANDLE handleOf(intptr_t native) { return reinterpret_cast<HANDLE>(native); }

OVERLAPPED at(int64_t pos) {
  OVERLAPPED o{};
  o.Offset = DWORD(uint64_t(pos) & 0xFFFFFFFFu);
  o.OffsetHigh = DWORD(uint64_t(pos) >> 32);
  return o;
}

// One call moves at most this much, well inside a DWORD.
constexpr size_t kChunk = size_t(1) << 30;

}  // namespace

namespace osfileimpl {

bool open(const char* path, OsFileMode mode, intptr_t* native) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if (mode == OsFileMode::kCreate) disposition = CREATE_ALWAYS;
  if (mode == OsFileMode::kRead) access = GENERIC_READ;
  // Others may read and write the file meanwhile, as with a C runtime
  // stream, but not rename or remove it: a program that would replace a
  // database fails while anyone has it open.  Only the replacing program's
  // own handle lets it go.
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (mode == OsFileMode::kUpdateReplaceable) share |= FILE_SHARE_DELETE;
  HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    setErrnoFrom(GetLastError());
    return false;
  }
  *native = reinterpret_cast<intptr_t>(h);
  return true;
}

void close(intptr_t native) { CloseHandle(handleOf(native)); }

// Repeats ReadFile or WriteFile (`call`) until n bytes moved, a call moved
// nothing, or one failed; the end of a file is no failure (errno 0).
template <class Call>
size_t repeat(intptr_t native, size_t n, int64_t pos, Call call) {
  size_t done = 0;
  errno = 0;
  while (done < n) {
    DWORD want = DWORD(n - done < kChunk ? n - done : kChunk);
    DWORD moved = 0;
    OVERLAPPED o = at(pos + int64_t(done));
    if (!call(handleOf(native), done, want, &moved, &o)) {
      DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF) errno = 0;
      else setErrnoFrom(code);
      return done;
    }
    if (moved == 0) return done;
    done += moved;
  }
  return done;
}

size_t read(intptr_t native, void* buf, size_t n, int64_t pos) {
  auto* out = static_cast<char*>(buf);
  return repeat(native, n, pos, [&](HANDLE h, size_t done, DWORD want, DWORD* got, OVERLAPPED* o) {
    return ReadFile(h, out + done, want, got, o);
  });
}

size_t write(intptr_t native, const void* buf, size_t n, int64_t pos) {
  auto* in = static_cast<const char*>(buf);
  return repeat(native, n, pos, [&](HANDLE h, size_t done, DWORD want, DWORD* put, OVERLAPPED* o) {
    return WriteFile(h, in + done, want, put, o);
  });
}

bool truncate(intptr_t native, int64_t size) {
  LARGE_INTEGER to;
  to.QuadPart = size;
  if (!SetFilePointerEx(handleOf(native), to, nullptr, FILE_BEGIN) || !SetEndOfFile(handleOf(native))) {
    setErrnoFrom(GetLastError());
    return false;
  }
  return true;
}

bool size(intptr_t native, uint64_t* size) {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(handleOf(native), &s)) {
    setErrnoFrom(GetLastError());
    return false;
  }
  *size = uint64_t(s.QuadPart);
  return true;
}

bool syncToDisk(intptr_t native) {
  if (FlushFileBuffers(handleOf(native))) return true;
  setErrnoFrom(GetLastError());
  return false;
}

const uint8_t* map(intptr_t native, uint64_t length) {
  HANDLE section = CreateFileMappingA(handleOf(native), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (section == nullptr) return nullptr;
  // The view keeps the section alive.
  void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, SIZE_T(length));
  CloseHandle(section);
  return static_cast<const uint8_t*>(view);
}

void unmap(const uint8_t* view, uint64_t length) { UnmapViewOfFile(view); }

namespace {
// Two bytes far past any data carry the locks: LockFileEx locks are
// mandatory, so bytes that hold data would be kept from other readers.
// Every holder has a shared lock on kShared; the exclusive lock is the
// exclusive lock on kShared.  A shared lock cannot become exclusive in one
// step, so the way up goes through kPending, taken exclusively first: while
// a program holds it, nobody else can be on the way up, and the shared lock
// it gives back for a moment can always be taken again.
constexpr uint64_t kPending = uint64_t(1) << 62;
constexpr uint64_t kShared = kPending + 1;

bool lockByte(HANDLE h, uint64_t pos, bool exclusive) {
  OVERLAPPED o = at(int64_t(pos));
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(h, flags, 0, 1, 0, &o)) return true;
  DWORD code = GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) errno = EAGAIN;
  else setErrnoFrom(code);
  return false;
}

void unlockByte(HANDLE h, uint64_t pos) {
  OVERLAPPED o = at(int64_t(pos));
  UnlockFileEx(h, 0, 1, 0, &o);
}

bool upToExclusive(HANDLE h, OsLock held) {
  if (!lockByte(h, kPending, true)) return false;
  if (held == OsLock::kShared) unlockByte(h, kShared);
  if (lockByte(h, kShared, true)) return true;
  int err = errno;
  if (held == OsLock::kShared) lockByte(h, kShared, false);
  unlockByte(h, kPending);
  errno = err;
  return false;
}
}  // namespace

bool lock(intptr_t native, OsLock held, OsLock want) {
  HANDLE h = handleOf(native);
  if (want == OsLock::kExclusive) return upToExclusive(h, held);
  if (held != OsLock::kNone) unlockByte(h, kShared);
  if (held == OsLock::kExclusive) {
    // Nobody else can hold kShared exclusively while this handle holds
    // kPending, so the shared lock is had at once.
    bool ok = want == OsLock::kNone || lockByte(h, kShared, false);
    unlockByte(h, kPending);
    return ok;
  }
  return want == OsLock::kNone || lockByte(h, kShared, false);
}

bool isAt(intptr_t native, const char* path) {
  HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  bool same = GetFileInformationByHandle(handleOf(native), &a) && GetFileInformationByHandle(named, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
              a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

}  // namespace osfileimpl
