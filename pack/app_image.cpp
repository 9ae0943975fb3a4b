#include "app_image.h"

#include <sys/utsname.h>

#include "run_command.h"

std::string appImageName(const PackRequest &request) {
    return request.name + "-" + request.version;
}

std::string appImageArchiveName(const PackRequest &request) {
    struct utsname machine {};
    std::string arch = uname(&machine) == 0 ? machine.machine : "unknown";
    return appImageName(request) + "-" + arch + ".tar.gz";
}

bool buildAppImageArchive(const PackRequest &request, const std::string &parent,
                          const std::string &treeName, const std::string &output,
                          std::string *error) {
    std::vector<std::string> tar = {
        "tar", "--create", "--file", output, "--directory", parent, "--sort=name",
        "--format=posix", "--pax-option=exthdr.name=%d/PaxHeaders/%f,delete=atime,delete=ctime",
        "--mtime=@" + std::to_string(request.sourceDateEpoch), "--owner=0", "--group=0",
        "--numeric-owner", "--mode=go-w", "--use-compress-program=gzip -9n", treeName};
    CommandResult result = runCommand(tar, {"GZIP="});
    if (!succeeded(result)) {
        *error = "cannot pack the app-image: " + describeFailure(tar, result);
        return false;
    }
    return true;
}
