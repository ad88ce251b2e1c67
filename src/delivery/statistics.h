#pragma once
// Pieces of the crash statistics request that need no system: the URL
// choice and its query.
#include <string>

extern const char kBuiltinStatisticsUrl[];
extern const char kBuiltinStatisticsHttpsUrl[];

// The built-in URL for the scheme, replaced by configured when that is not
// empty, then the fixed query with the client version (ANSI).
std::string ComposeStatisticsUrl(bool https, const std::string& configured, const std::string& clientVersion);
