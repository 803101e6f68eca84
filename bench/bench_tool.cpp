// Helper for bench/run: times a command (wall seconds and peak resident size of the child) and
// runs the reference loops the engine is measured against. Single-threaded but for
// write-loop-threads.
//
//   bench_tool time -- <command> [args...]          prints "<seconds> <max-rss-kib> <exit-code>"
//   bench_tool alloc-loop <dir> <total> <min> <max>  create + fallocate + close until total bytes
//   bench_tool write-loop <dir> <count> <size>       create + one write + close, count times
//   bench_tool write-loop-threads <dir> <count> <size> <threads> sync|nosync [shared]
//                                                    the same loop on threads, a folder each (or
//                                                    all in dir: shared), then (sync) one syncfs
//   bench_tool tree-write-loop <dir> <count> <size> <folders>  the loop over one level of folders
//   bench_tool mkdir-tree <dir> <top> <total>        mkdir loop over a two-level tree
//   bench_tool check-rate <mib>                      blockMatches over mib MiB of identified content
//                                                    in memory, one core: prints "<bytes-per-second>"
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/block_identity.h"

namespace {

// What verifying costs the processor alone: 64 MiB of one file's content, checked block by block
// against the identity each block should have, over and over until mib MiB were checked.
int checkRate(long long mib) {
  constexpr std::size_t kSpan = 64 << 20;
  std::vector<std::uint8_t> data(kSpan);
  const std::uint64_t seed = 12345, fileId = quillet::fileIdentity("bench/file"), size = kSpan;
  quillet::fillIdentifiedContent(seed, fileId, size, 0, data.data(), data.size());
  const auto start = std::chrono::steady_clock::now();
  long long checked = 0, bad = 0;
  while (checked < (mib << 20)) {
    for (std::size_t at = 0; at < kSpan; at += quillet::kIdentityBlock) {
      bad += !quillet::blockMatches({seed, fileId, size, at}, data.data() + at, quillet::kIdentityBlock);
    }
    checked += static_cast<long long>(kSpan);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (bad != 0) {
    std::fprintf(stderr, "check-rate: %lld blocks did not match\n", bad);
    return 1;
  }
  std::printf("%.0f\n", static_cast<double>(checked) / seconds);
  return 0;
}

int timeCommand(char** argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execvp(argv[0], argv);
    std::perror("exec");
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}

int allocLoop(const std::string& dir, long long total, long long minSize, long long maxSize) {
  std::mt19937_64 random(1);
  long long done = 0;
  for (long i = 0; done < total; ++i) {
    long long size =
        minSize + static_cast<long long>(random() % static_cast<unsigned long long>(maxSize - minSize + 1));
    if (size > total - done) size = total - done;
    const std::string path = dir + "/" + std::to_string(i);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 || ::fallocate(fd, 0, 0, size) != 0) return 1;
    ::close(fd);
    done += size;
  }
  return 0;
}

int writeLoop(const std::string& dir, long count, long size, const std::string& prefix = {}) {
  std::vector<char> block(static_cast<std::size_t>(size), 'x');
  for (long i = 0; i < count; ++i) {
    const std::string path = dir + "/" + prefix + std::to_string(i);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 || ::write(fd, block.data(), block.size()) != size) return 1;
    ::close(fd);
  }
  return 0;
}

// `threads` threads, each creating its share of `count` files in a folder of its own (create, one
// write, close), or with `shared` set all in dir itself, then, with `sync` set, one syncfs of the
// volume. One folder shows what the file system's lock on a folder costs writers that share it.
int writeLoopThreads(const std::string& dir, long count, long size, int threads, bool sync, bool shared) {
  std::vector<std::thread> pool;
  std::atomic<int> failed{0};
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      const std::string tag = "t" + std::to_string(t);
      const std::string folder = shared ? dir : dir + "/" + tag;
      if (!shared && ::mkdir(folder.c_str(), 0777) != 0) {
        failed = 1;
        return;
      }
      const long share = count / threads + (t < count % threads ? 1 : 0);
      if (writeLoop(folder, share, size, shared ? tag + "-" : std::string()) != 0) failed = 1;
    });
  }
  for (auto& t : pool) t.join();
  if (sync) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || ::syncfs(fd) != 0) return 1;
    ::close(fd);
  }
  return failed.load();
}

// `count` files of `size` bytes spread over `folders` folders (one level), one thread.
int treeWriteLoop(const std::string& dir, long count, long size, long folders) {
  for (long f = 0; f < folders; ++f) {
    const std::string folder = dir + "/" + std::to_string(f);
    if (::mkdir(folder.c_str(), 0777) != 0) return 1;
    const long share = count / folders + (f < count % folders ? 1 : 0);
    if (writeLoop(folder, share, size) != 0) return 1;
  }
  return 0;
}

int mkdirTree(const std::string& dir, long top, long total) {
  long made = 0;
  for (long i = 0; i < top && made < total; ++i) {
    const std::string parent = dir + "/" + std::to_string(i);
    if (::mkdir(parent.c_str(), 0777) != 0) return 1;
    ++made;
    for (long j = 0; j < top - 1 && made < total; ++j) {
      if (::mkdir((parent + "/" + std::to_string(j)).c_str(), 0777) != 0) return 1;
      ++made;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "time") == 0 && std::strcmp(argv[2], "--") == 0)
    return timeCommand(argv + 3);
  if (argc == 6 && std::strcmp(argv[1], "alloc-loop") == 0) {
    return allocLoop(argv[2], std::atoll(argv[3]), std::atoll(argv[4]), std::atoll(argv[5]));
  }
  if (argc == 5 && std::strcmp(argv[1], "write-loop") == 0)
    return writeLoop(argv[2], std::atol(argv[3]), std::atol(argv[4]));
  if (argc == 5 && std::strcmp(argv[1], "mkdir-tree") == 0)
    return mkdirTree(argv[2], std::atol(argv[3]), std::atol(argv[4]));
  if ((argc == 7 || argc == 8) && std::strcmp(argv[1], "write-loop-threads") == 0) {
    return writeLoopThreads(argv[2], std::atol(argv[3]), std::atol(argv[4]), std::atoi(argv[5]),
                            std::strcmp(argv[6], "sync") == 0,
                            argc == 8 && std::strcmp(argv[7], "shared") == 0);
  }
  if (argc == 6 && std::strcmp(argv[1], "tree-write-loop") == 0) {
    return treeWriteLoop(argv[2], std::atol(argv[3]), std::atol(argv[4]), std::atol(argv[5]));
  }
  if (argc == 3 && std::strcmp(argv[1], "check-rate") == 0) return checkRate(std::atoll(argv[2]));
  std::fprintf(stderr,
               "usage: bench_tool time -- cmd... | alloc-loop | write-loop | write-loop-threads | "
               "tree-write-loop | mkdir-tree | check-rate\n");
  return 2;
}
