#include "pack_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

volatile sig_atomic_t interruptingSignal = 0;
volatile sig_atomic_t runningChild = 0;

// Notes the signal and kills the command running, which then returns.
void onInterruption(int sig) {
    interruptingSignal = sig;
    pid_t child = (pid_t)runningChild;
    if (child > 0) {
        kill(child, SIGTERM);
    }
}

// nftw callback: removes one entry (children first).
int removeEntry(const char *path, const struct stat *, int type, struct FTW *) {
    return (type == FTW_DP ? rmdir(path) : unlink(path)) == 0 || errno == ENOENT ? 0 : -1;
}

// The mode a copied file gets: 0755 when anyone may run the original.
mode_t copiedMode(mode_t original) {
    return (original & S_IXOTH) != 0 ? 0755 : 0644;
}

// Whether the link at `linkPath` (inside the tree at `root`) with target
// `target` stays inside the tree.
bool linkStaysInside(const std::string &root, const std::string &linkPath,
                     const std::string &target) {
    if (target.empty() || target[0] == '/') {
        return false;
    }
    std::string relativeDir = linkPath.substr(root.size());
    int depth = (int)std::count(relativeDir.begin(), relativeDir.end(), '/') - 1;
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        if (end == std::string::npos) {
            end = target.size();
        }
        std::string part = target.substr(start, end - start);
        if (part == "..") {
            depth--;
        } else if (!part.empty() && part != ".") {
            depth++;
        }
        if (depth < 0) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

// copyTree for one directory level; `anyLink` keeps every symbolic link
// as it is, wherever it points.
bool copyLevel(const std::string &root, const std::string &from, const std::string &to,
               bool anyLink, std::string *error) {
    if (!makeDirectories(to, error)) {
        return false;
    }
    std::vector<std::string> names;
    if (!listDirectory(from, &names, error)) {
        return false;
    }
    for (const std::string &name : names) {
        std::string source = from + "/" + name;
        std::string target = to + "/" + name;
        struct stat info {};
        if (lstat(source.c_str(), &info) != 0) {
            *error = source + ": " + strerror(errno);
            return false;
        }
        if (S_ISDIR(info.st_mode)) {
            if (!copyLevel(root, source, target, anyLink, error)) {
                return false;
            }
        } else if (S_ISREG(info.st_mode)) {
            if (!copyFile(source, target, error)) {
                return false;
            }
        } else if (S_ISLNK(info.st_mode)) {
            char link[PATH_MAX];
            ssize_t length = readlink(source.c_str(), link, sizeof link - 1);
            if (length < 0) {
                *error = source + ": " + strerror(errno);
                return false;
            }
            std::string linkTarget(link, (size_t)length);
            if (!anyLink && !linkStaysInside(root, source, linkTarget)) {
                *error = source + " is a symbolic link to " + linkTarget +
                         ", outside the files to ship: replace it by what it points to";
                return false;
            }
            if (symlink(linkTarget.c_str(), target.c_str()) != 0) {
                *error = target + ": " + strerror(errno);
                return false;
            }
        } else {
            *error = source + " is neither a file, a directory nor a symbolic link: remove it "
                              "from the files to ship";
            return false;
        }
    }
    return true;
}

}  // namespace

std::string makeWorkDirectory(const std::string &parent, std::string *error) {
    std::string pattern = parent + "/.applauncher-pack-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        *error = "cannot make a work directory in " + parent + ": " + strerror(errno);
        return "";
    }
    return pattern;
}

void catchInterruptions() {
    struct sigaction action {};
    action.sa_handler = onInterruption;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler != SIG_IGN) {
            sigaction(sig, &action, nullptr);
        }
    }
}

int packInterrupted() {
    return (int)interruptingSignal;
}

void noteRunningChild(pid_t pid) {
    runningChild = pid;
    if (pid > 0 && interruptingSignal != 0) {
        kill(pid, SIGTERM);
    }
}

bool removeTree(const std::string &path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(info.st_mode)) {
        return unlink(path.c_str()) == 0;
    }
    return nftw(path.c_str(), removeEntry, 32, FTW_DEPTH | FTW_PHYS) == 0;
}

bool makeDirectories(const std::string &path, std::string *error) {
    std::string sofar;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        sofar = path.substr(0, end);
        if (!sofar.empty() && mkdir(sofar.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = sofar + ": " + strerror(errno);
            return false;
        }
        start = end + 1;
    }
    if (!isDirectory(path)) {
        *error = path + " is not a directory";
        return false;
    }
    return true;
}

bool writeFile(const std::string &path, const std::string &content, mode_t mode,
               std::string *error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t written = write(fd, content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            *error = path + ": " + strerror(written < 0 ? errno : EIO);
            close(fd);
            return false;
        }
        done += (size_t)written;
    }
    if (fchmod(fd, mode) != 0 || close(fd) != 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool readFile(const std::string &path, std::string *content, std::string *error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    content->clear();
    char buffer[65536];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            *error = path + ": " + strerror(errno);
            close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        content->append(buffer, (size_t)got);
    }
    close(fd);
    return true;
}

bool copyFile(const std::string &from, const std::string &to, std::string *error) {
    struct stat info {};
    if (stat(from.c_str(), &info) != 0) {
        *error = from + ": " + strerror(errno);
        return false;
    }
    std::string content;
    return readFile(from, &content, error) &&
           writeFile(to, content, copiedMode(info.st_mode), error);
}

bool copyTree(const std::string &from, const std::string &to, std::string *error) {
    if (!isDirectory(from)) {
        *error = from + " is not a directory";
        return false;
    }
    return copyLevel(from, from, to, false, error);
}

bool listDirectory(const std::string &path, std::vector<std::string> *names,
                   std::string *error) {
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    names->clear();
    for (struct dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names->push_back(name);
        }
    }
    closedir(dir);
    std::sort(names->begin(), names->end());
    return true;
}

bool copyMadeTree(const std::string &from, const std::string &to, std::string *error) {
    if (!isDirectory(from)) {
        *error = from + " is not a directory";
        return false;
    }
    return copyLevel(from, from, to, true, error);
}

bool stampTree(const std::string &root, int64_t epoch, std::string *error) {
    std::vector<std::string> paths;
    static std::vector<std::string> *collected = nullptr;
    collected = &paths;
    int status = nftw(
        root.c_str(),
        [](const char *path, const struct stat *, int, struct FTW *) {
            collected->push_back(path);
            return 0;
        },
        32, FTW_PHYS);
    collected = nullptr;
    if (status != 0) {
        *error = root + ": " + strerror(errno);
        return false;
    }
    const struct timespec times[2] = {{(time_t)epoch, 0}, {(time_t)epoch, 0}};
    for (const std::string &path : paths) {
        if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            *error = path + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

bool publishOutput(const std::string &made, const std::string &final, std::string *error) {
    struct stat info {};
    bool replacing = lstat(final.c_str(), &info) == 0;
    if (replacing && S_ISDIR(info.st_mode)) {
        std::string previous = final + ".previous";
        removeTree(previous);
        if (rename(final.c_str(), previous.c_str()) != 0) {
            *error = final + ": " + strerror(errno);
            return false;
        }
        if (rename(made.c_str(), final.c_str()) != 0) {
            *error = final + ": " + strerror(errno);
            (void)rename(previous.c_str(), final.c_str());
            return false;
        }
        removeTree(previous);
        return true;
    }
    if (rename(made.c_str(), final.c_str()) != 0) {
        *error = final + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool isDirectory(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRegularFile(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string absolutePath(const std::string &path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char *cwd = getcwd(nullptr, 0);
    std::string absolute = cwd != nullptr ? std::string(cwd) + "/" + path : path;
    free(cwd);
    return absolute;
}
