#pragma once
// HTTP fetch (module modAutoUpdateV1_Download). Windows only. Neither raises nor
// shows anything: failure is in the result.
#include <cstdint>
#include <string>

namespace tindra {

// The first bytes (at most 20) of the resource's body, decoded from the ANSI code
// page; the empty text on any failure. The HTTP status is not examined.
std::u16string ReadUrlText(const std::u16string& url);

// Stores the resource at localPath: -1 only after a complete transfer with a 2xx
// status, which then replaces localPath in one step; 0 otherwise, with localPath
// left exactly as it was.
int16_t DownloadToFile(const std::u16string& url, const std::u16string& localPath);

}  // namespace tindra
