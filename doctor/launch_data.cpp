#include "launch_data.h"

#include <errno.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "doctor_log.h"
#include "record_handoff.h"

LaunchData launchDataOf(const KivlLauncherData *record, int32_t size) {
    LaunchData data;
    data.size = size;
    data.runtime = record->runtimeLibPath;
    for (int32_t i = 0; i < record->argCount; i++) {
        data.args.emplace_back(record->args[i]);
    }
    for (int32_t i = 0; i < record->envCount; i++) {
        data.env.emplace_back(record->envNames[i], record->envValues[i]);
    }
    return data;
}

bool sameLaunchData(const LaunchData &a, const LaunchData &b) {
    return a.runtime == b.runtime && a.args == b.args && a.env == b.env;
}

void addLaunchDataDetail(Step &step, const LaunchData &data) {
    step.detail.push_back("runtime library: [" + data.runtime + "]");
    for (size_t i = 0; i < data.args.size(); i++) {
        step.detail.push_back("arg[" + std::to_string(i) + "]: [" + data.args[i] + "]");
    }
    for (size_t i = 0; i < data.env.size(); i++) {
        step.detail.push_back("env[" + std::to_string(i) + "]: " + data.env[i].first + "=[" +
                              data.env[i].second + "]");
    }
}

// The frame's bytes behind a descriptor, for receiveBlock to read as it
// reads the launcher's pipe; -1 with errno set when none can be made.
static int frameDescriptor(const std::string &frame) {
    int fd = memfd_create("applauncher-doctor-frame", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (writeFully(fd, frame.data(), frame.size()) != (int64_t)frame.size() ||
        lseek(fd, 0, SEEK_SET) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

KivlLauncherData *receiveFrame(const std::string &frame, int32_t *size, std::string *why,
                               bool *rejected) {
    *rejected = false;
    (void)takeParentLog();
    int fd = frameDescriptor(frame);
    if (fd < 0) {
        *why = std::string("cannot hold the frame: ") + strerror(errno);
        return nullptr;
    }
    uint64_t childAddress = 0;
    unsigned char *block = receiveBlock(fd, size, &childAddress);
    close(fd);
    KivlLauncherData *record = nullptr;
    if (block != nullptr) {
        record = acceptRecord(block, *size, childAddress);
        *rejected = record == nullptr;
    }
    std::vector<std::string> lines = takeParentLog();
    *why = lines.empty() ? "" : lines.back();
    return record;
}
