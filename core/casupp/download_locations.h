// Download locations of the protection product's build and build availability.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint32_t kDownloadUrlBufferSize = 2084;

bool GetUrlsforAVDownload(char* url1, char* url2, uint32_t size);
// kind 1: minor-upgrade locations; kind 2: unified-agent build locations.
bool GetBuildLocations(uint32_t kind, char* url1, char* url2, uint32_t size);
bool IsBuildAvailable(uint32_t* buildKind);
bool GetServerUrlFromDat(std::string* serverUrl, std::string* port);
