#include "platform/install_folder.h"

namespace trv {

std::string InstallFolderFrom(const std::string& programFiles) {
    std::string folder = programFiles.empty() ? std::string("C:\\Program Files") : programFiles;
    for (char& c : folder) {
        if (c == '/') c = '\\';
    }
    return folder + "\\TARVOSK\\";
}

}  // namespace trv
