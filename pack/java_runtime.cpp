#include "java_runtime.h"

std::string checkJavaRequest(const PackRequest &request) {
    return request.javaRuntime == JavaRuntime::bundled ? "--java-runtime bundled: not yet" : "";
}

bool bundleJavaRuntime(const PackRequest &, const std::string &, bool *archived,
                       std::string *error) {
    *archived = false;
    *error = "bundled Java runtime: not yet";
    return false;
}

std::string javaDebianDepends(const PackRequest &) {
    return "";
}

std::string javaRpmRequires(const PackRequest &) {
    return "";
}
