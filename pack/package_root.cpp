#include "package_root.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "desktop_files.h"
#include "pack_files.h"
#include "run_command.h"

namespace {

// The text width of a description line (the .deb's lines add a space).
const size_t descriptionWidth = 76;

// Whether the file at `path` starts as an ELF executable or shared object
// does (e_type ET_EXEC or ET_DYN).
bool isElfFile(const std::string &path) {
    unsigned char header[18];
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ssize_t got = read(fd, header, sizeof header);
    close(fd);
    if (got != (ssize_t)sizeof header || memcmp(header, "\177ELF", 4) != 0) {
        return false;
    }
    unsigned type = header[5] == 2 ? (unsigned)header[16] << 8 | header[17]
                                   : (unsigned)header[17] << 8 | header[16];
    return type == 2 || type == 3;
}

// listPackageRoot below the directory root/`relative` ("" for the root).
bool listLevel(const std::string &root, const std::string &relative, const std::string &hidden,
               std::vector<PackageEntry> *entries, std::string *error) {
    std::string directory = relative.empty() ? root : root + "/" + relative;
    std::vector<std::string> names;
    if (!listDirectory(directory, &names, error)) {
        return false;
    }
    for (const std::string &name : names) {
        PackageEntry entry;
        entry.path = relative.empty() ? name : relative + "/" + name;
        std::string path = root + "/" + entry.path;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            *error = path + ": " + strerror(errno);
            return false;
        }
        if (entry.path.find_first_of("\r\n") != std::string::npos) {
            *error = "\"" + entry.path + "\": a file name with a line break cannot be listed "
                     "in a package: rename it";
            return false;
        }
        bool listed = hidden.empty() || entry.path.substr(0, entry.path.find('/')) != hidden;
        if (S_ISDIR(info.st_mode)) {
            entry.type = 'd';
        } else if (S_ISLNK(info.st_mode)) {
            entry.type = 'l';
        } else if (S_ISREG(info.st_mode)) {
            entry.size = (uint64_t)info.st_size;
            entry.elf = isElfFile(path);
        } else {
            *error = path + " is neither a file, a directory nor a symbolic link";
            return false;
        }
        bool library = name.size() > 3 && (name.compare(name.size() - 3, 3, ".so") == 0 ||
                                           name.find(".so.") != std::string::npos);
        mode_t mode = entry.type == 'd' || ((info.st_mode & 0111) != 0 && !library) ? 0755
                                                                                     : 0644;
        if (entry.type != 'l' && (info.st_mode & 07777) != mode &&
            chmod(path.c_str(), mode) != 0) {
            *error = path + ": " + strerror(errno);
            return false;
        }
        if (listed) {
            entries->push_back(entry);
        }
        if (entry.type == 'd' && !listLevel(root, entry.path, hidden, entries, error)) {
            return false;
        }
    }
    return true;
}

// Whether a refilled line may start with `word`: not when it begins with
// '%' (rpmbuild would read a directive) or '.' (a control file reserves
// " ." lines).
bool mayStartLine(const std::string &word) {
    return word[0] != '%' && word[0] != '.';
}

// One paragraph's words refilled into lines of `descriptionWidth`. A line
// that would start with a word that may not start one takes the words
// before it along; a line of one word keeps the next.
void refill(const std::vector<std::string> &words, std::vector<std::string> *lines) {
    std::vector<std::string> line;
    size_t width = 0;
    for (const std::string &word : words) {
        if (!line.empty() && width + 1 + word.size() > descriptionWidth) {
            size_t keep = line.size();
            std::string first = word;
            while (keep > 1 && !mayStartLine(first)) {
                first = line[--keep];
            }
            if (mayStartLine(first)) {
                std::string text;
                for (size_t i = 0; i < keep; i++) {
                    text += (i == 0 ? "" : " ") + line[i];
                }
                lines->push_back(text);
                line.erase(line.begin(), line.begin() + (long)keep);
                width = 0;
                for (const std::string &carried : line) {
                    width += (width == 0 ? 0 : 1) + carried.size();
                }
            }
        }
        width += (line.empty() ? 0 : 1) + word.size();
        line.push_back(word);
    }
    std::string text;
    for (const std::string &word : line) {
        text += (text.empty() ? "" : " ") + word;
    }
    if (!text.empty()) {
        lines->push_back(text);
    }
}

// The first line `command` prints, or "" when it fails. It runs without
// the user's own settings (HOME names no directory), as the builds do.
std::string firstLineOf(const std::vector<std::string> &command) {
    if (!commandExists(command[0])) {
        return "";
    }
    CommandResult result = runCommand(command, {"LC_ALL=C", "HOME=/nonexistent"});
    std::string line = result.output.substr(0, result.output.find('\n'));
    return succeeded(result) && !line.empty() && line.find(' ') == std::string::npos ? line
                                                                                      : "";
}

// uname's machine name.
std::string machineName() {
    struct utsname machine {};
    return uname(&machine) == 0 ? machine.machine : "unknown";
}

}  // namespace

std::string prefixPath(const PackRequest &request) {
    return request.installPrefix.substr(1);
}

bool preparePackageRoot(const PackRequest &request, const std::string &tree,
                        const std::string &root, std::string *error) {
    std::string usrShare = root + "/usr/share";
    return makeDirectories(root + request.installPrefix, error) &&
           makeDirectories(usrShare, error) &&
           copyMadeTree(tree, root + request.installPrefix, error) &&
           writeDesktopFiles(request, usrShare, request.installPrefix + "/bin", error);
}

bool listPackageRoot(const std::string &root, const std::string &hidden,
                     std::vector<PackageEntry> *entries, std::string *error) {
    entries->clear();
    if (chmod(root.c_str(), 0755) != 0) {
        *error = root + ": " + strerror(errno);
        return false;
    }
    return listLevel(root, "", hidden, entries, error);
}

std::vector<std::string> elfFiles(const std::vector<PackageEntry> &entries, bool sharedOnly) {
    std::vector<std::string> files;
    for (const PackageEntry &entry : entries) {
        if (entry.elf) {
            files.push_back(entry.path);
        }
    }
    if (sharedOnly) {
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [](const std::string &path) {
                                       std::string name = path.substr(path.rfind('/') + 1);
                                       return name.find(".so") == std::string::npos;
                                   }),
                    files.end());
    }
    return files;
}

std::vector<std::string> textLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line;
        for (char c : text.substr(start, end - start)) {
            if (c == '\t') {
                line.append(8 - line.size() % 8, ' ');
            } else if (c != '\r') {
                line += (unsigned char)c < 0x20 || c == 0x7f ? ' ' : c;
            }
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> descriptionLines(const std::string &text) {
    std::vector<std::string> lines;
    std::vector<std::string> words;
    for (const std::string &line : textLines(text)) {
        if (line.empty() || line[0] == ' ') {
            refill(words, &lines);
            words.clear();
        }
        if (line.empty()) {
            if (!lines.empty() && !lines.back().empty()) {
                lines.push_back("");
            }
        } else if (line[0] == ' ') {
            lines.push_back(line);
        } else {
            size_t at = 0;
            while (at < line.size()) {
                size_t stop = line.find(' ', at);
                if (stop == std::string::npos) {
                    stop = line.size();
                }
                if (stop > at) {
                    words.push_back(line.substr(at, stop - at));
                }
                at = stop + 1;
            }
        }
    }
    refill(words, &lines);
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

void appendRelations(std::vector<std::string> *out, const std::string &list) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        std::string entry = list.substr(start, end - start);
        size_t first = entry.find_first_not_of(" \t\n");
        size_t last = entry.find_last_not_of(" \t\n");
        entry = first == std::string::npos ? "" : entry.substr(first, last - first + 1);
        if (!entry.empty() && std::find(out->begin(), out->end(), entry) == out->end()) {
            out->push_back(entry);
        }
        start = end + 1;
    }
}

std::string mailDate(int64_t epoch) {
    time_t when = (time_t)epoch;
    struct tm utc {};
    char text[64] = "";
    if (gmtime_r(&when, &utc) != nullptr) {
        static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        (void)snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000",
                       days[utc.tm_wday], utc.tm_mday, months[utc.tm_mon], utc.tm_year + 1900,
                       utc.tm_hour, utc.tm_min, utc.tm_sec);
    }
    return text;
}

std::string changelogDay(int64_t epoch) {
    std::string date = mailDate(epoch);
    return date.size() < 16 ? date
                            : date.substr(0, 3) + " " + date.substr(8, 3) + " " +
                                  date.substr(5, 2) + " " + date.substr(12, 4);
}

std::string debianArchitecture() {
    static const std::string architecture = [] {
        std::string named = firstLineOf({"dpkg", "--print-architecture"});
        if (!named.empty()) {
            return named;
        }
        std::string machine = machineName();
        return machine == "x86_64" ? std::string("amd64")
               : machine == "aarch64" ? std::string("arm64")
                                      : machine;
    }();
    return architecture;
}

std::string rpmArchitecture() {
    static const std::string architecture = [] {
        std::string named = firstLineOf({"rpm", "--eval", "%{_target_cpu}"});
        return named.empty() || named[0] == '%' ? machineName() : named;
    }();
    return architecture;
}
