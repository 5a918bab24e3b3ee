#pragma once

#include <map>
#include <string>

#include "publish/release_tree.h"

// The text of version.txt for a release whose files carry their lengths and versions: "head"
// with the date (and the retired paths' last versions, when there are any) and "paths" with one
// array per listed folder, written by the document library so that every name comes out quoted
// and escaped as the client's reader needs. Publishing thread.
std::string ManifestText(const ReleaseTree& release, const std::string& date,
                         const std::map<std::string, int>& retired);
