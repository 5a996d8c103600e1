#include "replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zelvane {

namespace {

[[noreturn]] void fail(const std::string& step, int error) {
  throw std::runtime_error(step + ": " + std::strerror(error));
}

// The folder of `path` ("." for a bare name), for the name of the new file beside it
// and for flushing the rename.
std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// `path`, or the file that the symbolic link at `path` names.
std::string resolvedTarget(const std::string& path) {
  struct stat link {};
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;  // a dangling link: replaced as it is
  std::string target(resolved);
  std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's buffer
  return target;
}

// Closes the descriptor and removes the new file unless `keep` was called, so that a
// failure at any step leaves nothing behind.
class NewFile {
 public:
  explicit NewFile(const std::string& target) {
    static std::atomic<unsigned long> counter{0};
    // O_EXCL with a name no other writer uses: the pid, and a count within the process.
    for (int attempt = 0; attempt < 100; ++attempt) {
      name_ = target + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
      fd_ = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) fail("creating '" + name_ + "'", errno);
  }
  ~NewFile() {
    if (fd_ >= 0) close(fd_);
    if (!kept_) unlink(name_.c_str());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  const std::string& name() const { return name_; }
  int fd() const { return fd_; }
  // Closes the descriptor, reporting the error of a write that only the close sees.
  void closeChecked() {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) fail("closing '" + name_ + "'", errno);
  }
  void keep() { kept_ = true; }

 private:
  std::string name_;
  int fd_ = -1;
  bool kept_ = false;
};

void writeAll(int fd, std::string_view contents, const std::string& name) {
  while (!contents.empty()) {
    const ssize_t written = write(fd, contents.data(), contents.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      fail("writing '" + name + "'", errno);
    }
    contents.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Flushes the folder, so that the rename outlives a crash. Folders whose file system
// cannot flush them (EINVAL) are left as they are.
void flushFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) fail("opening the folder '" + folder + "'", errno);
  const int flushed = fsync(fd);
  const int error = errno;
  close(fd);
  if (flushed != 0 && error != EINVAL) fail("flushing the folder '" + folder + "'", error);
}

}  // namespace

void replaceFile(const std::string& path, std::string_view contents) {
  const std::string target = resolvedTarget(path);
  struct stat old {};
  const bool exists = stat(target.c_str(), &old) == 0;
  if (exists && access(target.c_str(), W_OK) != 0) fail("replacing '" + target + "'", errno);

  NewFile file(target);
  // The new file gets the old one's permissions (the umask's for a new name).
  if (exists && fchmod(file.fd(), old.st_mode & 07777) != 0) {
    fail("setting the permissions of '" + file.name() + "'", errno);
  }
  writeAll(file.fd(), contents, file.name());
  if (fsync(file.fd()) != 0) fail("flushing '" + file.name() + "'", errno);
  file.closeChecked();
  if (rename(file.name().c_str(), target.c_str()) != 0) {
    fail("renaming '" + file.name() + "' to '" + target + "'", errno);
  }
  file.keep();
  flushFolder(folderOf(target));
}

}  // namespace zelvane
