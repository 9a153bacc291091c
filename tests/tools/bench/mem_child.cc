// A child for the runner's tests: holds a known amount of anonymous memory
// ("alloc MB") or of a read-only file mapping ("map FILE"), every page
// touched, long enough for the runner's polling to see it.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

volatile unsigned char sink;
// Keeps the compiler from eliding an allocation that is never read.
char* volatile kept;

void hold() { usleep(100 * 1000); }

int allocate(size_t mb) {
  size_t bytes = mb << 20;
  char* p = static_cast<char*>(std::malloc(bytes));
  if (p == nullptr) return 1;
  std::memset(p, 1, bytes);
  kept = p;
  hold();
  sink = static_cast<unsigned char>(kept[bytes / 2]);
  std::free(kept);
  return 0;
}

int mapFile(const char* path) {
  int fd = open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return 1;
  void* m = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  if (m == MAP_FAILED) return 1;
  const unsigned char* p = static_cast<const unsigned char*>(m);
  for (off_t i = 0; i < st.st_size; i += 4096) sink = p[i];
  hold();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "alloc") == 0) return allocate(size_t(std::atoi(argv[2])));
  if (argc == 3 && std::strcmp(argv[1], "map") == 0) return mapFile(argv[2]);
  return 2;
}
