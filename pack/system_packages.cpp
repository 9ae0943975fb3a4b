#include "system_packages.h"

std::string debFileName(const PackRequest &request) {
    return request.name + "_" + request.version + "-" + request.release + "_amd64.deb";
}

std::string rpmFileName(const PackRequest &request) {
    return request.name + "-" + request.version + "-" + request.release + ".x86_64.rpm";
}

std::string checkDebTools() {
    return "deb: not yet";
}

std::string checkRpmTools() {
    return "rpm: not yet";
}

bool buildDeb(const PackRequest &, const std::string &, const std::string &, const std::string &,
              std::string *error) {
    *error = "deb: not yet";
    return false;
}

bool buildRpm(const PackRequest &, const std::string &, const std::string &, const std::string &,
              std::string *error) {
    *error = "rpm: not yet";
    return false;
}
