#include "python_files.h"

std::string checkPythonRequest(const PackRequest &) {
    return "";
}

bool preparePythonFiles(const PackRequest &, const std::string &, std::string *) {
    return true;
}

std::string pythonDebianDepends(const PackRequest &) {
    return "";
}

std::string pythonRpmRequires(const PackRequest &) {
    return "";
}
