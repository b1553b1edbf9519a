#pragma once

#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Product {

// The command line of quil-product: install, uninstall, serve, ctl, status and check-state.
class CProductApplication {
public:
    // The process's exit status.
    int Run(const std::vector<std::string>& arguments);

    // <object root>/quil-product.sock
    static std::string DefaultControlPath();

private:
    int Install(const std::vector<std::string>& options);
    int Uninstall(const std::vector<std::string>& options);
    int Serve(const std::vector<std::string>& options);
    int Control(const std::vector<std::string>& options);
    int Status(const std::vector<std::string>& options);
    int CheckState(const std::vector<std::string>& options);
    // The problem and the usage of the command it is about (a hint to --help when none).
    int Usage(const std::string& problem, const std::string& command = std::string());
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
