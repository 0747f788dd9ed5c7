#include "support/full_disk.h"

#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>

#include "support/child_process.h"

namespace korvel::test {

FullDisk::FullDisk(std::uint64_t bytes) : root_(dir_.path() / "disk"), bytes_(bytes) {
    std::error_code ec;
    std::filesystem::create_directories(root_, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = mount("tmpfs", root_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

FullDisk::~FullDisk() {
    if (mounted_) umount2(root_.c_str(), MNT_DETACH);
}

int FullDisk::Run(const std::function<int()>& body) const {
    const ChildOutcome outcome = WaitForChild(StartChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending the child
        if (!mounted_) {
            const rlimit limit{bytes_, bytes_};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        return body();
    }));
    return outcome.exited ? outcome.exitCode : -1;
}

}  // namespace korvel::test
