// The app-image: the relocatable tree, runnable from wherever it is
// unpacked (the launcher then finds lib/libapplauncher.so beside its bin/),
// and a reproducible .tar.gz of it.
#ifndef PACK_APP_IMAGE_H
#define PACK_APP_IMAGE_H

#include <string>

#include "pack_request.h"

// The tree's directory name, <name>-<version>, and the archive's,
// <name>-<version>-<machine>.tar.gz.
std::string appImageName(const PackRequest &request);
std::string appImageArchiveName(const PackRequest &request);

// Packs the directory `treeName` inside `parent` into the gzip-compressed
// tar file `output`: entries sorted by name, owned by 0:0, every time the
// SOURCE_DATE_EPOCH, no other metadata, so that the same tree gives the
// same bytes. False with the reason.
bool buildAppImageArchive(const PackRequest &request, const std::string &parent,
                          const std::string &treeName, const std::string &output,
                          std::string *error);

#endif
