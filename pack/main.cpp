// applauncher-pack: turns a Java or Python application into a relocatable
// tree and .tar.gz (app-image), a .deb or an .rpm whose programs are the
// applauncher launcher, with its runtime and, when asked, on the desktop.
// Every output is made in a work directory beside the outputs and moved
// into place only when all of them are whole. For a CMake project it makes
// instead what applauncher_add_application() installs (--cmake-parts), or
// byte-compiles an installed tree's Python files (--compile-python): see
// cmake_parts.h.
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app_image.h"
#include "cmake_parts.h"
#include "desktop_files.h"
#include "installed_files.h"
#include "java_runtime.h"
#include "options.h"
#include "pack_files.h"
#include "python_files.h"
#include "request_check.h"
#include "stage_tree.h"
#include "system_packages.h"

namespace {

// One output: made at `made` in the work directory, then moved to `final`.
struct Output {
    std::string made;
    std::string final;
};

// Says what is wrong and returns `status`.
int fail(const std::string &problem, int status) {
    (void)fprintf(stderr, "applauncher-pack: %s\n", problem.c_str());
    return status;
}

// The checks of every part before anything is made; "" or the problem.
std::string checkEverything(PackRequest &request) {
    std::string problem = checkRequest(request);
    if (problem.empty()) {
        problem = request.runtime == RuntimeKind::java ? checkJavaRequest(request)
                                                       : checkPythonRequest(request);
    }
    if (problem.empty()) {
        problem = checkDesktopRequest(request);
    }
    auto wants = [&request](const char *type) {
        return std::find(request.types.begin(), request.types.end(), type) != request.types.end();
    };
    if (problem.empty() && wants("deb")) {
        problem = checkDebTools();
    }
    if (problem.empty() && wants("rpm")) {
        problem = checkRpmTools();
    }
    if (problem.empty() && !isDirectory(request.destination)) {
        problem = "--dest " + request.destination + " is not a directory";
    }
    return problem;
}

// Makes every output in `work`; false with the reason.
bool makeOutputs(const PackRequest &request, const InstalledFiles &files,
                 const std::string &work, std::vector<Output> *outputs, std::string *error) {
    std::string stage = work + "/stage";
    std::string treeName = appImageName(request);
    std::string tree = stage + "/" + treeName;
    std::string destination = absolutePath(request.destination);
    if (!stageTree(request, files, tree, error)) {
        return false;
    }
    for (const std::string &type : request.types) {
        if (packInterrupted() != 0) {
            *error = "interrupted";
            return false;
        }
        Output output;
        bool made = false;
        if (type == "app-image") {
            output = {work + "/" + appImageArchiveName(request),
                      destination + "/" + appImageArchiveName(request)};
            made = buildAppImageArchive(request, stage, treeName, output.made, error);
        } else if (type == "deb") {
            output = {work + "/" + debFileName(request), destination + "/" + debFileName(request)};
            made = buildDeb(request, tree, work + "/deb", output.made, error);
        } else {
            output = {work + "/" + rpmFileName(request), destination + "/" + rpmFileName(request)};
            made = buildRpm(request, tree, work + "/rpm", output.made, error);
        }
        if (!made) {
            return false;
        }
        outputs->push_back(output);
    }
    if (std::find(request.types.begin(), request.types.end(), "app-image") !=
        request.types.end()) {
        outputs->push_back({tree, destination + "/" + treeName});
    }
    if (packInterrupted() != 0) {
        *error = "interrupted";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
        (void)fputs(packUsage, stdout);
        return fflush(stdout) == 0 ? 0 : 1;
    }
    if (!line.error.empty() && !line.request.cmakeParts.empty()) {
        (void)fprintf(stderr, "%s%s\n", cmakeProblemPrefix, cmakeKeywords(line.error).c_str());
        return 2;
    }
    if (!line.error.empty()) {
        (void)fprintf(stderr, "applauncher-pack: %s\n%s", line.error.c_str(), packUsage);
        return 2;
    }
    PackRequest &request = line.request;
    if (!request.compilePython.empty()) {
        return runCompilePython(request);
    }
    if (!request.cmakeParts.empty()) {
        return runCMakeParts(request);
    }
    std::string problem = checkEverything(request);
    if (!problem.empty()) {
        return fail(problem, 1);
    }
    InstalledFiles files;
    if (!findInstalledFiles(&files, &problem)) {
        return fail(problem, 1);
    }
    catchInterruptions();
    std::string work = makeWorkDirectory(request.destination, &problem);
    if (work.empty()) {
        return fail(problem, 1);
    }
    std::vector<Output> outputs;
    bool made = makeOutputs(request, files, work, &outputs, &problem);
    for (size_t i = 0; made && i < outputs.size(); i++) {
        made = publishOutput(outputs[i].made, outputs[i].final, &problem);
        if (made) {
            (void)printf("made %s\n", outputs[i].final.c_str());
        }
    }
    removeTree(work);
    int sig = packInterrupted();
    if (sig != 0) {
        (void)fprintf(stderr, "applauncher-pack: interrupted; earlier outputs are as they were\n");
        (void)signal(sig, SIG_DFL);
        (void)raise(sig);
    }
    if (!made) {
        return fail(problem, 1);
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
