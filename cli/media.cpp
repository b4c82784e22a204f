// Loading midifolio-media.so: beside the tool in its build folder, or in the library folder's
// midifolio/ once installed (MIDIFOLIO_MEDIA_DIR, relative to the tool's own folder).
#include "media.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>

#include "common.h"

namespace mfcli {

namespace {

constexpr const char* kModule = "midifolio-media.so";

// The folder of the running tool, with its slash; empty when the system does not say.
std::string ToolFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

// The module's table, or nullptr with why in *why.
const MediaApi* Load(std::string* why) {
    const std::string folder = ToolFolder();
    if (folder.empty()) {
        // (Never a path relative to the working folder: a module found there could be anyone's.)
        *why = std::string("cannot find the audio and picture module ") + kModule +
               ": the system does not say where this program is";
        return nullptr;
    }
    std::string tried;
    for (const std::string& path :
         {folder + kModule, folder + MIDIFOLIO_MEDIA_DIR + "/" + kModule}) {
        if (access(path.c_str(), F_OK) != 0) {
            tried += (tried.empty() ? "" : ", ") + path;
            continue;
        }
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* error = dlerror();
            *why = "cannot load " + path + ": " + (error != nullptr ? error : "unknown reason");
            return nullptr;
        }
        // (Kept loaded for the life of the process.)
        auto entry = reinterpret_cast<const MediaApi* (*)()>(dlsym(module, "midifolio_media_api"));
        const MediaApi* api = entry != nullptr ? entry() : nullptr;
        if (api == nullptr || api->abi != kMediaAbi) {
            *why = path + " belongs to another build of midifolio";
            return nullptr;
        }
        return api;
    }
    *why = std::string("the audio and picture module ") + kModule + " is missing (looked for " +
           tried + "): install midifolio again";
    return nullptr;
}

}  // namespace

const MediaApi& Media() {
    static std::once_flag once;
    static const MediaApi* api = nullptr;
    static std::string why;
    std::call_once(once, [] { api = Load(&why); });
    if (api == nullptr) throw Failure(why);
    return *api;
}

}  // namespace mfcli
