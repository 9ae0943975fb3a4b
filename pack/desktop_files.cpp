#include "desktop_files.h"

std::string checkDesktopRequest(const PackRequest &) {
    return "";
}

bool writeDesktopFiles(const PackRequest &, const std::string &, const std::string &,
                       std::string *) {
    return true;
}
