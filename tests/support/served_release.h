#pragma once

#include <map>
#include <string>

#include "support/loopback_http_server.h"

// Lays out a release below root as an update server holds it, each file at its relative path plus
// ".txt" and the manifest as version.txt, and has server serve root at urlPrefix. Test thread.
void ServeRelease(LoopbackHttpServer& server, const std::string& urlPrefix, const std::string& root,
                  const std::map<std::string, std::string>& files, const std::string& manifest);
