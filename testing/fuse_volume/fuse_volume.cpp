// A test volume that behaves like storage behind a volatile write cache, so tests can cut the
// power and see what a program's flushes really kept. Linux only, on libfuse3; run by the tests as
// a child process (see testing/fuse_volume.h).
//
//   quillet-fuse-volume --backing DIR --mode honest|lying|capacity|limbo [options] MOUNTPOINT
//
//   honest    written data lives in memory until the file's fsync/fdatasync (or fsyncdir of its
//             folder's files), which copies the file to DIR; a power cut drops the rest.
//   lying     like honest, but a flush is acknowledged without persisting anything, or (with
//             --every K) only every K-th flush persists.
//   capacity  one file, disk.img, claiming --claimed bytes while storing --real bytes (in
//             DIR/disk.real): offsets past the real size wrap onto the start.
//   limbo     like capacity, but past the real size reads return zeros and writes are discarded.
//
// Options: --size BYTES (what statfs reports as the volume's size in honest/lying modes; writes
// past it fail with ENOSPC), --every K, --real BYTES, --claimed BYTES.
//
// Control: a line "cut" on standard input (or SIGUSR1) is a power cut: everything not persisted
// is dropped and the tree is reloaded from DIR. Each cut is answered with the line "cut" on
// standard output once done, so a test knows that later requests see the reloaded tree. "ready"
// is printed once the kernel has opened the session. Metadata changes (unlink, rename, rmdir) go
// to DIR at once, as a journaling file system would keep them; a new file's name persists with
// its first persisted flush.
//
// syncfs(2) and sync(2) do not reach a FUSE daemon (the kernel only forwards them to virtiofs), so
// a volume flush cannot be told apart from nothing here: only per-file flushes persist.
// Every open is direct I/O and no attribute is cached, so after a cut the kernel shows the
// reloaded tree and never serves data from its page cache.
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

enum class Mode { Honest, Lying, Capacity, Limbo };

struct Node {
  bool folder = false;
  std::string data;
  mode_t mode = 0644;
  timespec mtime{};
};

struct Volume {
  Mode mode = Mode::Honest;
  std::string backing;
  std::int64_t size = 256ll << 20;
  std::int64_t every = 0;  // lying: persist every K-th flush; 0 never
  std::int64_t real = 0;
  std::int64_t claimed = 0;

  std::mutex lock;
  std::map<std::string, Node> nodes;  // "/" and "/a/b" ...
  std::int64_t used = 0;
  std::int64_t flushes = 0;
  int realFd = -1;
};

Volume volume;
int signalPipe[2] = {-1, -1};
const char* const kDiskName = "/disk.img";

timespec now() {
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return t;
}

std::string backingPath(const std::string& path) { return volume.backing + path; }

// Reloads the tree from the backing folder: what a volume holds after the power comes back.
void loadFromBacking() {
  volume.nodes.clear();
  volume.used = 0;
  Node root;
  root.folder = true;
  root.mode = 0755;
  root.mtime = now();
  volume.nodes["/"] = root;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(volume.backing, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string path = "/" + fs::relative(it->path(), volume.backing).generic_string();
    if (path.ends_with(".persisting")) continue;
    Node node;
    node.mtime = now();
    if (it->is_directory()) {
      node.folder = true;
      node.mode = 0755;
    } else if (it->is_regular_file()) {
      std::ifstream in(it->path(), std::ios::binary);
      node.data.assign(std::istreambuf_iterator<char>(in), {});
      volume.used += static_cast<std::int64_t>(node.data.size());
    } else {
      continue;
    }
    volume.nodes[path] = std::move(node);
  }
}

std::string parentOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Copies one file (and the folders above it) to the backing folder, replacing what was there in
// one rename so a cut never leaves half a file persisted.
int persist(const std::string& path, const Node& node) {
  std::error_code error;
  fs::create_directories(backingPath(parentOf(path)), error);
  if (error) return -EIO;
  if (node.folder) {
    fs::create_directories(backingPath(path), error);
    return error ? -EIO : 0;
  }
  const std::string target = backingPath(path);
  const std::string temporary = target + ".persisting";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(node.data.data(), static_cast<std::streamsize>(node.data.size()));
    if (!out) return -EIO;
  }
  return ::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : -errno;
}

void powerCut() {
  std::lock_guard guard(volume.lock);
  if (volume.mode == Mode::Honest || volume.mode == Mode::Lying) loadFromBacking();
}

bool isDiskMode() { return volume.mode == Mode::Capacity || volume.mode == Mode::Limbo; }

int doGetattr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof(*st));
  if (isDiskMode()) {
    if (std::strcmp(path, "/") == 0) {
      st->st_mode = S_IFDIR | 0755;
      st->st_nlink = 2;
      return 0;
    }
    if (std::strcmp(path, kDiskName) != 0) return -ENOENT;
    st->st_mode = S_IFREG | 0644;
    st->st_nlink = 1;
    st->st_size = volume.claimed;
    st->st_blocks = volume.claimed / 512;
    st->st_blksize = 4096;
    return 0;
  }
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  const Node& node = it->second;
  st->st_mode = (node.folder ? S_IFDIR : S_IFREG) | node.mode;
  st->st_nlink = node.folder ? 2 : 1;
  st->st_size = static_cast<off_t>(node.data.size());
  st->st_blocks = static_cast<blkcnt_t>((node.data.size() + 511) / 512);
  st->st_blksize = 4096;
  st->st_mtim = st->st_ctim = st->st_atim = node.mtime;
  return 0;
}

int doReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
              fuse_readdir_flags) {
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  if (isDiskMode()) {
    if (std::strcmp(path, "/") != 0) return -ENOENT;
    fill(buffer, kDiskName + 1, nullptr, 0, fuse_fill_dir_flags{});
    return 0;
  }
  std::lock_guard guard(volume.lock);
  const auto self = volume.nodes.find(path);
  if (self == volume.nodes.end()) return -ENOENT;
  if (!self->second.folder) return -ENOTDIR;
  const std::string prefix = std::strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
  for (auto it = volume.nodes.lower_bound(prefix); it != volume.nodes.end() && it->first.starts_with(prefix);
       ++it) {
    const std::string rest = it->first.substr(prefix.size());
    if (!rest.empty() && rest.find('/') == std::string::npos)
      fill(buffer, rest.c_str(), nullptr, 0, fuse_fill_dir_flags{});
  }
  return 0;
}

int addNode(const char* path, bool folder, mode_t mode) {
  if (isDiskMode()) return -EROFS;
  std::lock_guard guard(volume.lock);
  if (volume.nodes.count(path)) return -EEXIST;
  const auto parent = volume.nodes.find(parentOf(path));
  if (parent == volume.nodes.end() || !parent->second.folder) return -ENOENT;
  Node node;
  node.folder = folder;
  node.mode = mode & 07777;
  node.mtime = now();
  volume.nodes[path] = node;
  return 0;
}

int doMkdir(const char* path, mode_t mode) { return addNode(path, true, mode); }

int doCreate(const char* path, mode_t mode, fuse_file_info* fi) {
  fi->direct_io = 1;
  return addNode(path, false, mode);
}

int doOpen(const char* path, fuse_file_info* fi) {
  fi->direct_io = 1;
  if (isDiskMode()) return std::strcmp(path, kDiskName) == 0 ? 0 : -ENOENT;
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  return it->second.folder ? -EISDIR : 0;
}

int doUnlink(const char* path) {
  if (isDiskMode()) return -EROFS;
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  volume.used -= static_cast<std::int64_t>(it->second.data.size());
  volume.nodes.erase(it);
  ::unlink(backingPath(path).c_str());
  return 0;
}

int doRmdir(const char* path) {
  if (isDiskMode()) return -EROFS;
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  const std::string prefix = std::string(path) + "/";
  const auto child = volume.nodes.lower_bound(prefix);
  if (child != volume.nodes.end() && child->first.starts_with(prefix)) return -ENOTEMPTY;
  volume.nodes.erase(it);
  ::rmdir(backingPath(path).c_str());
  return 0;
}

int doRename(const char* from, const char* to, unsigned int flags) {
  if (isDiskMode()) return -EROFS;
  std::lock_guard guard(volume.lock);
  if (!volume.nodes.count(from)) return -ENOENT;
  if (volume.nodes.count(to) && (flags & RENAME_NOREPLACE)) return -EEXIST;
  if (flags & RENAME_EXCHANGE) return -EINVAL;
  if (const auto old = volume.nodes.find(to); old != volume.nodes.end()) {
    volume.used -= static_cast<std::int64_t>(old->second.data.size());
    volume.nodes.erase(old);
  }
  // Moves the node and, for a folder, everything below it.
  const std::string source = from;
  const std::string prefix = source + "/";
  std::vector<std::pair<std::string, Node>> moved;
  for (auto it = volume.nodes.begin(); it != volume.nodes.end();) {
    if (it->first == source || it->first.starts_with(prefix)) {
      moved.emplace_back(std::string(to) + it->first.substr(source.size()), std::move(it->second));
      it = volume.nodes.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [path, node] : moved) volume.nodes[path] = std::move(node);
  if (::access(backingPath(from).c_str(), F_OK) == 0) {
    std::error_code error;
    fs::create_directories(backingPath(parentOf(to)), error);
    ::rename(backingPath(from).c_str(), backingPath(to).c_str());
  }
  return 0;
}

int resize(Node& node, std::int64_t size) {
  const std::int64_t grow = size - static_cast<std::int64_t>(node.data.size());
  if (grow > 0 && volume.used + grow > volume.size) return -ENOSPC;
  node.data.resize(static_cast<std::size_t>(size));
  volume.used += grow;
  return 0;
}

int doTruncate(const char* path, off_t size, fuse_file_info*) {
  if (isDiskMode()) return size == volume.claimed ? 0 : -EPERM;
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  it->second.mtime = now();
  return resize(it->second, size);
}

// Maps an offset of disk.img onto the bytes it really stores; -1 past the real size in limbo.
std::int64_t realOffset(std::int64_t offset) {
  if (offset < volume.real) return offset;
  return volume.mode == Mode::Limbo ? -1 : offset % volume.real;
}

int diskIo(char* read, const char* write, std::size_t size, off_t offset) {
  if (offset >= volume.claimed) return 0;
  size = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(size), volume.claimed - offset));
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t at = offset + static_cast<std::int64_t>(done);
    const std::int64_t mapped = realOffset(at);
    // One piece never crosses the real size's boundary (the wrap point).
    const std::int64_t toBoundary = volume.real - (at % volume.real);
    const std::size_t piece =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(size - done), toBoundary));
    if (mapped < 0) {
      if (read != nullptr) std::memset(read + done, 0, piece);
    } else if (read != nullptr) {
      const ssize_t n = ::pread(volume.realFd, read + done, piece, mapped);
      if (n < 0) return -errno;
      if (static_cast<std::size_t>(n) < piece)
        std::memset(read + done + n, 0, piece - static_cast<std::size_t>(n));
    } else if (::pwrite(volume.realFd, write + done, piece, mapped) != static_cast<ssize_t>(piece)) {
      return -EIO;
    }
    done += piece;
  }
  return static_cast<int>(size);
}

int doRead(const char* path, char* buffer, std::size_t size, off_t offset, fuse_file_info*) {
  if (isDiskMode()) return diskIo(buffer, nullptr, size, offset);
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  const std::string& data = it->second.data;
  if (offset >= static_cast<off_t>(data.size())) return 0;
  const std::size_t n = std::min(size, data.size() - static_cast<std::size_t>(offset));
  std::memcpy(buffer, data.data() + offset, n);
  return static_cast<int>(n);
}

int doWrite(const char* path, const char* buffer, std::size_t size, off_t offset, fuse_file_info*) {
  if (isDiskMode()) return diskIo(nullptr, buffer, size, offset);
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  Node& node = it->second;
  const std::int64_t end = offset + static_cast<std::int64_t>(size);
  if (end > static_cast<std::int64_t>(node.data.size())) {
    if (const int err = resize(node, end); err != 0) return err;
  }
  std::memcpy(node.data.data() + offset, buffer, size);
  node.mtime = now();
  return static_cast<int>(size);
}

int doFallocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info*) {
  if (isDiskMode()) return -EOPNOTSUPP;
  if (mode != 0) return -EOPNOTSUPP;
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  const std::int64_t end = offset + length;
  return end > static_cast<std::int64_t>(it->second.data.size()) ? resize(it->second, end) : 0;
}

// A flush the program waits for. Honest: persisted before it is acknowledged. Lying: acknowledged
// either way, persisted only every K-th time (or never).
int flushNode(const std::string& path) {
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  ++volume.flushes;
  if (volume.mode == Mode::Lying && (volume.every == 0 || volume.flushes % volume.every != 0)) return 0;
  return persist(path, it->second);
}

int doFsync(const char* path, int, fuse_file_info*) {
  if (isDiskMode()) return ::fdatasync(volume.realFd) == 0 ? 0 : -errno;
  std::lock_guard guard(volume.lock);
  return flushNode(path);
}

// A folder's flush keeps the folder (its name), as a journaling file system does.
int doFsyncdir(const char* path, int, fuse_file_info*) {
  if (isDiskMode()) return 0;
  std::lock_guard guard(volume.lock);
  if (std::strcmp(path, "/") == 0) return 0;
  return flushNode(path);
}

int doUtimens(const char* path, const timespec tv[2], fuse_file_info*) {
  if (isDiskMode()) return 0;
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  if (tv[1].tv_nsec != UTIME_OMIT) it->second.mtime = tv[1].tv_nsec == UTIME_NOW ? now() : tv[1];
  return 0;
}

int doChmod(const char* path, mode_t mode, fuse_file_info*) {
  if (isDiskMode()) return 0;
  std::lock_guard guard(volume.lock);
  const auto it = volume.nodes.find(path);
  if (it == volume.nodes.end()) return -ENOENT;
  it->second.mode = mode & 07777;
  return 0;
}

int doChown(const char*, uid_t, gid_t, fuse_file_info*) { return 0; }

int doStatfs(const char*, struct statvfs* st) {
  std::memset(st, 0, sizeof(*st));
  st->f_bsize = st->f_frsize = 4096;
  st->f_namemax = 255;
  if (isDiskMode()) {
    st->f_blocks = static_cast<fsblkcnt_t>(volume.claimed / 4096);
    return 0;
  }
  std::lock_guard guard(volume.lock);
  st->f_blocks = static_cast<fsblkcnt_t>(volume.size / 4096);
  st->f_bfree = st->f_bavail =
      static_cast<fsblkcnt_t>(std::max<std::int64_t>(0, volume.size - volume.used) / 4096);
  st->f_files = 1 << 20;
  st->f_ffree = st->f_favail = st->f_files - volume.nodes.size();
  return 0;
}

void* doInit(fuse_conn_info*, fuse_config* cfg) {
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->direct_io = 1;
  cfg->hard_remove = 1;
  cfg->kernel_cache = 0;
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
  return nullptr;
}

// Standard input and SIGUSR1 both ask for a cut; the answer tells the test it is done.
void controlThread() {
  std::thread signals([] {
    char c;
    while (::read(signalPipe[0], &c, 1) == 1) {
      powerCut();
      std::fputs("cut\n", stdout);
      std::fflush(stdout);
    }
  });
  signals.detach();
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "cut") {
      powerCut();
      std::fputs("cut\n", stdout);
      std::fflush(stdout);
    }
  }
}

void onUsr1(int) {
  const char c = 'c';
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

int usage(const char* message) {
  std::fprintf(
      stderr,
      "quillet-fuse-volume: %s\nusage: quillet-fuse-volume --backing DIR --mode honest|lying|capacity|limbo "
      "[--size BYTES] [--every K] [--real BYTES --claimed BYTES] MOUNTPOINT\n",
      message);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mountPoint;
  std::string mode = "honest";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--backing" && hasValue) {
      volume.backing = argv[++i];
    } else if (arg == "--mode" && hasValue) {
      mode = argv[++i];
    } else if (arg == "--size" && hasValue) {
      volume.size = std::stoll(argv[++i]);
    } else if (arg == "--every" && hasValue) {
      volume.every = std::stoll(argv[++i]);
    } else if (arg == "--real" && hasValue) {
      volume.real = std::stoll(argv[++i]);
    } else if (arg == "--claimed" && hasValue) {
      volume.claimed = std::stoll(argv[++i]);
    } else if (!arg.starts_with("--") && mountPoint.empty()) {
      mountPoint = arg;
    } else {
      return usage(("unknown argument " + arg).c_str());
    }
  }
  if (mode == "honest") {
    volume.mode = Mode::Honest;
  } else if (mode == "lying") {
    volume.mode = Mode::Lying;
  } else if (mode == "capacity") {
    volume.mode = Mode::Capacity;
  } else if (mode == "limbo") {
    volume.mode = Mode::Limbo;
  } else {
    return usage("unknown mode");
  }
  if (volume.backing.empty() || mountPoint.empty())
    return usage("a backing folder and a mount point are needed");
  if (isDiskMode()) {
    if (volume.real <= 0 || volume.claimed <= 0) return usage("--real and --claimed are needed");
    const std::string real = volume.backing + "/disk.real";
    volume.realFd = ::open(real.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (volume.realFd < 0 || ::ftruncate(volume.realFd, volume.real) != 0)
      return usage("cannot make disk.real");
  } else {
    loadFromBacking();
  }

  if (::pipe(signalPipe) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = onUsr1;
  ::sigaction(SIGUSR1, &action, nullptr);

  fuse_operations ops{};
  ops.getattr = doGetattr;
  ops.readdir = doReaddir;
  ops.mkdir = doMkdir;
  ops.create = doCreate;
  ops.open = doOpen;
  ops.unlink = doUnlink;
  ops.rmdir = doRmdir;
  ops.rename = doRename;
  ops.truncate = doTruncate;
  ops.read = doRead;
  ops.write = doWrite;
  ops.fallocate = doFallocate;
  ops.fsync = doFsync;
  ops.fsyncdir = doFsyncdir;
  ops.utimens = doUtimens;
  ops.chmod = doChmod;
  ops.chown = doChown;
  ops.statfs = doStatfs;
  ops.init = doInit;

  // The loop device reads and writes disk.img from a kernel thread, so other users must be let in
  // (we run as root, which is allowed to mount with allow_other).
  std::vector<std::string> options = {argv[0], "-o",
                                      "fsname=quillet-fuse-volume,subtype=quillet,allow_other"};
  std::vector<char*> args;
  for (auto& o : options) args.push_back(o.data());
  fuse_args fuseArgs = FUSE_ARGS_INIT(static_cast<int>(args.size()), args.data());
  fuse* session = fuse_new(&fuseArgs, &ops, sizeof(ops), nullptr);
  if (session == nullptr) return usage("fuse_new failed");
  if (fuse_mount(session, mountPoint.c_str()) != 0) {
    fuse_destroy(session);
    return usage("cannot mount (is /dev/fuse there, and are we root?)");
  }
  std::thread control(controlThread);
  control.detach();
  // One request at a time: simple, and the order the kernel sends them in is the order served.
  const int result = fuse_loop(session);
  fuse_unmount(session);
  fuse_destroy(session);
  fuse_opt_free_args(&fuseArgs);
  return result == 0 ? 0 : 1;
}
