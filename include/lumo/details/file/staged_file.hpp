// Writing a file so that it is either complete or not there at all: the
// writer fills a temporary file in the folder of the final one, and only a
// successful write is renamed over the final name. Until then an old file of
// that name stays as it was; a staged file that is not committed is removed.
//
// The temporary name is hidden (a leading '.') and keeps the final name as
// its tail, extension included, so that writers choosing the format by the
// extension see the same one: out/a_dist.png is staged as
// out/.<pid>-<n>-a_dist.png.
#ifndef LUMO_DETAILS_FILE_STAGED_FILE_HPP
#define LUMO_DETAILS_FILE_STAGED_FILE_HPP

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace lumo {

class staged_file {
public:
    // Stages a write of path. Nothing is staged (ready() is false) when the
    // folder does not take a new file, or when path exists and is not a
    // regular file that may be written: a folder, a pipe or a device is
    // never replaced. A link to a regular file is written through: its
    // target is replaced and keeps its permissions.
    explicit staged_file(const std::string& path) : target_(path) {
        struct stat st;
        const bool existing = ::stat(path.c_str(), &st) == 0;
        if (existing) {
            if (!S_ISREG(st.st_mode) || ::access(path.c_str(), W_OK) != 0) return;
            char resolved[PATH_MAX];
            if (::realpath(path.c_str(), resolved)) target_ = resolved;
        }
        const std::string::size_type slash = target_.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
        const std::string name = target_.substr(folder.size());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string temp = folder + "." + std::to_string(::getpid()) + "-" +
                                     std::to_string(next_number()) + "-" + name;
            const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST) continue;  // left by an earlier process of this pid
                return;
            }
            if (existing) (void)::fchmod(fd, st.st_mode & 07777);
            ::close(fd);
            temp_ = temp;
            return;
        }
    }
    ~staged_file() { discard(); }
    staged_file(const staged_file&) = delete;
    staged_file& operator=(const staged_file&) = delete;

    bool ready() const { return !temp_.empty(); }
    // The file to write; empty when nothing is staged.
    const std::string& temp_path() const { return temp_; }
    // The file that a commit replaces: the given path, or the target of the
    // link it names.
    const std::string& target_path() const { return target_; }

    // Renames the written file over the final one. False when nothing is
    // staged or the rename fails; the temporary file is then removed.
    bool commit() {
        if (!ready()) return false;
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            discard();
            return false;
        }
        temp_.clear();
        return true;
    }

    // Removes the temporary file, if one is staged.
    void discard() {
        if (!ready()) return;
        ::unlink(temp_.c_str());
        temp_.clear();
    }

private:
    static unsigned long next_number() {
        static unsigned long n = 0;
        return n++;
    }

    std::string target_;
    std::string temp_;
};

}  // namespace lumo

#endif
