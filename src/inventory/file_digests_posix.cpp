#include <sys/stat.h>

#include "inventory/file_digests.h"

namespace marvik {

FileStamp fileStamp(const std::string& path) {
    FileStamp stamp;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
    stamp.known = true;
    stamp.volume = static_cast<std::uint64_t>(st.st_dev);
    stamp.index = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.writeTime = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                      static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
    return stamp;
}

}  // namespace marvik
