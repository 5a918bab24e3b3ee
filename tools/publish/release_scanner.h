#pragma once

#include <functional>
#include <string>

#include "publish/exclusion_rules.h"
#include "publish/release_tree.h"

// Receives a line for the publisher (a skipped entry, a change); publishing thread.
using PublishLog = std::function<void(const std::string&)>;

// Walks the release below appDir. Symbolic links to files are followed (the file's content is
// published under the link's name); links to folders, dangling links and special files are
// skipped with a warning, since the client can only recreate plain files and folders. An
// unreadable folder fails the scan: a release with holes would install a broken application.
ReleaseTree ScanRelease(const std::string& appDir, const ExclusionRules& rules,
                        const PublishLog& warn);
